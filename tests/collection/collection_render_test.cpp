// A render run for a collection raises the collection's events: the link
// event for URLs and the names event for exported attachments; without a
// collection the chunk's own events answer.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "richtext/compose/compose_support.h"

namespace {

struct Heard {
  int links = 0, names = 0;
  std::string url, kind, path;
};
Heard* g_heard = nullptr;

int CollectionLink(TorvoCollection* c, const char*, void*, uint16_t kind, const char* url,
                   uint32_t, void*, void*, void*) {
  ++g_heard->links;
  g_heard->url = url ? url : "";
  if (kind == 2) c->SetAnswer("https://answered.example/page");
  return 0;
}

int CollectionNames(TorvoCollection* c, const char* kind, const char* path, const char*) {
  ++g_heard->names;
  g_heard->kind = kind ? kind : "";
  g_heard->path = path ? path : "";
  const std::string answered = std::string(static_cast<const char*>(c->userData)) + "/renamed.txt";
  c->SetExportNames(answered.c_str(), "files/renamed.txt");
  return 0;
}

int ChunkLink(TorvoRTChunk* chunk, uint16_t, const char*, uint32_t, const tagTIMEDATE*,
              const UNIVERSALNOTEID_tag*, const UNIVERSALNOTEID_tag*, const char*, uint32_t,
              const char*, uint32_t, const char*, uint32_t) {
  ++g_heard->links;
  chunk->SetEventRetString(1, "https://chunk.example/", 22);
  return 0;
}

class CollectionRender : public composetest::ComposeDoc {
 protected:
  void SetUp() override {
    ComposeDoc::SetUp();
    g_heard = &heard;
    collection = new TorvoCollection(session);  // the session deletes it
    collection->userData = const_cast<char*>(dir.c_str());
  }
  void TearDown() override {
    ComposeDoc::TearDown();
    g_heard = nullptr;
  }
  std::string Render(const std::string& options, TorvoCollection* owner) {
    return ComposeDoc::Render(chunk, options.c_str(), owner);
  }

  Heard heard;
  TorvoCollection* collection = nullptr;
};

TEST_F(CollectionRender, LinkEventOfTheCollectionGivesTheUrl) {
  ASSERT_EQ(chunk->AppendLink(nullptr, 0, "http://example.com/a", "the page", nullptr, nullptr, 0,
                              nullptr, 0, nullptr, 0),
            0);
  ASSERT_EQ(chunk->lastStatus, 0);
  collection->QueryLinkData = CollectionLink;
  const std::string page = Render("RaiseLinkEvent=URL", collection);
  EXPECT_EQ(heard.links, 1);
  EXPECT_EQ(heard.url, "http://example.com/a");
  EXPECT_NE(page.find("<a href=\"https://answered.example/page\""), std::string::npos) << page;
  EXPECT_EQ(page.find("http://example.com/a"), std::string::npos);

  // A collection that does not answer: no anchor, the text stays.
  collection->QueryLinkData = nullptr;
  const std::string plain = Render("RaiseLinkEvent=URL", collection);
  EXPECT_EQ(plain.find("<a href"), std::string::npos);
  EXPECT_NE(plain.find("the page"), std::string::npos);

  // Without a collection the chunk's event answers.
  chunk->internal->QueryLinkData = ChunkLink;
  const std::string own = Render("RaiseLinkEvent=URL", nullptr);
  EXPECT_NE(own.find("<a href=\"https://chunk.example/\""), std::string::npos) << own;
  chunk->CleanupEventRetString(1);
  // Without the option nobody is asked.
  heard.links = 0;
  const std::string direct = Render("", collection);
  EXPECT_EQ(heard.links, 0);
  EXPECT_NE(direct.find("<a href=\"http://example.com/a\""), std::string::npos) << direct;
}

TEST_F(CollectionRender, NamesEventOfTheCollectionPlacesTheAttachment) {
  const std::string file = dir + "/notes.txt";
  kvtest::WriteFile(file, "attached text");
  ASSERT_EQ(chunk->AppendFileAttachment(file.c_str(), "notes.txt", 0, nullptr), 0);
  collection->QueryExportNames = CollectionNames;
  const std::string out = dir + "/out";
  const std::string page =
      Render("AttachmentHandling=DISK AttachmentDirectory=" + out + " RaiseNamesEvent=File",
             collection);
  EXPECT_EQ(heard.names, 1);
  EXPECT_EQ(heard.kind.rfind("File,txt", 0), 0u) << heard.kind;
  EXPECT_EQ(heard.path, out + "/notes.txt");
  EXPECT_NE(page.find("href=\"files/renamed.txt\""), std::string::npos) << page;
  EXPECT_EQ(kvtest::ReadFile(dir + "/renamed.txt"), "attached text");
}

// Joined documents render in order, each after its marker; each attaches its
// own "same.txt", which its link opens; the render gives the item back
// reading its own note.
TEST_F(CollectionRender, JoinedDocumentsRenderWithTheirMarkersInOrder) {
  // Two documents of the database, each with its own Body.
  std::vector<NOTEID> ids;
  for (const char* text : {"First document", "Second document"}) {
    NnHandle h = 0;
    ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &h), NN_OK);
    std::vector<uint8_t> body = {0x81, 2, 0x85, 0xFF, 0, 0, 1, 0, 0, 10};
    body.insert(body.end(), text, text + std::strlen(text));
    body[4] = uint8_t(body.size() - 2);
    if (body.size() % 2) body.push_back(0);
    ASSERT_EQ(NnItemAppend(h, 0, "Body", 4, NN_TYPE_COMPOSITE, body.data(), uint32_t(body.size())),
              NN_OK);
    kvtest::WriteFile(dir + "/source.txt", text + std::string("'s file"));
    {
      TorvoRTItem doc(session);
      ASSERT_EQ(doc.ConnectBackend(db, h, "Body"), NN_OK);
      std::unique_ptr<TorvoRTChunk> all(doc.DefineChunk("Everything"));
      ASSERT_EQ(all->AppendFileAttachment((dir + "/source.txt").c_str(), "same.txt", 0, nullptr), 0);
    }
    ASSERT_EQ(NnNoteUpdate(h, 0), NN_OK);
    NOTEID id = 0;
    ASSERT_EQ(NnNoteGetInfo(h, NN_NOTE_INFO_ID, &id), NN_OK);
    ids.push_back(id);
    NnNoteClose(h);
  }
  ASSERT_EQ(collection->AppendDocument(chunk, db, ids[0], "Body", 1), 0);
  ASSERT_EQ(collection->AppendDocument(chunk, db, ids[1], "Body", 2), 0);
  EXPECT_EQ(collection->AppendDocument(chunk, db, 0x7FFF0, "Body", 3), NN_ERR_NOTE_NOT_FOUND);
  EXPECT_NE(collection->AppendDocument(nullptr, db, ids[0], "Body", 3), 0);

  const std::string page = Render("", collection);
  const size_t first = page.find("<!--$hDB=");
  ASSERT_NE(first, std::string::npos) << page;
  const size_t anchor1 = page.find("<a name='zavedodAvu1'></a><div id='zavedodAvu1'></div>");
  const size_t text1 = page.find("First document");
  const size_t anchor2 = page.find("<a name='zavedodAvu2'></a><div id='zavedodAvu2'></div>");
  const size_t text2 = page.find("Second document");
  ASSERT_NE(anchor1, std::string::npos) << page;
  ASSERT_NE(anchor2, std::string::npos) << page;
  EXPECT_LT(first, anchor1);
  EXPECT_LT(anchor1, text1);
  EXPECT_LT(text1, anchor2);
  EXPECT_LT(anchor2, text2);
  EXPECT_NE(text2, std::string::npos);
  // The universal id of each note, as the marker names it.
  ORIGINATORID_tag oid = {};
  ASSERT_EQ(NnDbGetNoteInfo(db, ids[1], &oid, nullptr, nullptr), NN_OK);
  char unid[40];
  std::snprintf(unid, sizeof unid, "$unid=%.8X%.8X%.8X%.8X", unsigned(oid.File.Innards[1]),
                unsigned(oid.File.Innards[0]), unsigned(oid.Note.Innards[1]),
                unsigned(oid.Note.Innards[0]));
  EXPECT_NE(page.find(unid), std::string::npos) << unid;

  const std::string out = dir + "/out", options = "AttachmentHandling=DISK AttachmentDirectory=";
  std::vector<std::string> links;
  for (const kvtest::PageElement& e : kvtest::PageElements(Render(options + out, collection)))
    if (e.name == "a" && e.Attribute("href").rfind("./", 0) == 0) links.push_back(e.Attribute("href"));
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(kvtest::ReadFile(out + "/" + links[0]), "First document's file");
  EXPECT_EQ(kvtest::ReadFile(out + "/" + links[1]), "Second document's file");
  EXPECT_EQ(item->hRenderNote, 0u);
  // A plain render reads the item's own note, which attaches nothing.
  Render(options + dir + "/plain", nullptr);
  EXPECT_TRUE(kvtest::FilesBelow(dir + "/plain").empty());
}

}  // namespace
