#include "host/fonts.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "nn/nn.h"

const FontWord kFontWords[] = {
    {"Bold", FONT_BOLD, false},
    {"Italic", FONT_ITALIC, false},
    {"Underline", FONT_UNDERLINE, false},
    {"Strikethrough", FONT_STRIKEOUT, false},
    {"Superscript", FONT_SUPERSCRIPT, false},
    {"Subscript", FONT_SUBSCRIPT, false},
    {"HighlightYellow", FONT_HIGHLIGHT_YELLOW, true},
    {"HighlightPink", FONT_HIGHLIGHT_PINK, true},
    {"HighlightBlue", FONT_HIGHLIGHT_BLUE, true},
    {"Shadowed", FONT_SHADOW, false},
    {"Embossed", FONT_EMBOSS, false},
    {"Extruded", FONT_EXTRUDE, false},
    // Other names of the same bits.
    {"Strikeout", FONT_STRIKEOUT, false},
    {"Super", FONT_SUPERSCRIPT, false},
    {"Sub", FONT_SUBSCRIPT, false},
    {"Shadow", FONT_SHADOW, false},
    {"Emboss", FONT_EMBOSS, false},
    {"Extrude", FONT_EXTRUDE, false},
};
const size_t kFontWordCount = sizeof kFontWords / sizeof kFontWords[0];

namespace {

// Read by every session's font parsing, in any thread.
std::atomic<FontFaceResolver> g_faceResolver{nullptr};

// The attribute byte's effect: 0x80 marks one, 0x10 and 0x20 then name it.
constexpr uint8_t kEffectMark = 0x80;
constexpr uint16_t kEffectBits[3] = {FONT_SHADOW, FONT_EMBOSS, FONT_EXTRUDE};
constexpr uint8_t kEffectCodes[3] = {0x80, 0x90, 0xA0};

// The styles an attribute byte holds (FONT_* bits).
uint16_t StylesOfAttrib(uint8_t attrib) {
  uint16_t styles = attrib & 0x0F;
  if (attrib & kEffectMark) {
    for (int e = 0; e < 3; ++e)
      if ((attrib & 0xB0) == kEffectCodes[e]) styles |= kEffectBits[e];
  } else {
    styles |= attrib & 0x30;
  }
  return styles;
}

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

const FontWord* StyleWord(const std::string& word) {
  for (size_t i = 0; i < kFontWordCount; ++i)
    if (Equals(word, kFontWords[i].name)) return &kFontWords[i];
  return nullptr;
}

bool StartsWith(const std::string& word, const char* prefix) {
  return strncasecmp(word.c_str(), prefix, std::strlen(prefix)) == 0;
}

// A word shaped like a size, colour or style word: when it reads as none of
// them it is an error, never part of a face name.
bool LooksLikeFontWord(const std::string& word) {
  if (word.empty()) return false;
  const char c = word[0];
  return (c >= '0' && c <= '9') || c == '#' || c == '+' || c == '-' || StartsWith(word, "RGB") ||
         StartsWith(word, "COLOR") || StartsWith(word, "GRADIENT") ||
         StartsWith(word, "Highlight");
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

// Applies one style or highlight word, on or off.
void ApplyStyleWord(const FontWord& w, bool on, FontState& st, uint32_t& mask) {
  if (w.highlight) {
    mask |= FONT_MASK_HIGHLIGHT;
    st.highlight = uint16_t(on ? (st.highlight | w.bit) : (st.highlight & ~w.bit));
    return;
  }
  mask |= w.bit;
  st.styles = uint16_t(on ? (st.styles | w.bit) : (st.styles & ~w.bit));
}

// "COLORn": palette entry n.
bool PaletteWord(const std::string& t, uint16_t* index) {
  if (!StartsWith(t, "COLOR") || t.size() == 5) return false;
  uint32_t v = 0;
  for (size_t i = 5; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + uint32_t(t[i] - '0');
    if (v >= kPaletteSize) return false;
  }
  *index = uint16_t(v);
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
    bool rgb = false;
    if (PaletteWord(text, &index)) {
      color = PaletteColor(index);
    } else {
      if (ParseColor(text.c_str(), &index, &color, names) != 0) return false;
      // Names and palette numbers are palette colours; the other forms RGB values.
      rgb = text[0] == '#' || StartsWith(text, "RGB");
    }
    st.colorIndex = static_cast<uint8_t>(index);
    st.color = color;
    st.colorRgb = rgb;
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
      if (const FontWord* word = StyleWord(rest)) {
        ApplyStyleWord(*word, t[0] == '+', st, mask);
        continue;
      }
      if (t[0] == '+' && (Equals(rest, "Plain") || Equals(rest, "Normal"))) {
        mask |= FONT_MASK_STYLES | FONT_MASK_HIGHLIGHT;
        st.styles = 0;
        st.highlight = 0;
        continue;
      }
      return NN_ERR_INVALID_ARG;
    }
    if (const FontWord* word = StyleWord(t)) {
      ApplyStyleWord(*word, true, st, mask);
      continue;
    }
    if (Equals(t, "Plain") || Equals(t, "Normal")) {
      mask |= FONT_MASK_STYLES | FONT_MASK_HIGHLIGHT;
      st.styles = 0;
      st.highlight = 0;
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
    if (StartsWith(t, "GRADIENT")) {
      ColorRGB g;
      if (ParseColor(("RGB" + t.substr(8)).c_str(), nullptr, &g) != 0 ||
          !(mask & FONT_MASK_COLOR))
        return NN_ERR_INVALID_ARG;
      st.gradient = g;
      mask |= FONT_MASK_GRADIENT;
      continue;
    }
    if (setColor(t)) continue;
    if (LooksLikeFontWord(t)) return NN_ERR_INVALID_ARG;
    // Other words make up the face name; a quoted name stands alone.
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

void FontApplyChanges(uint32_t* fontIdInOut, uint32_t* colorOut, uint16_t* flagsOut,
                      const FontState* state, uint32_t mask) {
  if (colorOut) *colorOut = 0;
  if (flagsOut) *flagsOut = 0;
  if (!state) return;
  uint32_t id = fontIdInOut ? *fontIdInOut : 0;
  uint8_t face = FontIdFace(id);
  uint8_t attrib = FontIdAttrib(id);
  uint8_t color = FontIdColor(id);
  uint8_t size = FontIdSize(id);

  if ((mask & FONT_MASK_FACE) && state->faceId != kFaceUnresolved)
    face = static_cast<uint8_t>(state->faceId);
  // The styles the byte holds, changed where the mask says, written back;
  // bits the styles do not cover (0x40) stay as they were.
  const uint16_t styleMask = static_cast<uint16_t>(mask & FONT_MASK_STYLES);
  uint16_t styles = StylesOfAttrib(attrib);
  // One effect at a time, and none with a raised or lowered position (their
  // bits name the effect): turning one of them on turns the others off.
  const uint16_t turnedOn = state->styles & styleMask;
  if (turnedOn & (FONT_SHADOW | FONT_EMBOSS | FONT_EXTRUDE | FONT_SUPERSCRIPT | FONT_SUBSCRIPT))
    styles &= uint16_t(~(FONT_SHADOW | FONT_EMBOSS | FONT_EXTRUDE));
  if (turnedOn & (FONT_SHADOW | FONT_EMBOSS | FONT_EXTRUDE))
    styles &= uint16_t(~(FONT_SUPERSCRIPT | FONT_SUBSCRIPT));
  styles = static_cast<uint16_t>((styles & ~styleMask) | (state->styles & styleMask));
  uint8_t next = static_cast<uint8_t>((attrib & 0x40) | (styles & 0x0F));
  int effect = -1;
  for (int e = 0; e < 3; ++e)
    if (styles & kEffectBits[e]) effect = e;
  if (effect >= 0)
    next |= kEffectCodes[effect];
  else
    next |= static_cast<uint8_t>(styles & 0x30);
  attrib = next;
  if (mask & FONT_MASK_SIZE) size = state->pointSize;
  if (mask & FONT_MASK_COLOR) {
    color = state->colorIndex;
    if (colorOut)
      *colorOut = 0x01000000u | static_cast<uint32_t>(state->color.blue) << 16 |
                  static_cast<uint32_t>(state->color.green) << 8 | state->color.red;
    if (flagsOut && state->colorRgb) *flagsOut = 0x0001;
  }
  if ((mask & FONT_MASK_HIGHLIGHT) && flagsOut) *flagsOut |= state->highlight;
  if (fontIdInOut) *fontIdInOut = MakeFontId(face, attrib, color, size);
}

void FontStateOfRun(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                    FontState* out) {
  if (!out) return;
  *out = FontState();
  out->faceId = FontIdFace(fontId);
  out->pointSize = FontIdSize(fontId);
  out->styles = StylesOfAttrib(FontIdAttrib(fontId));
  const uint8_t index = FontIdColor(fontId);
  out->colorIndex = index;
  out->color = PaletteColor(index);
  if (!colorRecord || colorLength < 8) return;
  const uint16_t flags = static_cast<uint16_t>(colorRecord[2] | colorRecord[3] << 8);
  out->highlight = flags & FONT_ALL_HIGHLIGHTS;
  if (!(flags & 1)) return;
  const ColorRGB rgb{colorRecord[4], colorRecord[5], colorRecord[6], 0};
  // An 8-byte record of the entry's own value, which no earlier standard
  // colour has, stands for the palette entry.
  bool standsForIndex = colorLength == 8 && index < kPaletteSize && PaletteColor(index) == rgb;
  for (uint16_t i = 0; standsForIndex && i < index && i < 16; ++i)
    if (PaletteColor(i) == rgb) standsForIndex = false;
  if (standsForIndex) return;
  out->color = rgb;
  out->colorRgb = true;
  if ((flags & 0x10) && colorLength >= 13)
    out->gradient = ColorRGB{colorRecord[10], colorRecord[11], colorRecord[12], 0};
}

uint32_t FontChangeMask(const FontState& current, const FontState& change, uint32_t mask) {
  uint32_t left = mask;
  // Faces compare by name when both are known (the item's table may hold a
  // name under more than one identifier), else by identifier.
  const bool sameFace = current.faceName[0] && change.faceName[0]
                            ? strcasecmp(current.faceName, change.faceName) == 0
                            : change.faceId == current.faceId;
  if ((mask & FONT_MASK_FACE) && sameFace) left &= ~FONT_MASK_FACE;
  if ((mask & FONT_MASK_SIZE) && change.pointSize == current.pointSize) left &= ~FONT_MASK_SIZE;
  const uint16_t styleMask = static_cast<uint16_t>(mask & FONT_MASK_STYLES);
  left &= ~uint32_t(styleMask & ~(change.styles ^ current.styles));
  if ((mask & FONT_MASK_HIGHLIGHT) && change.highlight == current.highlight)
    left &= ~FONT_MASK_HIGHLIGHT;
  if (mask & FONT_MASK_COLOR) {
    // The same colour shown the same way: a palette colour by its entry, an
    // RGB value (with its gradient) by its value.
    bool same = change.colorRgb == current.colorRgb &&
                (change.colorRgb ? change.color == current.color
                                 : change.colorIndex == current.colorIndex);
    if (same && change.colorRgb)
      same = (mask & FONT_MASK_GRADIENT) ? change.gradient == current.gradient
                                         : current.gradient == ColorRGB();
    if (same) left &= ~(FONT_MASK_COLOR | FONT_MASK_GRADIENT);
  }
  return left;
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
    for (size_t i = 0; i < kFontWordCount; ++i) {
      const FontWord& w = kFontWords[i];
      if (w.highlight || !(styleMask & w.bit) || (written & w.bit)) continue;
      written |= w.bit;
      bool on = (state->styles & w.bit) != 0;
      if (plain) {
        if (on) add(w.name);
      } else {
        add(std::string(on ? "+" : "-") + w.name);
      }
    }
    if (mask & FONT_MASK_HIGHLIGHT) {
      // The highlight is one value: its words, or none ("Plain" already says so).
      bool any = false;
      for (size_t i = 0; i < kFontWordCount; ++i)
        if (kFontWords[i].highlight && (state->highlight & kFontWords[i].bit)) {
          add(std::string("+") + kFontWords[i].name);
          any = true;
        }
      if (!any && !plain) add("-HighlightYellow");
    }
    if (mask & FONT_MASK_COLOR) {
      const char* name = ColorName(state->colorIndex, names);
      char word[40];
      if (!state->colorRgb && name && PaletteColor(state->colorIndex) == state->color)
        add(name);
      else if (!state->colorRgb)
        add("COLOR" + std::to_string(state->colorIndex));
      else {
        std::snprintf(word, sizeof word, "#%02X%02X%02X", state->color.red, state->color.green,
                      state->color.blue);
        add(word);
      }
      if (mask & FONT_MASK_GRADIENT) {
        std::snprintf(word, sizeof word, "GRADIENT%u,%u,%u", state->gradient.red,
                      state->gradient.green, state->gradient.blue);
        add(word);
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
  uint16_t styleMask = uint16_t(mask & FONT_MASK_STYLES);
  uint16_t have = StylesOfAttrib(FontIdAttrib(id));
  return (have & styleMask) == (pattern->styles & styleMask) ? 1 : 0;
}
