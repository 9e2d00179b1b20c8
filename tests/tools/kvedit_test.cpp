// kvedit info and records, on the bundled example and on the real documents.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <strings.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using kvtest::RunCommand;

std::string Example() { return std::string(KV_SOURCE_DIR) + "/examples/sample.dxl"; }

TEST(KveditUsage, BadCallsExitWithOne) {
  EXPECT_EQ(RunCommand({kvtest::KveditPath()}).exitCode, 1);
  EXPECT_EQ(RunCommand({kvtest::KveditPath(), "frobnicate"}).exitCode, 1);
  EXPECT_EQ(RunCommand({kvtest::KveditPath(), "info"}).exitCode, 1);
  EXPECT_EQ(RunCommand({kvtest::KveditPath(), "records", Example(), "--bogus"}).exitCode, 1);
  EXPECT_EQ(RunCommand({kvtest::KveditPath(), "records", Example(), "--note"}).exitCode, 1);
}

TEST(KveditUsage, InputErrorsExitWithTwoAndOneLine) {
  auto r = RunCommand({kvtest::KveditPath(), "info", "/nonexistent/file.dxl"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(kvtest::SplitLines(r.err).size(), 1u) << r.err;
  r = RunCommand({kvtest::KveditPath(), "records", Example(), "--note", "#99"});
  EXPECT_EQ(r.exitCode, 2);
  r = RunCommand({kvtest::KveditPath(), "records", Example(), "--item", "NoSuchItem"});
  EXPECT_EQ(r.exitCode, 2);
}

TEST(KveditInfo, ListsTheExampleNoteAndItems) {
  auto r = RunCommand({kvtest::KveditPath(), "info", Example()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = kvtest::SplitLines(r.out);
  ASSERT_GE(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], "note #1 id 0x8FA unid 5A1B2C3D4E5F60718293A4B5C6D7E8F9 class document");
  EXPECT_EQ(lines[1], "  Form text 4");
  EXPECT_EQ(lines[2], "  Subject text 17");
  EXPECT_EQ(lines[3].rfind("  $Fonts composite ", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("  Body composite ", 0), 0u) << lines[4];
}

TEST(KveditRecords, ExampleBodyRecordsInOrder) {
  auto r = RunCommand({kvtest::KveditPath(), "records", Example(), "--note", "#1", "--item", "body"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = kvtest::SplitLines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("note #1 unid 5A1B2C3D4E5F60718293A4B5C6D7E8F9 item Body segments 1 bytes ", 0), 0u)
      << lines[0];
  // Two paragraph definitions open the item; a paragraph with its reference follows.
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[1], "1 0xFF82 70");
  EXPECT_EQ(lines[2], "2 0xFF82 70");
  EXPECT_EQ(lines[3], "3 0x0081 2");
  EXPECT_EQ(lines[4], "4 0x0083 4");
  EXPECT_EQ(lines[5], "5 0xFF85 25");  // odd length kept as stored
  // The same note chosen by id and by universal id gives the same listing.
  auto byId = RunCommand({kvtest::KveditPath(), "records", Example(), "--note", "0x8fa", "--item", "Body"});
  auto byUnid = RunCommand({kvtest::KveditPath(), "records", Example(), "--note",
                     "5a1b2c3d4e5f60718293a4b5c6d7e8f9", "--item", "Body"});
  EXPECT_EQ(byId.out, r.out);
  EXPECT_EQ(byUnid.out, r.out);
}

// ---- An independent reading of the corpus: libxml2 and a walk of our own ----

std::vector<uint8_t> DecodeBase64(const std::string& text) {
  std::vector<uint8_t> out;
  kvtest::DecodeBase64(text, &out);
  return out;
}

struct Rec {
  unsigned sig, len;
};

// Returns false when a record runs past the segment.
bool Walk(const std::vector<uint8_t>& d, std::vector<Rec>* recs) {
  size_t i = 0;
  while (i + 2 <= d.size()) {
    unsigned sig, len;
    if (d[i + 1] == 0xFF) {
      if (i + 4 > d.size()) return false;
      sig = 0xFF00u | d[i];
      len = d[i + 2] | (d[i + 3] << 8);
    } else if (d[i + 1] == 0) {
      if (i + 6 > d.size()) return false;
      sig = d[i];
      len = d[i + 2] | (d[i + 3] << 8) | (d[i + 4] << 16) | (unsigned(d[i + 5]) << 24);
    } else {
      sig = d[i];
      len = d[i + 1];
    }
    if (len < 2 || i + len > d.size()) return false;
    recs->push_back({sig, len});
    i += len + (len & 1);
  }
  return i >= d.size();
}

struct ExpectedItem {
  int note;
  std::string name;
  std::vector<Rec> recs;
};

void CollectNotes(xmlNode* node, int* noteNumber, std::vector<ExpectedItem>* items) {
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    bool holdsItems = false;
    for (xmlNode* c = n->children; c; c = c->next)
      if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, BAD_CAST "item")) holdsItems = true;
    if (holdsItems) {
      ++*noteNumber;
      for (xmlNode* c = n->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE || !xmlStrEqual(c->name, BAD_CAST "item")) continue;
        xmlChar* nm = xmlGetProp(c, BAD_CAST "name");
        std::string name = nm ? reinterpret_cast<char*>(nm) : "";
        xmlFree(nm);
        for (xmlNode* v = c->children; v; v = v->next) {
          if (v->type != XML_ELEMENT_NODE || !xmlStrEqual(v->name, BAD_CAST "rawitemdata")) continue;
          xmlChar* type = xmlGetProp(v, BAD_CAST "type");
          bool composite = type && std::string(reinterpret_cast<char*>(type)) == "1";
          xmlFree(type);
          if (!composite) continue;
          xmlChar* content = xmlNodeGetContent(v);
          std::vector<uint8_t> data = DecodeBase64(reinterpret_cast<char*>(content));
          xmlFree(content);
          ExpectedItem* target = nullptr;
          for (auto& e : *items)
            if (e.note == *noteNumber && strcasecmp(e.name.c_str(), name.c_str()) == 0) target = &e;
          if (!target) {
            items->push_back({*noteNumber, name, {}});
            target = &items->back();
          }
          ASSERT_TRUE(Walk(data, &target->recs)) << name;
        }
      }
    } else {
      CollectNotes(n->children, noteNumber, items);
    }
  }
}

TEST(KveditCorpus, RecordsAgreeWithAnIndependentCount) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int filesWithRichText = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    SCOPED_TRACE(file);
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
    ASSERT_NE(doc, nullptr);
    std::vector<ExpectedItem> expected;
    int notes = 0;
    CollectNotes(xmlDocGetRootElement(doc), &notes, &expected);
    xmlFreeDoc(doc);

    auto r = RunCommand({kvtest::KveditPath(), "records", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Parse our listing back: headers and record lines.
    std::vector<ExpectedItem> got;
    for (const auto& line : kvtest::SplitLines(r.out)) {
      unsigned note;
      char name[512];
      size_t recordsOffset = line.find(" records ");
      if (line.rfind("note #", 0) == 0 && recordsOffset != std::string::npos) {
        ASSERT_EQ(std::sscanf(line.c_str(), "note #%u", &note), 1);
        size_t itemAt = line.find(" item ") + 6;
        size_t segAt = line.rfind(" segments ");
        std::string itemName = line.substr(itemAt, segAt - itemAt);
        ASSERT_LT(itemName.size(), sizeof name);
        got.push_back({int(note), itemName, {}});
        continue;
      }
      unsigned seq, sig, len;
      ASSERT_EQ(std::sscanf(line.c_str(), "%u 0x%x %u", &seq, &sig, &len), 3) << line;
      ASSERT_FALSE(got.empty());
      ASSERT_EQ(seq, got.back().recs.size() + 1);
      got.back().recs.push_back({sig, len});
    }
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].note, expected[i].note);
      EXPECT_EQ(got[i].name, expected[i].name);
      ASSERT_EQ(got[i].recs.size(), expected[i].recs.size()) << got[i].name;
      for (size_t k = 0; k < got[i].recs.size(); ++k) {
        EXPECT_EQ(got[i].recs[k].sig, expected[i].recs[k].sig);
        EXPECT_EQ(got[i].recs[k].len, expected[i].recs[k].len);
      }
    }
    if (!got.empty()) ++filesWithRichText;
  }
  EXPECT_GT(filesWithRichText, 0);
}

}  // namespace

namespace {

TEST(KveditRecords, HostLengthsFollowTheHostLayout) {
  auto stored = kvtest::RunCommand({kvtest::KveditPath(), "records", Example(), "--item", "Body"});
  auto host = kvtest::RunCommand({kvtest::KveditPath(), "records", Example(), "--item", "Body", "--host"});
  ASSERT_EQ(host.exitCode, 0) << host.err;
  auto s = kvtest::SplitLines(stored.out), h = kvtest::SplitLines(host.out);
  ASSERT_EQ(s.size(), h.size());
  EXPECT_EQ(h[1], "1 0xFF82 72") << "a paragraph definition grows by its tail padding";
  EXPECT_EQ(h[5], "5 0xFF85 25") << "a text record is the same in both layouts";
}

TEST(KveditRecords, RoundTripOfTheExampleIsIdentical) {
  auto r = kvtest::RunCommand({kvtest::KveditPath(), "records", Example(), "--roundtrip"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = kvtest::SplitLines(r.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "roundtrip $Fonts identical");
  EXPECT_EQ(lines.back(), "roundtrip Body identical");
}

TEST(KveditCorpus, EveryRichTextItemRoundTripsIdentically) {
  std::string corpus = kvtest::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  size_t items = 0;
  for (const auto& file : kvtest::FilesBelow(corpus + "/dxl")) {
    auto r = kvtest::RunCommand({kvtest::KveditPath(), "records", file, "--roundtrip"});
    EXPECT_EQ(r.exitCode, 0) << file << "\n" << r.err;
    for (const auto& line : kvtest::SplitLines(r.out)) {
      if (line.rfind("roundtrip ", 0) != 0) continue;
      ++items;
      EXPECT_EQ(line.substr(line.size() - 10), " identical") << file << ": " << line;
    }
  }
  EXPECT_GT(items, 0u);
}

}  // namespace
