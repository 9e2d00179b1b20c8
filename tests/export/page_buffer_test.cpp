// A page is the render's output in UTF-8 whether it needed converting (text
// beyond ASCII) or not (then the render buffer itself is the page): whole,
// NUL-terminated and the caller's to free.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/pool.h"
#include "richtext/chunk/navigation_fixture.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

using navtest::Body;
using navtest::Doc;
using navtest::Paragraph;

std::string Page(TorvoRTItem* item, bool xhtml) {
  TorvoRTChunk* everything = item->DefineChunk(nullptr);
  char* page = nullptr;
  uint32_t length = 0;
  NnStatus st = xhtml ? everything->GenerateXML(nullptr, "", &page, &length)
                      : everything->GenerateHTML(nullptr, "", &page, &length);
  EXPECT_EQ(st, NN_OK);
  std::string text;
  if (page) {
    EXPECT_EQ(std::strlen(page), length);
    text.assign(page, length);
    PoolFree(item->session, page);
  }
  delete everything;
  return text;
}

TEST(PageBuffer, AsciiAndConvertedPagesAreWhole) {
  Doc ascii(Body({Paragraph("plain <text> & more"), Paragraph("caf\x82 au lait")}));
  Doc accented(Body({Paragraph("plain <text> & more"), Paragraph("caf\x82 au lait")}));
  // The subject goes into the title as it stands: platform text to convert.
  ASSERT_EQ(NnItemSetText(ascii.note, "Subject", "Menu", 4), NN_OK);
  ASSERT_EQ(NnItemSetText(accented.note, "Subject", "Men\x81", 4), NN_OK);
  for (bool xhtml : {false, true}) {
    SCOPED_TRACE(xhtml);
    const std::string a = Page(ascii.item, xhtml);
    EXPECT_NE(a.find("<title>Menu</title>"), std::string::npos) << a;
    EXPECT_NE(a.find("plain &lt;text&gt; &amp; more"), std::string::npos) << a;
    EXPECT_NE(a.find(xhtml ? "caf&#233; au lait" : "caf&eacute; au lait"), std::string::npos);
    EXPECT_EQ(a.compare(a.size() - 8, 8, "</html>\n"), 0) << a;
    // Apart from the title the page that needed converting is the same.
    std::string expected = a;
    expected.replace(expected.find("<title>Menu"), 11, "<title>Men\xc3\xbc");
    EXPECT_EQ(Page(accented.item, xhtml), expected);
  }
}

}  // namespace
