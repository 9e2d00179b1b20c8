// What the DXL loader and writer share: the names the format gives note
// classes, item flags and attachment fields, and its base64.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store.h"

namespace nnstore::dxl {

inline constexpr const char* kNamespace = "http://www.lotus.com/dxl";

struct Named {
  const char* name;
  uint16_t value;
};

// The note class of a note element's name or of a <note>'s class attribute.
inline constexpr Named kClasses[] = {
    {"document", NN_CLASS_DOCUMENT},      {"helpaboutdocument", NN_CLASS_INFO},
    {"form", NN_CLASS_FORM},              {"view", NN_CLASS_VIEW},
    {"icon", NN_CLASS_ICON},              {"design", NN_CLASS_DESIGN},
    {"acl", NN_CLASS_ACL},                {"helpindex", NN_CLASS_HELP_INDEX},
    {"helpusingdocument", NN_CLASS_HELP}, {"filter", NN_CLASS_FILTER},
    {"sharedfield", NN_CLASS_FIELD},      {"replicationformula", NN_CLASS_REPLFORMULA},
    // Elements of design notes that share a class.
    {"subform", NN_CLASS_FORM},           {"page", NN_CLASS_FORM},
    {"frameset", NN_CLASS_FORM},          {"imageresource", NN_CLASS_FORM},
    {"fileresource", NN_CLASS_FORM},      {"stylesheetresource", NN_CLASS_FORM},
    {"sharedactions", NN_CLASS_FORM},     {"appletresource", NN_CLASS_FORM},
    {"scriptlibrary", NN_CLASS_FILTER},   {"agent", NN_CLASS_FILTER},
    {"outline", NN_CLASS_FILTER},         {"dataconnection", NN_CLASS_FILTER},
    {"databasescript", NN_CLASS_FILTER},  {"folder", NN_CLASS_VIEW},
    {"navigator", NN_CLASS_VIEW},         {"sharedcolumn", NN_CLASS_VIEW},
    {"helpaboutdoc", NN_CLASS_INFO},      {"helpusingdoc", NN_CLASS_HELP},
};

// Item attributes that are flags.
inline constexpr Named kItemFlags[] = {
    {"summary", NN_ITEM_SUMMARY}, {"sign", NN_ITEM_SIGN},       {"seal", NN_ITEM_SEAL},
    {"placeholder", NN_ITEM_PLACEHOLDER}, {"names", NN_ITEM_NAMES}, {"readers", NN_ITEM_READERS},
    {"authors", kItemAuthors},    {"protected", NN_ITEM_PROTECTED}};

// Fields of an attachment's <file> element.
inline constexpr Named kHostTypes[] = {{"msdos", 0},        {"ole", 1},           {"mac", 2},
                                       {"unknown", 3},      {"hpfs", 4},          {"olelib", 5},
                                       {"bytearrayext", 6}, {"bytearraypage", 7}, {"cdstorage", 8},
                                       {"stream", 9},       {"link", 10}};
inline constexpr Named kCompressions[] = {{"none", 0}, {"huff", 1}, {"lzw", 2}, {"lz1", 3}};
inline constexpr Named kFileFlags[] = {{"sign", 0x0001}, {"storedindoc", 0x0002}, {"mime", 0x0004}};

template <size_t N>
std::optional<uint16_t> lookup(const Named (&t)[N], const std::string& s) {
  for (const auto& e : t)
    if (s == e.name) return e.value;
  return std::nullopt;
}

template <size_t N>
const char* nameOf(const Named (&t)[N], uint16_t v) {
  for (const auto& e : t)
    if (e.value == v) return e.name;
  return nullptr;
}

// Strict: white space is skipped; a character outside the alphabet, a cut
// group or misplaced padding fails with the reason. The bytes go into out
// from `at` on; what lies before stays.
bool decodeBase64(const char* text, size_t n, std::vector<uint8_t>* out, std::string* why,
                  size_t at = 0);
// Lines of 72 characters, each ended by a line feed.
void encodeBase64(const std::vector<uint8_t>& in, std::string& out);

void escapeText(const std::string& s, std::string& out, bool breaks);
void escapeAttr(const std::string& s, std::string& out);

}  // namespace nnstore::dxl
