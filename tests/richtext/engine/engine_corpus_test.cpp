// The engine over real documents: every rich-text item of the corpus walks
// under several definitions without error, every target keeps to its element,
// and a write call that finds no target gives the item back byte for byte.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine_fixture.h"
#include "richtext/item/cdlayout.h"
#include "support/testutil.h"

namespace enginetest {
namespace {

namespace fs = std::filesystem;

// Every composite raw item of the corpus (canonical records).
std::vector<Bytes> CorpusItems(const fs::path& root) {
  std::vector<Bytes> items;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    for (const char* open : {"<rawitemdata type='1'>", "<rawitemdata type=\"1\">"}) {
      size_t pos = 0;
      while ((pos = text.find(open, pos)) != std::string::npos) {
        pos += std::strlen(open);
        size_t end = text.find("</rawitemdata>", pos);
        if (end == std::string::npos) break;
        Bytes data;
        if (kvtest::DecodeBase64(text.substr(pos, end - pos), &data) && !data.empty())
          items.push_back(std::move(data));
        pos = end;
      }
    }
  }
  return items;
}

// The pad byte after an odd-length record lies outside the record: the
// writer stores it as zero whatever it held.
Bytes WithZeroPads(Bytes data) {
  size_t pos = 0;
  while (pos < data.size()) {
    uint16_t sig;
    kv::cd::HeaderKind kind;
    uint32_t len = 0, header = 0;
    if (!kv::cd::ReadCanonicalHeader(data.data() + pos, data.size() - pos, &sig, &kind, &len,
                                     &header) ||
        len < header || len > data.size() - pos)
      break;
    pos += len;
    if (len % 2) {
      if (pos < data.size())
        data[pos] = 0;
      else
        data.push_back(0);
      ++pos;
    }
  }
  return data;
}

using EngineCorpus = EngineDoc;
using Range = std::pair<uint32_t, uint32_t>;

// The first occurrences of every target type keep to their elements: "Inside
// X n" lies within "X n" or does not exist, "Outside X n" does not meet it,
// and two occurrences are disjoint or nested. Returns the checks made.
size_t CheckContainment(TorvoRTChunk* ch, NnHandle itemNote) {
  auto ranges = [&](uint16_t rel, uint16_t type, uint32_t n) {
    FreeChunkDefinition(ch->internal->chain);
    // Rows and columns are those of a table; a column is a cell of each row.
    ch->internal->chain = type == ROW || type == COLUMN
                              ? Chain({Node(REL_CONTAINS, TABLE, {1}), Node(rel, type, {n})})
                              : Chain({Node(rel, type, {n})});
    EXPECT_EQ(ProcessChunkOperation(ch, itemNote, "Body", STEP_POSITIONS, 0, 0, 0, 0, nullptr,
                                    nullptr, 0, nullptr, nullptr),
              0);
    std::vector<Range> out;
    for (uint16_t i = 0; i < ch->internal->positionCount; ++i)
      out.push_back({ch->internal->positions[i].firstRecord, ch->internal->positions[i].lastRecord});
    return out;
  };
  const auto within = [](const Range& r, const Range& e) {
    return r.first >= e.first && r.second <= e.second;
  };
  size_t checks = 0;
  for (uint16_t type = 1; type < kTargetTypeCount; ++type) {
    std::vector<Range> seen;
    for (uint32_t n = 1; n <= 40; ++n) {
      const std::vector<Range> elements = ranges(REL_CONTAINS, type, n);
      if (elements.empty()) break;
      SCOPED_TRACE(std::to_string(type) + " " + std::to_string(n));
      for (const Range& r : ranges(REL_INSIDE, type, n))
        EXPECT_TRUE(std::any_of(elements.begin(), elements.end(),
                                [&](const Range& e) { return within(r, e); }))
            << r.first;
      for (const Range& r : ranges(REL_OUTSIDE, type, n))
        for (const Range& e : elements) EXPECT_TRUE(r.second < e.first || r.first > e.second);
      for (const Range& e : elements) {
        for (const Range& o : seen)
          EXPECT_TRUE(e.first > o.second || e.second < o.first || within(e, o)) << e.first;
        seen.push_back(e);
      }
      checks += 2 + elements.size();
    }
  }
  return checks;
}

TEST_F(EngineCorpus, ItemsWalkAndUntouchedWritesRoundTrip) {
  const std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const fs::path root = fs::path(corpus) / "dxl";
  const std::vector<Bytes> items = CorpusItems(root);
  ASSERT_FALSE(items.empty());
  const uint16_t types[] = {TABLE, SECTION, ROW, COLUMN, TEXT, PARAGRAPH, GRAPHIC, HOTSPOT,
                            NONBLANKTEXT, STYLIZEDTEXT, FIELD, LAYER, PARAGRAPHLIST, BUTTON};
  size_t walked = 0, checks = 0;
  for (size_t n = 0; n < items.size(); ++n) {
    SCOPED_TRACE("item " + std::to_string(n));
    NnHandle itemNote = 0;
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &itemNote), NN_OK);
    ASSERT_EQ(NnItemAppend(itemNote, 0, "Body", 4, NN_TYPE_COMPOSITE, items[n].data(),
                           uint32_t(items[n].size())),
              NN_OK);
    auto* it = new TorvoRTItem(session);
    ASSERT_EQ(it->ConnectBackend(db, itemNote, "Body"), NN_OK);
    if (it->LoadRecords() != 0) {  // a fragment the loader refuses is not walked
      delete it;
      NnNoteClose(itemNote);
      continue;
    }
    auto* ch = new TorvoRTChunk(session, it);
    for (uint16_t type : types) {
      for (uint16_t rel : {REL_CONTAINS, REL_INSIDE, REL_OUTSIDE, REL_AFTER, REL_BEFORE}) {
        FreeChunkDefinition(ch->internal->chain);
        ch->internal->chain = Chain({Node(REL_CONTAINS, TABLE), Node(rel, type, {2})});
        EXPECT_EQ(ProcessChunkOperation(ch, itemNote, "Body", STEP_POSITIONS, 0, 0, 0, 0, nullptr,
                                        "TEXT", 0, nullptr, nullptr),
                  0)
            << type << " " << rel;
        FreeChunkDefinition(ch->internal->chain);
        ch->internal->chain = Chain({Node(rel, type)});
        session->ClearResultText();
        EXPECT_EQ(ProcessChunkOperation(ch, itemNote, "Body", STEP_TEXT_GET, 0, 1, 0, 0, " ",
                                        nullptr, 0, nullptr, nullptr),
                  0);
      }
    }
    checks += CheckContainment(ch, itemNote);
    // A write on a target the item does not hold fails; one that changes no
    // record copies every record through the composition unchanged.
    FreeChunkDefinition(ch->internal->chain);
    ch->internal->chain = Chain({Node(REL_CONTAINS, TEXT, {1000000})});
    EXPECT_EQ(ProcessChunkOperation(ch, itemNote, "Body", STEP_TEXT_SET, 0, 1, 0, 0, "x", nullptr,
                                    0, nullptr, nullptr),
              NN_ERR_ITEM_NOT_FOUND);
    FreeChunkDefinition(ch->internal->chain);
    ch->internal->chain = nullptr;
    EXPECT_EQ(ProcessChunkOperation(ch, itemNote, "Body", 54, 0, 0, 0, 0, nullptr, nullptr, 0,
                                    nullptr, nullptr),
              0);
    Bytes stored;
    NnBlockId value;
    uint32_t len = 0;
    uint16_t type = 0;
    ASSERT_EQ(NnItemInfo(itemNote, "Body", 4, nullptr, &type, &value, &len), NN_OK);
    const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
    stored.assign(p + 2, p + len);
    NnBlockUnlock(value);
    Bytes original = WithZeroPads(items[n]);
    EXPECT_EQ(stored, original);
    ++walked;
    delete ch;
    delete it;
    NnNoteClose(itemNote);
  }
  EXPECT_GT(walked, 0u);
  RecordProperty("containment checks", int(checks));
}

}  // namespace
}  // namespace enginetest
