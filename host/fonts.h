// Font strings, the parsed font state and the 32-bit font identifier.
//
// Font identifier (u32; bytes on a little-endian host): byte 0 face id,
// byte 1 attributes, byte 2 colour (palette index), byte 3 point size.
// Attribute bits: bold 0x01, italic 0x02, underline 0x04, strikeout 0x08,
// superscript 0x10, subscript 0x20; 0x80 marks an effect, which the bits
// 0x10 and 0x20 then name: 0x80 shadow, 0x90 emboss, 0xA0 extrude (an effect
// has no superscript or subscript).
//
// A run's colour record (210) may follow its text: flags word (1 the RGB
// value holds, 0x10 a gradient follows, 0x8000/0x4000/0x2000 yellow, pink
// and blue highlight), red, green, blue, and with a gradient (14 bytes) the
// gradient's red, green and blue at offsets 10 to 12.
//
// Grammar of a font string (words separated by blanks, all matched
// without regard to case). It reads every word the property writers give
// ("Bold Italic DarkBlue 12pt Arial", "HighlightYellow", "Embossed",
// "COLOR77", "RGB127,96,79 GRADIENT1,2,3"):
// - "+WORD" turns a style on, "-WORD" turns it off, a bare style word turns it
//   on. Style words (kFontWords): Bold, Italic, Underline, Strikethrough (also
//   Strikeout), Superscript (Super), Subscript (Sub), Shadowed (Shadow),
//   Embossed (Emboss), Extruded (Extrude), and the highlights HighlightYellow,
//   HighlightPink, HighlightBlue.
// - "Plain" or "Normal" (also "+Plain") clears every style and highlight;
//   later style words still apply.
// - A number with "pt" ("12pt") or a bare number ("12") is the point size,
//   1 to 255.
// - A colour: a colour name, "COLORn" (palette entry n), "#rgb"/"#rrggbb",
//   "RGB(r,g,b)", "RGBr,g,b" or "RGB r g b" (see host/color.h); after it
//   "GRADIENTr,g,b" names a gradient.
// - A word quoted with ' or " (it may contain blanks) is the face name.
// - Any other word belongs to the face name; several such words are joined
//   with single blanks ("Times New Roman 12pt" has the face
//   "Times New Roman"). A quoted name replaces any earlier face name, and an
//   unquoted word after a quoted name starts a new one.
// - A word shaped like one of the words above that does not read as one
//   ("RGB1,2", "COLOR999", "12px", "HighlightGreen", "+Arial") is an error:
//   it never becomes part of a face name.
// Face names with fixed ids: 0 "Times New Roman" (also "Times", "Roman"),
// 1 "Arial" (also "Helvetica", "Swiss"), 4 "Courier New" (also "Courier",
// "Typewriter"). Other names go to the face resolver (SetFontFaceResolver)
// when an item is given; without an item or resolver, or when the resolver
// does not know the name, the face id stays kFaceUnresolved and only the name
// is kept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/color.h"

// Style bits of FontState::styles (the low six equal the attribute bits).
constexpr uint16_t FONT_BOLD = 0x0001;
constexpr uint16_t FONT_ITALIC = 0x0002;
constexpr uint16_t FONT_UNDERLINE = 0x0004;
constexpr uint16_t FONT_STRIKEOUT = 0x0008;
constexpr uint16_t FONT_SUPERSCRIPT = 0x0010;
constexpr uint16_t FONT_SUBSCRIPT = 0x0020;
constexpr uint16_t FONT_SHADOW = 0x0040;
constexpr uint16_t FONT_EMBOSS = 0x0080;
constexpr uint16_t FONT_EXTRUDE = 0x0100;
constexpr uint16_t FONT_ALL_STYLES = 0x01FF;

// Highlight bits of FontState::highlight: those of the colour record's flags.
constexpr uint16_t FONT_HIGHLIGHT_YELLOW = 0x8000;
constexpr uint16_t FONT_HIGHLIGHT_PINK = 0x4000;
constexpr uint16_t FONT_HIGHLIGHT_BLUE = 0x2000;
constexpr uint16_t FONT_ALL_HIGHLIGHTS = 0xE000;

// The style and highlight words, in the order the property writers give
// them; a bit's first row is its written word, later rows are other names.
struct FontWord {
  const char* name;
  uint16_t bit;
  bool highlight;  // a bit of FontState::highlight, not of styles
};
extern const FontWord kFontWords[];
extern const size_t kFontWordCount;

// Mask bits: the low 16 are the style bits whose value the string set;
// the others say which further parts it set.
constexpr uint32_t FONT_MASK_STYLES = 0x000001FF;
constexpr uint32_t FONT_MASK_FACE = 0x00010000;
constexpr uint32_t FONT_MASK_SIZE = 0x00020000;
constexpr uint32_t FONT_MASK_COLOR = 0x00040000;
constexpr uint32_t FONT_MASK_HIGHLIGHT = 0x00080000;
constexpr uint32_t FONT_MASK_GRADIENT = 0x00100000;

constexpr uint16_t kFaceUnresolved = 0xFFFF;
constexpr size_t kFaceNameMax = 131;

struct FontState {
  uint16_t faceId = kFaceUnresolved;  // kFaceUnresolved: known by name only
  char faceName[kFaceNameMax + 1] = {};
  uint8_t pointSize = 0;
  uint8_t colorIndex = 0;             // palette index (0..239)
  ColorRGB color;                     // the colour as given
  bool colorRgb = false;              // given as an RGB value, not a palette colour
  ColorRGB gradient;                  // with FONT_MASK_GRADIENT
  uint16_t styles = 0;                // FONT_* bits
  uint16_t highlight = 0;             // FONT_HIGHLIGHT_* bits
};

// Resolves a face name through an item's font table: the face id, or -1.
// It answers from the item it is given, so one resolver serves every session.
using FontFaceResolver = int (*)(void* item, const char* faceName);
// Installs the process-wide resolver (null removes it) and returns the one it
// replaces. The library installs its own once, when it loads.
FontFaceResolver SetFontFaceResolver(FontFaceResolver resolver);

// The fixed id of a face name, or -1.
int FontFaceIdForName(const char* faceName);

// Parses `spec` and then `spec2` (either may be null) into a fresh state and
// mask: the result is written to `stateOut` / `maskOut` (either may be null)
// only on success. Returns 0, or 1028 (NN_ERR_INVALID_ARG) for a word that is
// malformed (a point size out of range, an unterminated quote, a face name
// longer than 131 characters, "+"/"-" before a word that is no style),
// leaving the outputs as they were.
uint16_t ParseFontSpec(const char* spec, const char* spec2, void* item, FontState* stateOut,
                       uint32_t* maskOut, ColorNames names = ColorNames::Standard);

// Applies the parts of `state` selected by `mask` to the font identifier.
// `colorOut` gets 0x01000000 | blue << 16 | green << 8 | red when the mask
// holds a colour (the top byte tells black from no change), else 0;
// `flagsOut` gets the flags word of the colour record the change asks for:
// 1 when the colour is an RGB value, and the highlight bits of the state
// when the mask holds FONT_MASK_HIGHLIGHT; else 0. Outputs may be null. A
// face that is not resolved leaves the face byte as it was.
void FontApplyChanges(uint32_t* fontIdInOut, uint32_t* colorOut, uint16_t* flagsOut,
                      const FontState* state, uint32_t mask);

// The font a run shows: its identifier and the colour record (210) that
// may follow its text (null when none). The colour is the record's RGB value
// when its flag 1 is set and it does not stand for the identifier's palette
// entry (an 8-byte record whose value is that entry's and no earlier one's
// of the first 16), else the palette entry. The face name stays empty.
void FontStateOfRun(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                    FontState* out);

// The mask of a change less the parts a run showing `current` already has:
// applying what is left changes only what differs (an empty mask: nothing).
// Faces compare by name when both states hold one.
uint32_t FontChangeMask(const FontState& current, const FontState& change, uint32_t mask);

// Writes a string that parses back to the same state and mask (under
// the same naming set). Returns 0; 263 (NN_ERR_MEMORY) when it does not fit
// `outSize` bytes with its NUL; 1028 for a face name holding both quote
// characters. On failure `out` holds the empty text.
uint16_t FontSpecToText(const FontState* state, uint32_t mask, char* out, size_t outSize,
                        ColorNames names = ColorNames::Standard);

// Font identifier helpers.
inline uint8_t FontIdFace(uint32_t id) { return static_cast<uint8_t>(id); }
inline uint8_t FontIdAttrib(uint32_t id) { return static_cast<uint8_t>(id >> 8); }
inline uint8_t FontIdColor(uint32_t id) { return static_cast<uint8_t>(id >> 16); }
inline uint8_t FontIdSize(uint32_t id) { return static_cast<uint8_t>(id >> 24); }
inline uint32_t MakeFontId(uint8_t face, uint8_t attrib, uint8_t color, uint8_t size) {
  return static_cast<uint32_t>(face) | static_cast<uint32_t>(attrib) << 8 |
         static_cast<uint32_t>(color) << 16 | static_cast<uint32_t>(size) << 24;
}

// Non-zero when the run's font identifier matches the parts of `pattern` that
// `mask` selects (face when resolved, point size, colour, and each style bit of
// the mask); a null pattern or an empty mask matches every font.
int FontMatches(const uint32_t* fontId, const FontState* pattern, uint32_t mask);
