// Speed of the record layer on a large item: loading into host layout,
// writing back to stored segments, and composing text records.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/item/compose.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace {

// A rich-text item of `paragraphs` paragraphs, each a reference and a text run,
// stored in segments of about 40,000 bytes.
struct LargeItem {
  NnHandle db = 0, note = 0;
  explicit LargeItem(int paragraphs) {
    NnDbOpen("mem-bench.nsf", NN_DB_CREATE, &db);
    NnNoteCreate(db, NN_CLASS_DOCUMENT, &note);
    std::vector<uint8_t> seg;
    std::string text(120, 'x');
    for (int i = 0; i < paragraphs; ++i) {
      uint8_t para[6] = {0x81, 2, 0x83, 4, 1, 0};
      seg.insert(seg.end(), para, para + 6);
      uint16_t len = uint16_t(8 + text.size());
      uint8_t head[8] = {0x85, 0xFF, uint8_t(len), uint8_t(len >> 8), 1, 0, 0, 10};
      seg.insert(seg.end(), head, head + 8);
      seg.insert(seg.end(), text.begin(), text.end());
      if (seg.size() > 40000) {
        NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, seg.data(), uint32_t(seg.size()));
        seg.clear();
      }
    }
    if (!seg.empty())
      NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, seg.data(), uint32_t(seg.size()));
  }
  ~LargeItem() {
    NnNoteClose(note);
    NnDbClose(db);
  }
};

void BM_RecordListLoad(benchmark::State& state) {
  LargeItem item(int(state.range(0)));
  LSXLsiSession session;
  for (auto _ : state) {
    RecordList* list = RecordListLoadFromNote(&session, item.note, "Body", nullptr);
    benchmark::DoNotOptimize(list);
    RecordListFreeWithAllocator(&session, list);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 3);
}
BENCHMARK(BM_RecordListLoad)->Arg(1000)->Arg(20000);

void BM_RecordListToSegments(benchmark::State& state) {
  LargeItem item(int(state.range(0)));
  LSXLsiSession session;
  RecordList* list = RecordListLoadFromNote(&session, item.note, "Body", nullptr);
  for (auto _ : state) {
    std::vector<std::vector<uint8_t>> segments;
    benchmark::DoNotOptimize(RecordListToSegments(list, &segments));
  }
  RecordListFreeWithAllocator(&session, list);
  state.SetItemsProcessed(state.iterations() * state.range(0) * 3);
}
BENCHMARK(BM_RecordListToSegments)->Arg(1000)->Arg(20000);

void BM_ComposeText(benchmark::State& state) {
  LSXLsiSession session;
  TorvoRTItem item(&session);
  const std::string text(200, 'y');
  for (auto _ : state) {
    ComposeContext ctx;
    ComposeInit(&ctx, &session, &item);
    for (int i = 0; i < state.range(0); ++i)
      EmitTextRecord(text.data(), uint32_t(text.size()), nullptr, &ctx);
    ComposeReleaseHandles(&ctx, 0);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ComposeText)->Arg(10000);

}  // namespace
