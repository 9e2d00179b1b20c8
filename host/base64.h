// Base64 (standard alphabet A-Z a-z 0-9 + /, "=" padding).
#pragma once

#include <cstdint>
#include <string>

#include "nn/nn.h"

namespace kv {

// Length of the base64 text of len bytes, without the terminating NUL; with
// lineWidth > 0 a CR LF follows every lineWidth characters except at the end.
uint64_t Base64EncodedLength(uint64_t len, uint32_t lineWidth = 0);

// Writes the base64 text of data at out, NUL-terminated, and returns its
// length (without the NUL). The caller sizes out: Base64EncodedLength + 1.
// lineWidth > 0 breaks the text into lines (CR LF); the two reserved words are
// accepted for the callers' sake and must be 0.
uint32_t Base64EncodeOut(char* out, const void* data, uint32_t len, uint32_t lineWidth = 0,
                         uint32_t reserved1 = 0, uint32_t reserved2 = 0);

// As Base64EncodeOut into a buffer of outSize bytes: NN_ERR_MEMORY, with out
// untouched, when the text and its NUL would not fit; the length in *written.
NnStatus Base64EncodeChecked(char* out, uint32_t outSize, const void* data, uint32_t len,
                             uint32_t lineWidth, uint32_t* written);

std::string Base64Encode(const void* data, size_t len);

// Decodes base64 text (NUL-terminated) into out and returns the number of
// bytes written, never more than size. Whitespace (blank, tab, CR, LF) is
// skipped; decoding stops at "=", at the first character outside the alphabet
// or when out is full. A final partial group gives the whole bytes it holds.
uint32_t Base64DecodeBuffer(const char* text, void* out, uint32_t size);

// The same over a text of known length (NULs count as invalid characters).
uint32_t Base64DecodeN(const char* text, size_t textLen, void* out, uint32_t size);

}  // namespace kv
