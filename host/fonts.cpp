#include "host/fonts.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "nn/nn.h"

namespace {

// Read by every session's font parsing, in any thread.
std::atomic<FontFaceResolver> g_faceResolver{nullptr};

struct StyleWord {
  const char* name;
  uint16_t bit;
};
// The first name of each bit is the one the writer uses.
const StyleWord kStyleWords[] = {
    {"Bold", FONT_BOLD},           {"Italic", FONT_ITALIC},
    {"Underline", FONT_UNDERLINE}, {"Strikeout", FONT_STRIKEOUT},
    {"StrikeThrough", FONT_STRIKEOUT}, {"Superscript", FONT_SUPERSCRIPT},
    {"Super", FONT_SUPERSCRIPT},   {"Subscript", FONT_SUBSCRIPT},
    {"Sub", FONT_SUBSCRIPT},       {"Shadow", FONT_SHADOW},
    {"Emboss", FONT_EMBOSS},       {"Extrude", FONT_EXTRUDE},
};

struct FaceAlias {
  const char* name;
  int id;
};
const FaceAlias kFaceAliases[] = {
    {"Times New Roman", 0}, {"Times", 0}, {"Roman", 0},
    {"Arial", 1},           {"Helvetica", 1}, {"Swiss", 1},
    {"Courier New", 4},     {"Courier", 4},   {"Typewriter", 4},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool Equals(const std::string& word, const char* name) {
  return strcasecmp(word.c_str(), name) == 0;
}

int StyleBit(const std::string& word) {
  for (const StyleWord& s : kStyleWords) {
    if (Equals(word, s.name)) return s.bit;
  }
  return -1;
}

// A point size: digits with an optional "pt". -1 not a size, 0 a size out of range.
int PointSize(const std::string& word) {
  size_t i = 0;
  long value = 0;
  while (i < word.size() && word[i] >= '0' && word[i] <= '9') {
    if (value < 100000) value = value * 10 + (word[i] - '0');
    i++;
  }
  if (i == 0) return -1;
  if (i != word.size() && !(word.size() - i == 2 && strcasecmp(word.c_str() + i, "pt") == 0))
    return -1;
  return value >= 1 && value <= 255 ? static_cast<int>(value) : 0;
}

struct Word {
  std::string text;
  bool quoted = false;
};

// Splits a string into words; false for an unterminated quote.
bool Split(const char* spec, std::vector<Word>& words) {
  const char* p = spec;
  while (*p) {
    while (IsBlank(*p)) p++;
    if (!*p) break;
    Word w;
    if (*p == '\'' || *p == '"') {
      char q = *p++;
      const char* end = std::strchr(p, q);
      if (!end) return false;
      w.text.assign(p, end);
      w.quoted = true;
      p = end + 1;
    } else if (strncasecmp(p, "RGB(", 4) == 0 && std::strchr(p, ')')) {
      // "RGB( 1, 2, 3 )" may hold blanks: keep it in one word.
      const char* end = std::strchr(p, ')') + 1;
      w.text.assign(p, end);
      p = end;
    } else {
      const char* start = p;
      while (*p && !IsBlank(*p)) p++;
      w.text.assign(start, p);
    }
    words.push_back(std::move(w));
  }
  return true;
}

bool IsNumber(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

uint16_t ParseInto(const char* spec, void* item, FontState& st, uint32_t& mask,
                   ColorNames names) {
  if (!spec) return 0;
  std::vector<Word> words;
  if (!Split(spec, words)) return NN_ERR_INVALID_ARG;
  std::string face;
  bool faceSeen = false;
  bool faceQuoted = false;
  auto setColor = [&](const std::string& text) {
    uint16_t index = 0;
    ColorRGB color;
    if (ParseColor(text.c_str(), &index, &color, names) != 0) return false;
    st.colorIndex = static_cast<uint8_t>(index);
    st.color = color;
    mask |= FONT_MASK_COLOR;
    return true;
  };
  for (size_t i = 0; i < words.size(); i++) {
    const Word& w = words[i];
    if (w.quoted) {
      face = w.text;  // a quoted name replaces what came before
      faceSeen = true;
      faceQuoted = true;
      continue;
    }
    const std::string& t = w.text;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
      std::string rest = t.substr(1);
      int bit = StyleBit(rest);
      if (bit > 0) {
        mask |= static_cast<uint32_t>(bit);
        if (t[0] == '+')
          st.styles |= static_cast<uint16_t>(bit);
        else
          st.styles &= static_cast<uint16_t>(~bit);
        continue;
      }
      if (t[0] == '+' && (Equals(rest, "Plain") || Equals(rest, "Normal"))) {
        mask |= FONT_MASK_STYLES;
        st.styles = 0;
        continue;
      }
      return NN_ERR_INVALID_ARG;
    }
    int bit = StyleBit(t);
    if (bit > 0) {
      mask |= static_cast<uint32_t>(bit);
      st.styles |= static_cast<uint16_t>(bit);
      continue;
    }
    if (Equals(t, "Plain") || Equals(t, "Normal")) {
      mask |= FONT_MASK_STYLES;
      st.styles = 0;
      continue;
    }
    int size = PointSize(t);
    if (size == 0) return NN_ERR_INVALID_ARG;
    if (size > 0) {
      st.pointSize = static_cast<uint8_t>(size);
      mask |= FONT_MASK_SIZE;
      continue;
    }
    if (Equals(t, "RGB") && i + 3 < words.size() && IsNumber(words[i + 1].text) &&
        IsNumber(words[i + 2].text) && IsNumber(words[i + 3].text)) {
      std::string rgb = "RGB " + words[i + 1].text + " " + words[i + 2].text + " " +
                        words[i + 3].text;
      if (!setColor(rgb)) return NN_ERR_INVALID_ARG;
      i += 3;
      continue;
    }
    if (setColor(t)) continue;
    // Unrecognised words make up the face name; a quoted name stands alone.
    face = faceSeen && !faceQuoted ? face + " " + t : t;
    faceQuoted = false;
    faceSeen = true;
  }
  if (faceSeen) {
    if (face.size() > kFaceNameMax || face.empty()) return NN_ERR_INVALID_ARG;
    std::memset(st.faceName, 0, sizeof st.faceName);
    std::memcpy(st.faceName, face.data(), face.size());
    int id = FontFaceIdForName(st.faceName);
    const FontFaceResolver resolve = g_faceResolver.load();
    if (id < 0 && item && resolve) id = resolve(item, st.faceName);
    st.faceId = id >= 0 && id <= 255 ? static_cast<uint16_t>(id) : kFaceUnresolved;
    mask |= FONT_MASK_FACE;
  }
  return 0;
}

}  // namespace

FontFaceResolver SetFontFaceResolver(FontFaceResolver resolver) {
  return g_faceResolver.exchange(resolver);
}

int FontFaceIdForName(const char* faceName) {
  if (!faceName) return -1;
  for (const FaceAlias& a : kFaceAliases) {
    if (strcasecmp(faceName, a.name) == 0) return a.id;
  }
  return -1;
}

uint16_t ParseFontSpec(const char* spec, const char* spec2, void* item, FontState* stateOut,
                       uint32_t* maskOut, ColorNames names) {
  FontState st;
  uint32_t mask = 0;
  try {
    uint16_t status = ParseInto(spec, item, st, mask, names);
    if (status == 0) status = ParseInto(spec2, item, st, mask, names);
    if (status != 0) return status;
  } catch (...) {
    return NN_ERR_MEMORY;
  }
  if (stateOut) *stateOut = st;
  if (maskOut) *maskOut = mask;
  return 0;
}

void FontApplyChanges(uint32_t* fontIdInOut, uint32_t* colorOut, uint16_t* highlightOut,
                      const FontState* state, uint32_t mask) {
  if (colorOut) *colorOut = 0;
  if (highlightOut) *highlightOut = 0;
  if (!state) return;
  uint32_t id = fontIdInOut ? *fontIdInOut : 0;
  uint8_t face = FontIdFace(id);
  uint8_t attrib = FontIdAttrib(id);
  uint8_t color = FontIdColor(id);
  uint8_t size = FontIdSize(id);

  if ((mask & FONT_MASK_FACE) && state->faceId != kFaceUnresolved)
    face = static_cast<uint8_t>(state->faceId);
  // The six plain attribute bits.
  uint8_t plainMask = static_cast<uint8_t>(mask & 0x3F);
  attrib = static_cast<uint8_t>((attrib & ~plainMask) | (state->styles & plainMask));
  // The effect field holds one of shadow (1), emboss (2), extrude (3).
  uint8_t effect = static_cast<uint8_t>(attrib >> 6);
  const uint16_t effectBits[3] = {FONT_SHADOW, FONT_EMBOSS, FONT_EXTRUDE};
  for (uint8_t e = 1; e <= 3; e++) {
    uint16_t bit = effectBits[e - 1];
    if (!(mask & bit)) continue;
    if (state->styles & bit)
      effect = e;
    else if (effect == e)
      effect = 0;
  }
  attrib = static_cast<uint8_t>((attrib & 0x3F) | (effect << 6));
  if (mask & FONT_MASK_SIZE) size = state->pointSize;
  if (mask & FONT_MASK_COLOR) {
    color = state->colorIndex;
    if (colorOut)
      *colorOut = 0x01000000u | static_cast<uint32_t>(state->color.blue) << 16 |
                  static_cast<uint32_t>(state->color.green) << 8 | state->color.red;
  }
  if ((mask & FONT_MASK_HIGHLIGHT) && highlightOut) *highlightOut = state->highlight;
  if (fontIdInOut) *fontIdInOut = MakeFontId(face, attrib, color, size);
}

uint16_t FontSpecToText(const FontState* state, uint32_t mask, char* out, size_t outSize,
                        ColorNames names) {
  if (out && outSize) out[0] = 0;
  if (!state || !out || !outSize) return NN_ERR_INVALID_ARG;
  std::string text;
  auto add = [&](const std::string& word) {
    if (!text.empty()) text += ' ';
    text += word;
  };
  try {
    uint16_t styleMask = static_cast<uint16_t>(mask & FONT_MASK_STYLES);
    bool plain = styleMask == FONT_ALL_STYLES;
    if (plain) add("Plain");
    uint16_t written = 0;
    for (const StyleWord& s : kStyleWords) {
      if (!(styleMask & s.bit) || (written & s.bit)) continue;
      written |= s.bit;
      bool on = (state->styles & s.bit) != 0;
      if (plain) {
        if (on) add(s.name);
      } else {
        add(std::string(on ? "+" : "-") + s.name);
      }
    }
    if (mask & FONT_MASK_COLOR) {
      const char* name = ColorName(state->colorIndex, names);
      if (name && PaletteColor(state->colorIndex) == state->color) {
        add(name);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%02X%02X%02X", state->color.red, state->color.green,
                      state->color.blue);
        add(hex);
      }
    }
    if (mask & FONT_MASK_SIZE) add(std::to_string(state->pointSize) + "pt");
    if (mask & FONT_MASK_FACE) {
      std::string face = state->faceName;
      if (face.empty()) {
        if (state->faceId == 0) face = "Times New Roman";
        else if (state->faceId == 1) face = "Arial";
        else if (state->faceId == 4) face = "Courier New";
      }
      if (!face.empty()) {
        char quote = face.find('\'') == std::string::npos ? '\'' : '"';
        if (face.find(quote) != std::string::npos) return NN_ERR_INVALID_ARG;
        add(quote + face + quote);
      }
    }
  } catch (...) {
    return NN_ERR_MEMORY;
  }
  if (text.size() + 1 > outSize) return NN_ERR_MEMORY;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

int FontMatches(const uint32_t* fontId, const FontState* pattern, uint32_t mask) {
  if (!fontId) return 0;
  if (!pattern || mask == 0) return 1;
  uint32_t id = *fontId;
  if ((mask & FONT_MASK_FACE) && pattern->faceId != kFaceUnresolved &&
      FontIdFace(id) != pattern->faceId)
    return 0;
  if ((mask & FONT_MASK_SIZE) && FontIdSize(id) != pattern->pointSize) return 0;
  if ((mask & FONT_MASK_COLOR) && FontIdColor(id) != pattern->colorIndex) return 0;
  // The six plain styles are the attribute bits; the effects share bits 0x40/0x80.
  uint16_t attrib = FontIdAttrib(id);
  uint16_t have = attrib & 0x3F;
  uint8_t effect = attrib & 0xC0;
  if (effect == 0x40) have |= FONT_SHADOW;
  if (effect == 0x80) have |= FONT_EMBOSS;
  if (effect == 0xC0) have |= FONT_EXTRUDE;
  uint16_t styleMask = uint16_t(mask & FONT_MASK_STYLES);
  return (have & styleMask) == (pattern->styles & styleMask) ? 1 : 0;
}
