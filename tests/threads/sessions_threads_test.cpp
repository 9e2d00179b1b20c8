// Separate sessions side by side: every rich-text item of the corpus is
// rendered, edited (insert, append text and HTML, set text, remove, table
// changes and a sort) and link and wiki matched by each of eight threads, each
// thread with its own session and its own database handles, and then once
// more alone. Every step must give in the threads exactly what it gave alone.
// Built and run under ThreadSanitizer as well (KV_TSAN), where any report
// fails it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "richtext/chunk/navigation_fixture.h"
#include "rtitem.h"
#include "support/testutil.h"

#if defined(__SANITIZE_THREAD__)
// Any report fails the run. ICU is not built with ThreadSanitizer: its lazy
// set-up is guarded by atomics the tool cannot see, so its own copies of what
// one thread set up look like races with that thread.
extern "C" const char* __tsan_default_options() {
  return "halt_on_error=1:second_deadlock_stack=1";
}
extern "C" const char* __tsan_default_suppressions() {
  return "race:libicuuc.so\nrace:libicui18n.so\n";
}
#endif

namespace {

constexpr unsigned kThreads = 8;
constexpr const char* kKeysPath = "mem-threads-keys.nsf";

struct WorkItem {
  std::string file;
  NOTEID noteId;
  std::string name;
};

struct Outcome {
  std::vector<size_t> steps;  // a digest of each step's status and output
  bool matched = false;       // keywords found, links made and the wiki hotspot
};

// One item through every step, in the calling thread's session.
Outcome Exercise(LSXLsiSession* session, const WorkItem& work) {
  Outcome outcome;
  NnHandle db = 0, note = 0;
  if (NnDbOpen(work.file.c_str(), 0, &db) != NN_OK) return outcome;
  if (NnNoteOpen(db, work.noteId, 0, &note) != NN_OK) {
    NnDbClose(db);
    return outcome;
  }
  {
    TorvoRTItem item(session);
    const char* name = work.name.c_str();
    // The item's value as the note now holds it (the segments joined).
    auto Stored = [&] { return navtest::StoredItem(note, name); };
    if (item.ConnectBackend(db, note, name) == NN_OK) {
      auto step = [&](uint32_t status, const std::string& output) {
        outcome.steps.push_back(std::hash<std::string>{}(std::to_string(status) + ":" + output));
      };
      auto render = [&](TorvoRTChunk* chunk, bool xhtml, const char* options) {
        char* page = nullptr;
        uint32_t length = 0;
        const uint32_t status = xhtml ? chunk->GenerateXML(nullptr, options, &page, &length)
                                      : chunk->GenerateHTML(nullptr, options, &page, &length);
        step(status, page ? std::string(page, length) : "");
        if (page) PoolFree(session, page);
      };
      auto write = [&](const char* definition, auto call) {
        TorvoRTChunk* chunk = item.DefineChunk(definition);
        const uint32_t status = chunk ? call(chunk) : 0xFFFFu;
        step(status, Stored());
      };
      TorvoRTChunk* everything = item.DefineChunk("");
      render(everything, false, "");
      render(everything, true, "UsePTags=Yes");
      if (TorvoRTChunk* table = item.DefineChunk("Table 1"); table && table->Exists())
        render(table, false, "");

      write("Text 1", [](TorvoRTChunk* c) { return c->InsertText("inserted ", 9, "Verdana 12"); });
      write("", [](TorvoRTChunk* c) {
        const char* text = "((Alpha)) and ((Home Page)) and ((New Page|here))";
        return c->AppendText(text, uint16_t(std::strlen(text)), "Gill Sans +Bold");
      });
      write("", [](TorvoRTChunk* c) {
        return c->AppendHTML("IN", "<p>Some <b>bold</b> text</p><ul><li>x</li></ul>", nullptr);
      });
      write("", [](TorvoRTChunk* c) { return c->SetText("Text 2", "replaced", 0, nullptr); });
      write("Paragraph 3", [](TorvoRTChunk* c) { return c->Remove(); });
      write("Table 1", [](TorvoRTChunk* c) {
        const char* cells[kCellTextSlots] = {"b row", "2"};
        return c->AppendRow(0, 0, cells);
      });
      write("Table 1", [](TorvoRTChunk* c) { return c->ChangeTable("TableWidth=FIXED", 0); });
      write("Table 1", [](TorvoRTChunk* c) { return c->SortByRow(1, 1, 0, 1, ""); });
      // Each delimited text a run of its own: Alpha and Home Page become
      // document links, and New Page a hotspot composing that page.
      const char* const split = "WikiDelimiters=(())";
      const uint32_t status =
          item.DefineChunk("")->KeywordMatching("", kKeysPath, "Keys", "Subject", nullptr, split);
      const std::string keywords(session->ResultText, session->ResultTextLength);
      step(status, keywords);
      const size_t before = Stored().size();
      write("", [&](TorvoRTChunk* c) {
        return c->LinkMatching("", kKeysPath, "Keys", "Subject", nullptr, split, 2386);
      });
      const bool linked = Stored().size() > before;
      write("", [](TorvoRTChunk* c) {
        return c->WikiMatching("", kKeysPath, "Keys", "Subject", nullptr, nullptr);
      });
      outcome.matched = keywords == "Alpha,Home Page" && linked &&
                        Stored().find("WikiLink") != std::string::npos;
      render(item.DefineChunk(""), true, "");
    }
  }  // the item and its chunks go before the note
  NnNoteClose(note);
  NnDbClose(db);
  return outcome;
}

// The key database every session matches against: documents Alpha, Beta and
// Home Page in the view "Keys".
NnHandle MakeKeys() {
  NnHandle db = 0;
  if (NnDbOpen(kKeysPath, NN_DB_CREATE, &db) != NN_OK) return 0;
  auto add = [&](uint16_t noteClass, const char* name, const char* value) {
    NnHandle h = 0;
    if (NnNoteCreate(db, noteClass, &h) != NN_OK) return;
    NnItemSetText(h, name, value, uint16_t(std::strlen(value)));
    if (noteClass == NN_CLASS_VIEW) NnItemSetText(h, "$KeyColumn", "Subject", 7);
    NnNoteUpdate(h, 0);
    NnNoteClose(h);
  };
  for (const char* key : {"Alpha", "Beta", "Home Page"}) add(NN_CLASS_DOCUMENT, "Subject", key);
  add(NN_CLASS_VIEW, "$TITLE", "Keys");
  return db;
}

TEST(SessionsInThreads, EveryCorpusItemGivesWhatItGivesAlone) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::vector<WorkItem> items;
  for (const std::string& file : kvtest::FilesBelow(corpus + "/dxl")) {
    NnHandle db = 0;
    if (NnDbOpen(file.c_str(), 0, &db) != NN_OK) continue;
    for (const kvtest::RichTextItemRef& ref : kvtest::RichTextItems(db))
      items.push_back({file, ref.noteId, ref.name});
    NnDbClose(db);
  }
  ASSERT_FALSE(items.empty());
  const NnHandle keys = MakeKeys();
  ASSERT_NE(keys, 0u);
  // The program's locale is its own: no call may set it from the environment.
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  setenv("LC_ALL", "C.UTF-8", 1);

  // Each thread takes every item, from its own starting point on, so that the
  // threads meet on first use and then keep working on different items.
  using Outcomes = std::vector<Outcome>;
  std::vector<Outcomes> together(kThreads, Outcomes(items.size()));
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      LSXLsiSession session;
      for (size_t k = 0; k < items.size(); ++k) {
        const size_t i = (k + t * items.size() / kThreads) % items.size();
        together[t][i] = Exercise(&session, items[i]);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%u threads, %zu items each, %.1f s\n", kThreads, items.size(), seconds);

  Outcomes alone(items.size());
  {
    LSXLsiSession session;
    for (size_t i = 0; i < items.size(); ++i) alone[i] = Exercise(&session, items[i]);
  }
  size_t exercised = 0, matched = 0, differing = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    exercised += !alone[i].steps.empty();
    matched += alone[i].matched;
    for (unsigned t = 0; t < kThreads; ++t) {
      if (together[t][i].steps == alone[i].steps) continue;
      if (++differing <= 10)
        ADD_FAILURE() << "thread " << t << " differs on " << items[i].file << " note 0x"
                      << std::hex << items[i].noteId << " " << items[i].name;
    }
  }
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), locale);
  std::printf("%zu items exercised, %zu matched\n", exercised, matched);
  EXPECT_EQ(differing, 0u);
  // The steps did their work on most items (not every item takes text).
  EXPECT_GT(exercised, items.size() / 2);
  EXPECT_GT(matched, exercised / 2);
  NnDbClose(keys);
}

}  // namespace
