// Remove keeps an attached file while another rich-text item of the note
// still shows it, and deletes it with its last hotspot.
#include <string>
#include <vector>

#include "host/noteops.h"
#include "rewrite_fixture.h"

namespace enginetest {
namespace {

using RemoveObjects = RewriteDoc;

std::vector<Bytes> FileIcon(const std::string& name) {
  const std::string data = name + std::string(1, '\0') + name + std::string(1, '\0');
  return {Para(), PabRef(1), Hotspot(0xFFA9, 4, 0, data), Text(name), HotspotEnd(170)};
}

bool Attached(NnHandle note, const char* name) {
  char stored[256];
  return kv::NoteFindAttachmentName(note, name, 0, stored, sizeof stored) == NN_OK;
}

TEST_F(RemoveObjects, FileShownByAnotherItemStays) {
  ASSERT_TRUE(OpenBuilt(FileIcon("a.txt")));
  const Bytes other = Join(FileIcon("a.txt"));
  ASSERT_EQ(NnItemAppend(note, 0, "Other", 5, NN_TYPE_COMPOSITE, other.data(),
                         uint32_t(other.size())),
            NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "a.txt", "abc", 3), NN_OK);
  ASSERT_TRUE(Attached(note, "a.txt"));
  TorvoRTChunk* icon = Define("Hotspot 1");
  ASSERT_TRUE(icon);
  ASSERT_EQ(icon->Remove(), 0);
  for (const Rec& r : Records()) EXPECT_NE(r.sig, 0xFFA9);  // the icon went
  EXPECT_TRUE(Attached(note, "a.txt"));                     // the file stays
  ExpectSound();
  ReloadAndRender();
}

TEST_F(RemoveObjects, FileGoesWithItsLastIcon) {
  std::vector<Bytes> recs = FileIcon("a.txt");
  const Bytes other = Join(FileIcon("b.txt"));
  ASSERT_TRUE(OpenBuilt(recs));
  ASSERT_EQ(NnItemAppend(note, 0, "Other", 5, NN_TYPE_COMPOSITE, other.data(),
                         uint32_t(other.size())),
            NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "a.txt", "abc", 3), NN_OK);
  ASSERT_EQ(NnNoteAttachData(note, "b.txt", "abc", 3), NN_OK);
  TorvoRTChunk* icon = Define("Hotspot 1");
  ASSERT_TRUE(icon);
  ASSERT_EQ(icon->Remove(), 0);
  EXPECT_FALSE(Attached(note, "a.txt"));
  EXPECT_TRUE(Attached(note, "b.txt"));
}

}  // namespace
}  // namespace enginetest
