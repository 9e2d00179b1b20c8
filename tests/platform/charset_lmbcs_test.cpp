// Character-set translation and LMBCS measuring.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nn/nn.h"

namespace {

class Table {
 public:
  Table(uint16_t from, uint16_t to) { status_ = NnCharsetTableLoad(from, to, &t_); }
  ~Table() {
    if (t_ != nullptr) NnCharsetTableFree(t_);
  }
  NnStatus status() const { return status_; }
  NnCharsetInfo* get() const { return t_; }
  // Translates into a generous buffer; the status goes to *status.
  std::string run(const std::string& in, NnStatus* status = nullptr) const {
    std::vector<char> out(in.size() * 4 + 8);
    uint32_t len = 0;
    NnStatus s = NnCharsetTranslate(t_, 0, in.data(), uint32_t(in.size()), out.data(),
                                    uint32_t(out.size()), &len);
    if (status != nullptr) *status = s;
    EXPECT_LE(len, out.size());
    return std::string(out.data(), len);
  }

 private:
  NnCharsetInfo* t_ = nullptr;
  NnStatus status_ = 0;
};

const std::string kEuroLmbcs("\x14\x20\xAC", 3);
const std::string kEuroUtf8("\xE2\x82\xAC");

TEST(CharsetTranslate, AsciiPassesUnchangedEveryWay) {
  const std::string text = "Hello, World! 0123 ~{}";
  for (uint16_t to : {NN_CHARSET_UTF8, NN_CHARSET_LATIN1, NN_CHARSET_LMBCS}) {
    Table t(NN_CHARSET_LMBCS, to);
    ASSERT_EQ(t.status(), NN_OK);
    EXPECT_EQ(t.run(text), text) << to;
  }
  Table wide(NN_CHARSET_LMBCS, NN_CHARSET_UNICODE);
  EXPECT_EQ(wide.run("Hi"), std::string("H\0i\0", 4));
}

TEST(CharsetTranslate, LatinAccentsUseGroupOne) {
  // e-acute and u-umlaut are single group-1 bytes (code page 850).
  const std::string lmbcs("caf\x82 m\x81sli", 10);
  Table toUtf8(NN_CHARSET_LMBCS, NN_CHARSET_UTF8);
  Table fromUtf8(NN_CHARSET_UTF8, NN_CHARSET_LMBCS);
  Table toLatin(NN_CHARSET_LMBCS, NN_CHARSET_LATIN1);
  Table fromLatin(NN_CHARSET_LATIN1, NN_CHARSET_LMBCS);
  EXPECT_EQ(toUtf8.run(lmbcs), "caf\xC3\xA9 m\xC3\xBCsli");
  EXPECT_EQ(fromUtf8.run("caf\xC3\xA9 m\xC3\xBCsli"), lmbcs);
  EXPECT_EQ(toLatin.run(lmbcs), "caf\xE9 m\xFCsli");
  EXPECT_EQ(fromLatin.run("caf\xE9 m\xFCsli"), lmbcs);
}

TEST(CharsetTranslate, EuroThroughTheUnicodeGroup) {
  Table toUtf8(NN_CHARSET_LMBCS, NN_CHARSET_UTF8);
  Table fromUtf8(NN_CHARSET_UTF8, NN_CHARSET_LMBCS);
  EXPECT_EQ(toUtf8.run("1" + kEuroLmbcs + "2"), "1" + kEuroUtf8 + "2");
  EXPECT_EQ(fromUtf8.run("1" + kEuroUtf8 + "2"), "1" + kEuroLmbcs + "2");
  Table toWide(NN_CHARSET_LMBCS, NN_CHARSET_UNICODE);
  EXPECT_EQ(toWide.run(kEuroLmbcs), std::string("\xAC\x20", 2));
  Table fromWide(NN_CHARSET_UNICODE, NN_CHARSET_LMBCS);
  EXPECT_EQ(fromWide.run(std::string("\xAC\x20", 2)), kEuroLmbcs);
}

TEST(CharsetTranslate, OtherGroupsAreReadToo) {
  // Group 3 (code page 1252) spells the euro 0x03 0x80; it reads the same.
  Table toUtf8(NN_CHARSET_LMBCS, NN_CHARSET_UTF8);
  EXPECT_EQ(toUtf8.run(std::string("\x03\x80", 2)), kEuroUtf8);
  // A Japanese double-byte group character.
  EXPECT_EQ(toUtf8.run(std::string("\x10\x92\x86", 3)), "\xE4\xB8\xAD");
}

TEST(CharsetTranslate, CjkAndSupplementaryRoundTripThroughUtf8) {
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 \xED\x95\x9C \xF0\x9F\x98\x80";
  std::string lmbcs = NnUtf8ToLmbcs(utf8.data(), utf8.size());
  // The low surrogate U+DE00 has a zero low byte: the zero form.
  EXPECT_EQ(lmbcs, std::string("\x14\x4E\x2D\x14\x65\x87 \x14\xD5\x5C \x14\xD8\x3D\x14\xF6\xDE", 17));
  EXPECT_EQ(NnLmbcsToUtf8(lmbcs.data(), lmbcs.size()), utf8);
  uint32_t chars = 0;
  ASSERT_EQ(NnCharsetCharCount(lmbcs.data(), uint32_t(lmbcs.size()), &chars, nullptr), NN_OK);
  EXPECT_EQ(chars, 7u);  // the emoji is two Unicode-group units
}

TEST(CharsetTranslate, ControlsAndNulSurvive) {
  const std::string utf8("a\0b\tc\r\nd\x01" "e", 10);
  std::string lmbcs = NnUtf8ToLmbcs(utf8.data(), utf8.size());
  // 0x01 would be a group byte: it travels in the control group.
  EXPECT_EQ(lmbcs, std::string("a\0b\tc\r\nd\x0F\x21" "e", 11));
  EXPECT_EQ(NnLmbcsToUtf8(lmbcs.data(), lmbcs.size()), utf8);
}

// A zero low byte takes the Unicode group's zero form, and U+F6xx (whose high
// byte is that form's marker) ICU's spelling: no NUL byte, and back unchanged.
TEST(CharsetTranslate, UnicodeGroupSpellingsHoldNoNulByte) {
  EXPECT_EQ(NnUtf8ToLmbcs("\xE2\x80\x80", 3), std::string("\x14\xF6\x20"));  // U+2000
  EXPECT_EQ(NnUtf8ToLmbcs("\xE4\xB8\x80", 3), std::string("\x14\xF6\x4E"));  // U+4E00
  for (const char* utf8 : {"\xE2\x80\x80", "\xE4\xB8\x80", "\xE3\x80\x80", "\xC4\x80",
                           "\xEF\x98\xA0", "\xEF\x98\x80", "\xEF\x9B\xBF", "\xF0\x9F\x98\x80"}) {
    std::string text = std::string("[") + utf8 + "]";
    std::string lmbcs = NnUtf8ToLmbcs(text.data(), text.size());
    EXPECT_EQ(lmbcs.find('\0'), std::string::npos) << text;
    EXPECT_EQ(NnLmbcsToUtf8(lmbcs.data(), lmbcs.size()), text);
  }
}

// Every C0 and C1 control comes back from LMBCS, and none is spelt with a NUL
// byte, which would cut a NUL-terminated text (a separator, an option) short.
TEST(CharsetTranslate, EveryControlRoundTripsWithoutANulByte) {
  for (uint32_t c = 1; c < 0xA0; ++c) {
    if (c >= 0x20 && c < 0x80) continue;
    std::string utf8 = "<";
    if (c < 0x80) {
      utf8 += char(c);
    } else {
      utf8 += char(0xC0 | (c >> 6));
      utf8 += char(0x80 | (c & 0x3F));
    }
    utf8 += ">";
    std::string lmbcs = NnUtf8ToLmbcs(utf8.data(), utf8.size());
    EXPECT_EQ(lmbcs.find('\0'), std::string::npos) << "control " << c;
    EXPECT_EQ(NnLmbcsToUtf8(lmbcs.data(), lmbcs.size()), utf8) << "control " << c;
    // The measures agree with the spelling: three characters.
    uint32_t chars = 0;
    ASSERT_EQ(NnCharsetCharCount(lmbcs.data(), uint32_t(lmbcs.size()), &chars, nullptr), NN_OK);
    EXPECT_EQ(chars, 3u) << "control " << c;
  }
  // The unit separator, as a tool passes it.
  EXPECT_EQ(NnUtf8ToLmbcs("\x1f", 1), std::string("\x0F\x3F"));
  EXPECT_EQ(NnUtf8ToLmbcs("\x19", 1), std::string("\x19"));
}

TEST(CharsetTranslate, UnconvertibleAndInvalidInput) {
  Table toLatin(NN_CHARSET_LMBCS, NN_CHARSET_LATIN1);
  EXPECT_EQ(toLatin.run("x" + kEuroLmbcs + "y"), "x?y");
  EXPECT_EQ(toLatin.run(std::string("\x14\xD8\x3D\x14\xDE\x00", 6)), "?");  // one character
  // Invalid UTF-8 becomes the replacement character, never a failure.
  std::string lm = NnUtf8ToLmbcs("a\xFF" "b", 3);
  EXPECT_EQ(lm, std::string("a\x14\xFF\xFD" "b", 5));
  // A group byte cut short at the end of the text.
  std::string cut = NnLmbcsToUtf8("ab\x14\x20", 4);
  EXPECT_EQ(cut.substr(0, 2), "ab");
  EXPECT_EQ(NnLmbcsToUtf8(nullptr, 5), "");
  EXPECT_EQ(NnUtf8ToLmbcs("", 0), "");
}

TEST(CharsetTranslate, OutputThatDoesNotFitIsCutOnACharacter) {
  Table toUtf8(NN_CHARSET_LMBCS, NN_CHARSET_UTF8);
  const std::string in = "ab" + kEuroLmbcs;  // "ab" + 3 UTF-8 bytes
  char out[8];
  std::memset(out, '#', sizeof out);
  uint32_t len = 99;
  EXPECT_EQ(NnCharsetTranslate(toUtf8.get(), 0, in.data(), uint32_t(in.size()), out, 4, &len),
            NN_ERR_MEMORY);
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(std::string(out, 2), "ab");
  EXPECT_EQ(out[4], '#');
  EXPECT_EQ(NnCharsetTranslate(toUtf8.get(), 0, in.data(), uint32_t(in.size()), out, 5, &len),
            NN_OK);
  EXPECT_EQ(len, 5u);

  Table fromUtf8(NN_CHARSET_UTF8, NN_CHARSET_LMBCS);
  const std::string u = "a" + kEuroUtf8;
  EXPECT_EQ(NnCharsetTranslate(fromUtf8.get(), 0, u.data(), uint32_t(u.size()), out, 3, &len),
            NN_ERR_MEMORY);
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(NnCharsetTranslate(fromUtf8.get(), 0, u.data(), uint32_t(u.size()), nullptr, 0, &len),
            NN_ERR_MEMORY);
  EXPECT_EQ(len, 0u);

  Table same(NN_CHARSET_LMBCS, NN_CHARSET_LMBCS);
  EXPECT_EQ(NnCharsetTranslate(same.get(), 0, "abcdef", 6, out, 4, &len), NN_ERR_MEMORY);
  EXPECT_EQ(len, 4u);
}

TEST(CharsetTables, BadSetsAndFreedTablesAreRefused) {
  NnCharsetInfo* t = nullptr;
  EXPECT_EQ(NnCharsetTableLoad(NN_CHARSET_LMBCS, 77, &t), NN_ERR_CHARSET);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, nullptr), NN_ERR_INVALID_ARG);
  ASSERT_EQ(NnCharsetTableLoad(NN_CHARSET_LMBCS, NN_CHARSET_UTF8, &t), NN_OK);
  EXPECT_EQ(NnCharsetTableFree(t), NN_OK);
  char out[4];
  uint32_t len = 0;
  EXPECT_EQ(NnCharsetTranslate(t, 0, "a", 1, out, 4, &len), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnCharsetTableFree(t), NN_ERR_BAD_HANDLE);
  EXPECT_EQ(NnCharsetTableFree(nullptr), NN_ERR_BAD_HANDLE);
}

TEST(CharsetMeasure, ByteSizeFollowsTheGroups) {
  // a | e-acute (1) | euro (3) | group-1 two-byte | Japanese (3) | tab | NUL | z
  const std::string text("a\x82\x14\x20\xAC\x01\x41\x10\x92\x86\t\0z", 13);
  uint32_t bytes = 0;
  auto size = [&](uint32_t chars, uint32_t maxBytes) {
    EXPECT_EQ(NnCharsetByteSize(text.data(), chars, maxBytes, &bytes, nullptr), NN_OK);
    return bytes;
  };
  EXPECT_EQ(size(1, 13), 1u);
  EXPECT_EQ(size(2, 13), 2u);
  EXPECT_EQ(size(3, 13), 5u);
  EXPECT_EQ(size(4, 13), 7u);
  EXPECT_EQ(size(5, 13), 10u);
  EXPECT_EQ(size(6, 13), 11u);
  EXPECT_EQ(size(7, 13), 12u);       // the NUL counts as one byte
  EXPECT_EQ(size(65535, 13), 12u);   // and ends the text
  EXPECT_EQ(size(3, 4), 4u);         // a character cut by maxBytes takes what remains
  EXPECT_EQ(size(0, 13), 0u);
  EXPECT_EQ(size(5, 0), 0u);
  // One character at a time, as text walkers measure.
  EXPECT_EQ(NnCharsetByteSize(text.data() + 2, 1, 11, &bytes, nullptr), NN_OK);
  EXPECT_EQ(bytes, 3u);
  EXPECT_EQ(NnCharsetByteSize(text.data(), 1, 13, nullptr, nullptr), NN_ERR_INVALID_ARG);
}

TEST(CharsetMeasure, SingleByteControlsAreNotGroups) {
  // 0x07, 0x0C, 0x0E and 0x15-0x1F stand alone.
  const char text[] = "\x07\x0C\x0E\x15\x19\x1F";
  uint32_t chars = 0;
  ASSERT_EQ(NnCharsetCharCount(text, 6, &chars, nullptr), NN_OK);
  EXPECT_EQ(chars, 6u);
}

TEST(CharsetMeasure, CharCountNeverReadsPastTheEnd) {
  const std::string text("ab\x14\x20\xAC\x82\0x", 8);
  uint32_t chars = 0;
  ASSERT_EQ(NnCharsetCharCount(text.data(), 8, &chars, nullptr), NN_OK);
  EXPECT_EQ(chars, 6u);  // a, b, euro, e-acute, NUL, x
  // Cut inside the euro: the partial character still counts once.
  std::vector<char> cut(text.begin(), text.begin() + 4);
  ASSERT_EQ(NnCharsetCharCount(cut.data(), 4, &chars, nullptr), NN_OK);
  EXPECT_EQ(chars, 3u);
  ASSERT_EQ(NnCharsetCharCount(text.data(), 0, &chars, nullptr), NN_OK);
  EXPECT_EQ(chars, 0u);
  EXPECT_EQ(NnCharsetCharCount(nullptr, 3, &chars, nullptr), NN_ERR_INVALID_ARG);
}

}  // namespace
