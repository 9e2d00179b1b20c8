// Property text writers: each appends the Key=value pairs of one record kind
// to an output text, in the option-string form that the setters and composers
// read back. Records are in host layout and untrusted: every field read is
// bounds-checked against the record's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TorvoRTItem;
struct RTRecordNode;
struct FontState;

// A bounded output text. Appends never write past `size` bytes (the text stays
// NUL-terminated); what does not fit is cut and `overflow` is raised.
struct PropText {
  char* text = nullptr;
  uint32_t size = 0;    // bytes at text, the NUL included
  uint32_t length = 0;  // bytes written, the NUL excluded
  bool overflow = false;

  PropText(char* buffer, uint32_t bufferSize, uint32_t used = 0);
  void Append(const char* s, uint32_t n);
  void Append(const char* s);
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Removes one trailing blank when there is one.
  void DropTrailingBlank();
};

// One flag per key of a listing: a key is written once, from the first record
// that carries it. A view over a caller's block of kWrittenFlagCount bytes.
constexpr uint32_t kWrittenFlagCount = 32;
struct WrittenFlags {
  uint8_t* flag = nullptr;
  explicit WrittenFlags(uint8_t* block) : flag(block) {}
  bool Test(uint32_t i) const { return flag && i < kWrittenFlagCount && flag[i]; }
  void Set(uint32_t i) {
    if (flag && i < kWrittenFlagCount) flag[i] = 1;
  }
};

// Colour-name sets of the 16 standard colours: 1 Black .. LightGray (the
// item's default), 0 the web names (Lime, Fuchsia, Aqua, Maroon ...).
uint16_t ItemColorNaming(const TorvoRTItem* item);

// One colour: style 0 the colour name (indices 0-15), "#rrggbb" (16-239) or
// "#000000"; style 1 "rgb(r,g,b)"; style 2 and above "#rrggbb" for every index.
int WriteColorName(uint32_t index, PropText* out, uint32_t style, uint16_t naming = 1);

// The colour part of a font: a colour record 210 (may be null) with an RGB
// value that does not stand for `index` gives "RGBr,g,b" (and " GRADIENTr,g,b"),
// else the index by name ("COLOR%d" beyond 15). Style 1 gives "rgb(r,g,b)"
// forms instead.
int WriteColorSpec(uint32_t index, const uint8_t* colorRecord, uint32_t colorLength,
                   PropText* out, uint32_t style, uint16_t naming = 1);

// "key=" and a text that may hold any character, between the first of ' " |
// that it does not hold (else ~), and a blank: the form the option parser
// reads back. The text ends at a NUL within its n bytes.
void WriteDelimitedValue(const char* key, const char* text, uint32_t n, PropText* out);

// One string of an attribute record (0xFF7A, 0xFF7B; slot 0 ID, 1 Class,
// 2 Style, 3 Title, 4 Other, 5 Name) as a delimited value. An empty string
// is written only `alone`; false when nothing was written.
bool WriteHtmlAttrValue(const uint8_t* rec, uint32_t len, uint32_t slot, const char* key,
                        bool alone, PropText* out);

// Puts `n` bytes of `value` in the string of `slot` of an attribute record
// (host layout, at least its 26-byte head), which grows or shrinks; the
// length word is rounded up to even with a zero pad byte. A value equal to
// the stored one leaves the bytes as they are. False when the record's
// lengths overrun it or the new record would be too long.
bool SetHtmlAttrValue(std::vector<uint8_t>* rec, uint32_t slot, const char* value, size_t n);

// The HTML keys of an element from an attribute record (0xFF7A, 0xFF7B):
// "<prefix>HTMLId='..' " and so on. `requested` is the asked index; `first` the
// index of the HTMLId key in the list and `all` the index asking for every
// key. `flags` are indexed by list index.
int WriteHtmlAttrProps(const uint8_t* rec, uint32_t len, PropText* out, const char* prefix,
                       uint32_t requested, uint32_t first, uint32_t all, WrittenFlags* flags);

// Graphic lists (index 17 = all): AltText 0, Caption 1.
int WriteAltTextProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags);
int WriteCaptionProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags);

// Table keys: richtext/engine/tablefields.h.

// Font words of a font identifier (face, attributes, colour index, size
// bytes) and an optional colour record 210. `code` chooses the parts: 2317
// all, 2318 colour, 2319 face, 2328 size, 2333 attributes. Starts `out` empty.
int WriteFontStyleProps(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                        const TorvoRTItem* item, PropText* out, uint32_t code);
// The font a run shows, as those words give it: FontStateOfRun with the face
// named from the item's table.
void RunFontState(uint32_t fontId, const uint8_t* colorRecord, uint32_t colorLength,
                  const TorvoRTItem* item, FontState* out);
// The same for the font identifier at `fontOffset` of a record.
int WriteFontStylePropsFrom(const uint8_t* rec, uint32_t len, uint32_t fontOffset,
                            const uint8_t* colorRecord, uint32_t colorLength,
                            const TorvoRTItem* item, PropText* out, uint32_t code);
// The older words: no highlights, no RGB colours.
int WriteFontWords(uint32_t fontId, const TorvoRTItem* item, PropText* out, uint32_t code);

// Image-map area (0xFFF5; Shape 6, TabIndex 7, all 8) and image map (0xFFF4;
// MapName 0, all 1).
int WriteShapeProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                    WrittenFlags* flags);
int WriteMapNameProp(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                     WrittenFlags* flags);

// Horizontal rules. WriteImageProps reads an option string into a rule record
// (0xFFC9, at least 16 bytes) or a colour record (210, room for 14 bytes);
// `initialise` first sets the defaults. 0, or NN_ERR_INVALID_ARG for another
// signature or a record too small.
int WriteImageProps(uint16_t signature, uint8_t* rec, uint32_t recSize, const char* options,
                    int initialise);
// Rule keys (all = 12). The colour record that may follow the rule is passed
// as colorRecord (null when none).
int WriteImageFlagProps(const uint8_t* rec, uint32_t len, const uint8_t* colorRecord,
                        uint32_t colorLength, PropText* out, uint32_t selector,
                        WrittenFlags* flags, uint16_t naming = 1);

// Lengths: flags (1 auto, 2 inherit), value and unit (1 in, 2 px, 3 %, 4 em,
// 5 ex, 6 ch).
void WriteLengthProp(uint16_t flags, double value, uint8_t unit, PropText* out);
// Layer position record 107 (all = 17) and box size record 106 (Width 15, Height 16).
int WriteLayerPositionProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                            WrittenFlags* flags);
int WriteLayerSizeProps(const uint8_t* rec, uint32_t len, PropText* out, uint32_t selector,
                        WrittenFlags* flags);
