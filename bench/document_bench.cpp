// Speed on generated documents of 1,000 to 64,000 paragraphs: reading the DXL
// file, loading the item's records, rendering the item as a page, stepping
// through every paragraph as a script does, and counting them. Each benchmark
// runs alone (--benchmark_filter=BM_Render/16000) for profiling.
//
// The documents are not part of the repository. Write them with the perf
// generator into the cache folder first, for example
//   for n in 1000 2000 4000 8000 16000 32000 64000; do python3 ../shared/perf/gen.py
//     --paras $n --tables $((n / 50)) --seed 1 --out ~/.cache/kv-perf/p$n; done
// (one command line)
// (KV_PERF_DIR names another folder). A benchmark whose document is missing
// is skipped.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

std::string DocumentPath(int64_t paragraphs) {
  std::string dir;
  if (const char* d = std::getenv("KV_PERF_DIR"); d && *d) {
    dir = d;
  } else if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x) {
    dir = std::string(x) + "/kv-perf";
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    dir = std::string(h) + "/.cache/kv-perf";
  }
  std::string path = dir + "/p" + std::to_string(paragraphs) + "/doc.dxl";
  struct stat st {};
  return !dir.empty() && ::stat(path.c_str(), &st) == 0 ? path : std::string();
}

bool Skip(benchmark::State& state, const std::string& path) {
  if (!path.empty()) return false;
  state.SkipWithError("document not generated (see bench/document_bench.cpp)");
  return true;
}

// The generated document's rich-text item, open for the run.
class Document {
 public:
  explicit Document(const std::string& path) {
    if (NnDbOpen(path.c_str(), 0, &db_) != NN_OK) return;
    NOTEID id = 0;
    if (NnDbNoteIdAt(db_, 0, &id) != NN_OK || NnNoteOpen(db_, id, 0, &note_) != NN_OK) return;
    ok_ = session_.IsValid();
  }
  ~Document() {
    if (note_) NnNoteClose(note_);
    if (db_) NnDbClose(db_);
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  bool ok() const { return ok_; }
  LSXLsiSession* session() { return &session_; }
  // A new item over the note; the session deletes it with its chunks.
  TorvoRTItem* Item() {
    auto* item = new TorvoRTItem(&session_);
    if (item->ConnectBackend(db_, note_, "Body") != NN_OK) return nullptr;
    return item;
  }
  NnHandle note() const { return note_; }

 private:
  NnHandle db_ = 0, note_ = 0;
  LSXLsiSession session_;
  bool ok_ = false;
};

// The document of the benchmark's size, open; null (the benchmark skipped)
// when it is missing or does not open.
std::unique_ptr<Document> Open(benchmark::State& state) {
  const std::string path = DocumentPath(state.range(0));
  if (Skip(state, path)) return nullptr;
  auto doc = std::make_unique<Document>(path);
  if (doc->ok()) return doc;
  state.SkipWithError("the document does not open");
  return nullptr;
}

// A new item over the document with its records loaded; null (the benchmark
// skipped) when they do not load.
TorvoRTItem* LoadedItem(benchmark::State& state, Document* doc) {
  TorvoRTItem* item = doc->Item();
  if (item && item->LoadRecords() == NN_OK) return item;
  state.SkipWithError("no item");
  return nullptr;
}

void Report(benchmark::State& state, Document* doc) {
  const PoolStats stats = PoolGetStats(doc->session()->pool);
  state.counters["pool_peak_MiB"] = double(stats.peakBytes) / (1024.0 * 1024.0);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["maxrss_MiB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["paragraphs"] = double(state.range(0));
}

void BM_DxlLoad(benchmark::State& state) {
  const std::string path = DocumentPath(state.range(0));
  if (Skip(state, path)) return;
  for (auto _ : state) {
    NnHandle db = 0;
    if (NnDbOpen(path.c_str(), 0, &db) != NN_OK) {
      state.SkipWithError("the document does not load");
      return;
    }
    NnDbClose(db);
  }
}

void BM_Load(benchmark::State& state) {
  std::unique_ptr<Document> doc = Open(state);
  if (!doc) return;
  for (auto _ : state) {
    RecordList* list = RecordListLoadFromNote(doc->session(), doc->note(), "Body", nullptr);
    benchmark::DoNotOptimize(list);
    RecordListFreeWithAllocator(doc->session(), list);
  }
  Report(state, doc.get());
}

void BM_Render(benchmark::State& state) {
  std::unique_ptr<Document> doc = Open(state);
  if (!doc) return;
  TorvoRTItem* item = doc->Item();
  TorvoRTChunk* everything = item ? item->DefineChunk(nullptr) : nullptr;
  if (!everything) return state.SkipWithError("no chunk");
  size_t bytes = 0;
  for (auto _ : state) {
    char* page = nullptr;
    uint32_t length = 0;
    if (everything->GenerateHTML(nullptr, "", &page, &length) != NN_OK || !page)
      return state.SkipWithError("the render failed");
    bytes += length;
    PoolFree(doc->session(), page);
  }
  state.SetBytesProcessed(int64_t(bytes));
  Report(state, doc.get());
}

// As a script: "While chunk.Exists ... GetNextTarget", the range of each
// paragraph asked on the way.
void BM_NextTarget(benchmark::State& state) {
  std::unique_ptr<Document> doc = Open(state);
  TorvoRTItem* item = doc ? LoadedItem(state, doc.get()) : nullptr;
  if (!item) return;
  SessionGlobals* g = doc->session()->globals;
  int64_t steps = 0;
  for (auto _ : state) {
    TorvoRTChunk* chunk = item->DefineChunk("Paragraph 1");
    if (!chunk) return state.SkipWithError("no chunk");
    if (chunk->Exists()) {
      do {
        g->FirstMatchRecord = g->LastMatchRecord = 0;
        chunk->RunFrame(STEP_LOCATE, PROP_FIND, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ++steps;
      } while (chunk->GetNextTarget());
    }
    delete chunk;
  }
  state.SetItemsProcessed(steps);
  Report(state, doc.get());
}

void BM_Count(benchmark::State& state) {
  std::unique_ptr<Document> doc = Open(state);
  TorvoRTItem* item = doc ? LoadedItem(state, doc.get()) : nullptr;
  if (!item) return;
  TorvoRTChunk* everything = item->DefineChunk(nullptr);
  long count = 0;
  for (auto _ : state) {
    count = everything->GetCount("Paragraph");
    benchmark::DoNotOptimize(count);
  }
  state.counters["count"] = double(count);
  Report(state, doc.get());
}

#define KV_DOCUMENT_SIZES \
  Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Arg(16000)->Arg(32000)->Arg(64000)->Unit( \
      benchmark::kMillisecond)
BENCHMARK(BM_DxlLoad)->KV_DOCUMENT_SIZES;
BENCHMARK(BM_Load)->KV_DOCUMENT_SIZES;
BENCHMARK(BM_Render)->KV_DOCUMENT_SIZES;
BENCHMARK(BM_NextTarget)->KV_DOCUMENT_SIZES;
BENCHMARK(BM_Count)->KV_DOCUMENT_SIZES;

}  // namespace
