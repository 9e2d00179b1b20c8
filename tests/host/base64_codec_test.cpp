// Base64: the standard vectors, line breaks, bounded output and bad input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/base64.h"

using namespace kv;

TEST(Base64Codec, StandardVectors) {
  const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) {
    char out[16];
    std::memset(out, 'x', sizeof out);
    uint32_t n = Base64EncodeOut(out, plain[i], uint32_t(std::strlen(plain[i])));
    EXPECT_EQ(n, std::strlen(coded[i]));
    EXPECT_STREQ(out, coded[i]);
    EXPECT_EQ(Base64EncodedLength(std::strlen(plain[i])), n);
    char back[16] = {};
    EXPECT_EQ(Base64DecodeBuffer(coded[i], back, sizeof back), std::strlen(plain[i]));
    EXPECT_STREQ(back, plain[i]);
  }
}

TEST(Base64Codec, EveryByteRoundTrips) {
  std::vector<unsigned char> data(256 * 3 + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  std::string text = Base64Encode(data.data(), data.size());
  EXPECT_EQ(text.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  std::vector<unsigned char> back(data.size());
  EXPECT_EQ(Base64DecodeBuffer(text.c_str(), back.data(), uint32_t(back.size())), data.size());
  EXPECT_EQ(back, data);
}

TEST(Base64Codec, LineBreaks) {
  std::string data(60, 'A');  // 80 characters of base64
  std::string out(Base64EncodedLength(60, 76) + 1, '\0');
  uint32_t n = Base64EncodeOut(out.data(), data.data(), 60, 76);
  ASSERT_EQ(n, 82u);
  EXPECT_EQ(out.substr(76, 2), "\r\n");
  EXPECT_EQ(out[82], '\0');
  // No break after a last full line.
  std::string exact(57, 'B');  // exactly 76 characters
  std::string out2(Base64EncodedLength(57, 76) + 1, '\0');
  EXPECT_EQ(Base64EncodeOut(out2.data(), exact.data(), 57, 76), 76u);
  // Decoding skips the breaks.
  std::string back(60, '\0');
  EXPECT_EQ(Base64DecodeBuffer(out.c_str(), back.data(), 60), 60u);
  EXPECT_EQ(back, data);
}

TEST(Base64Codec, CheckedEncodeRefusesShortBuffers) {
  char out[9];
  std::memset(out, '#', sizeof out);
  uint32_t n = 7;
  // "foobar" needs 8 characters and a NUL.
  EXPECT_EQ(Base64EncodeChecked(out, 8, "foobar", 6, 0, &n), NN_ERR_MEMORY);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(Base64EncodeChecked(out, 9, "foobar", 6, 0, &n), NN_OK);
  EXPECT_EQ(n, 8u);
  EXPECT_STREQ(out, "Zm9vYmFy");
}

TEST(Base64Codec, DecodeNeverPassesTheBuffer) {
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(Base64DecodeBuffer("Zm9vYmFy", out, 4), 4u);
  EXPECT_EQ(std::memcmp(out, "foob", 4), 0);
  EXPECT_EQ(out[4], 0xEE);
  EXPECT_EQ(Base64DecodeBuffer("Zm9v", out, 0), 0u);
  EXPECT_EQ(Base64DecodeBuffer(nullptr, out, 8), 0u);
  EXPECT_EQ(Base64DecodeBuffer("Zm9v", nullptr, 8), 0u);
}

TEST(Base64Codec, DecodeWhitespaceAndInvalidCharacters) {
  char out[16] = {};
  EXPECT_EQ(Base64DecodeBuffer(" Zm9v\r\n\tYmFy \n", out, sizeof out), 6u);
  EXPECT_EQ(std::string(out, 6), "foobar");
  // A foreign character ends the data: what came before it is kept.
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(Base64DecodeBuffer("Zm9v*YmFy", out, sizeof out), 3u);
  EXPECT_EQ(std::string(out, 3), "foo");
  // Padding ends the data too, even with more after it.
  EXPECT_EQ(Base64DecodeBuffer("Zg==Zm9v", out, sizeof out), 1u);
  // A lone final character holds no whole byte.
  EXPECT_EQ(Base64DecodeBuffer("Zm9vY", out, sizeof out), 3u);
  // Missing padding still gives the bytes present.
  EXPECT_EQ(Base64DecodeBuffer("Zm8", out, sizeof out), 2u);
  EXPECT_EQ(std::string(out, 2), "fo");
  EXPECT_EQ(Base64DecodeBuffer("\x80\xFF", out, sizeof out), 0u);
}
