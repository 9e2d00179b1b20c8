// Speed of link matching with many matches in one text run: a run holding
// the key N times ("((abc abc ... abc))") becomes N document links. The time
// must grow with N, not with N squared (12,000 matches well under 0.3 s in a
// Release build).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

void SetText(NnHandle note, const char* item, const std::string& value) {
  NnItemSetText(note, item, value.data(), uint16_t(value.size()));
}

// A database holding one key document ("abc") and the view "Keys" over it.
struct KeyDatabase {
  NnHandle db = 0;
  std::string path = "mem-linkmatch-bench.nsf";
  KeyDatabase() {
    NnDbOpen(path.c_str(), NN_DB_CREATE, &db);
    NnHandle note = 0;
    NnNoteCreate(db, NN_CLASS_DOCUMENT, &note);
    SetText(note, "Subject", "abc");
    NnNoteUpdate(note, 0);
    NnNoteClose(note);
    NnNoteCreate(db, NN_CLASS_VIEW, &note);
    SetText(note, "$TITLE", "Keys");
    SetText(note, "$KeyColumn", "Subject");
    NnNoteUpdate(note, 0);
    NnNoteClose(note);
  }
  ~KeyDatabase() { NnDbClose(db); }
};

// A note whose "Body" is one paragraph of one text run with `matches` keys.
NnHandle NoteWithMatches(NnHandle db, int64_t matches) {
  std::string text = "((";
  for (int64_t i = 0; i < matches; ++i) text += i ? " abc" : "abc";
  text += "))";
  std::vector<uint8_t> rec = {0x81, 2, 0x83, 4, 1, 0};
  const uint16_t length = uint16_t(8 + text.size());
  const uint8_t head[8] = {0x85, 0xFF, uint8_t(length), uint8_t(length >> 8), 1, 0, 0, 10};
  rec.insert(rec.end(), head, head + 8);
  rec.insert(rec.end(), text.begin(), text.end());
  if (rec.size() % 2) rec.push_back(0);
  NnHandle note = 0;
  NnNoteCreate(db, NN_CLASS_DOCUMENT, &note);
  NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, rec.data(), uint32_t(rec.size()));
  return note;
}

void BM_LinkMatchingOneRun(benchmark::State& state) {
  KeyDatabase keys;
  LSXLsiSession session;
  for (auto _ : state) {
    state.PauseTiming();
    NnHandle note = NoteWithMatches(keys.db, state.range(0));
    auto* item = new TorvoRTItem(&session);
    item->ConnectBackend(keys.db, note, "Body");
    TorvoRTChunk* chunk = item->DefineChunk("Everything");
    state.ResumeTiming();
    const uint16_t st =
        chunk->LinkMatching("", keys.path.c_str(), "Keys", "Subject", "", "", 0);
    state.PauseTiming();
    if (st != 0) state.SkipWithError("link matching failed");
    delete chunk;
    delete item;
    NnNoteClose(note);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LinkMatchingOneRun)->Arg(1000)->Arg(4000)->Arg(12000)->Unit(benchmark::kMillisecond);

}  // namespace
