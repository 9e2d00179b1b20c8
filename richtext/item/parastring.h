// Paragraph strings: the text form of a paragraph's settings, the
// parsed form that the paragraph-definition builder consumes, and the writer
// that turns a paragraph definition back into text.
//
// Grammar. A paragraph string is an option string (host/options.h):
// Key=value pairs separated by blanks; keys match without regard to case and
// include their "="; a value holding blanks is quoted with ', ", | or ~.
// ChangeParagraph (and a paragraph string given as AppendParagraph's font)
// refuses a key not listed here (1028); elsewhere unknown keys are ignored.
// Words in values match without regard to case.
//
//   Lengths ("LeftMargin=", "RightMargin=", "FirstLineLeftMargin=",
//   "TabInterval=", the positions of "Tabs="): a decimal number with an
//   optional unit: none or "in" inches, "cm", "mm", "pt" (20 twips), "tw"
//   (twips). 1,440 twips make an inch. Absolute lengths run 0 to 65,535 twips.
//
//   LeftMargin=, RightMargin=, FirstLineLeftMargin=
//       absolute length ("1", "1.5in", "2.54cm", "720tw"); a percentage of the
//       window ("50%", 0 to 100; sets the margin's extension in percent); a
//       leading "+" or "-" makes the value relative ("+0.5in", "-3%"): it is
//       handed on as a delta and added to the paragraph's current margin.
//       A relative FirstLineLeftMargin moves with the left-margin delta (the
//       builder has one left delta): given together with a relative
//       LeftMargin, both must name the same amount.
//   SpacingAbove=, SpacingBelow=, LineSpacing=
//       Single | OneAndHalf | Double (also 0, 1, 2, "1.5").
//   Alignment=  Left | Right | Full (also Justify, Block) | Center (Centre) | None
//   Tabs=       stops separated by blanks or commas, each a length with an
//               optional leading type letter: L left (default), R right,
//               C center, D decimal ("L0.5in R3in"); at most 20 stops, only
//               the first 16 keep a type other than left; "None" or empty
//               removes every stop.
//   TabInterval= a length: the interval of default stops (no explicit stops).
//   List=       Bullet | Circle | Square | Checkmark (checked box) |
//               Checkbox (unchecked box) | Number | Alpha | UpperAlpha |
//               Roman | UpperRoman; None removes any list.
//   RemoveList= one of the List= names: removes the list only when the
//               paragraph has that variant; Any (also Yes, All) removes any list.
//   KeepWithNext=, KeepTogether=, PageBreakBefore=
//               Yes | No (also True/False, On/Off, 1/0).
//   Hide=       words separated by blanks or commas: Read, Edit, Print, Copy,
//               Preview, PreviewEdit, Client, Web; None shows the paragraph
//               everywhere. The named settings are set, the others cleared.
//   HideWhen=   a hide-when formula text (the extension text); an empty value
//               removes the formula.
//   Direction=  LTR | RTL.
//
// ParagraphSpec receives the result; FormatParagraphSpec writes every key
// above (except the relative forms and RemoveList=) so that its text parses
// back to the same settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "nn/nn.h"

// Indexes of ParagraphSpec::given.
enum : uint32_t {
  kGivenLeftMargin = 0,
  kGivenRightMargin = 1,
  kGivenFirstLine = 2,
  kGivenSpaceBefore = 3,
  kGivenSpaceAfter = 4,
  kGivenLineSpacing = 5,
  kGivenTabs = 6,
  kGivenFirstTabOnly = 7,
  kGivenJustify = 8,
  kGivenBothFlagWords = 9,
  kGivenSetPending = 10,     // written by the builder
  kGivenClearPending = 11,   // written by the builder
  kGivenLeftExtension = 12,
  kGivenRightExtension = 13,
  kGivenFirstLineExtension = 14,
  kGivenLeftRelative = 15,
  kGivenRightRelative = 16,
  kGivenPercentRelative = 17,
  kGivenListStyle = 19,
  kGivenListRemoval = 20,
  kGivenCount = 21,
};

// Paragraph-definition flag bits (word at host offset 62).
enum : uint16_t {
  kPabPageBreakBefore = 0x0001,
  kPabKeepWithNext = 0x0002,
  kPabKeepTogether = 0x0004,
  kPabHideRead = 0x0010,
  kPabHideEdit = 0x0020,
  kPabHidePrint = 0x0040,
  kPabAlways = 0x0100,
  kPabHideCopy = 0x0200,
  kPabBullet = 0x0400,
  kPabHideFormula = 0x0800,
  kPabNumbered = 0x1000,
  kPabHidePreview = 0x2000,
  kPabHidePreviewEdit = 0x4000,
  kPabHideClient = 0x8000,
};
// Second flag bits (word at host offset 68).
enum : uint16_t {
  kPab2HideWeb = 0x0001,
  kPab2LeftOffset = 0x0004,
  kPab2LeftPercent = 0x0008,
  kPab2FirstOffset = 0x0010,
  kPab2FirstPercent = 0x0020,
  kPab2RightOffset = 0x0040,
  kPab2RightPercent = 0x0080,
  kPab2NoRightMargin = 0x0400,
  kPab2RightToLeft = 0x4000,
  kPab2ExtraFlags = 0x8000,
  kPab2ListBits = 0x3802,
};

// List-style (and list-removal) selector bits.
enum : uint16_t {
  kListAny = 0x001,
  kListBullet = 0x002,
  kListNumber = 0x004,
  kListChecked = 0x008,
  kListCircle = 0x010,
  kListSquare = 0x020,
  kListUnchecked = 0x040,
  kListAlpha = 0x080,
  kListRoman = 0x100,
  kListUpperAlpha = 0x200,
  kListUpperRoman = 0x400,
};

// Host offsets of the paragraph definition's extension words.
constexpr uint32_t kPabExtLeftTwips = 72;
constexpr uint32_t kPabExtLeftPercent = 74;
constexpr uint32_t kPabExtFirstTwips = 76;
constexpr uint32_t kPabExtFirstPercent = 78;
constexpr uint32_t kPabExtRightTwips = 80;
constexpr uint32_t kPabExtRightPercent = 82;
constexpr uint32_t kPabExtMoreFlags = 84;
constexpr uint32_t kPabExtExtraValues = 88;
constexpr uint32_t kPabFullLength = 92;   // host length with every extension
constexpr uint32_t kPabMarginLength = 84; // host length with the margin extension
constexpr uint32_t kPabMaxTabs = 20;

constexpr size_t kParagraphExtTextMax = 4095;

// The outputs of TorvoRTItem::ParseParagraphString (its `void* outputs`).
struct ParagraphSpec {
  // The source definition (0xFF82, host layout, 92 bytes): the requested
  // values of every field whose marker is given; word 31 holds 0x0100 and the
  // requested flag bits, word 34 the requested percent and list bits.
  uint8_t definition[kPabFullLength] = {};
  int32_t given[kGivenCount] = {};
  uint16_t flagsSet = 0;      // word 31
  uint16_t flagsClear = 0;
  uint16_t flags2Set = 0;     // word 34
  uint16_t flags2Clear = 0;
  uint32_t extraSet = 0;      // the extra values (host offset 88)
  uint32_t extraClear = 0;
  uint16_t listStyle = 0;     // kList* selector, 0 none
  uint16_t listRemoval = 0;   // kList* selector, 0 none
  int32_t leftDelta = 0;      // twips
  int32_t rightDelta = 0;     // twips
  int32_t percentDelta = 0;   // left percent
  int32_t rightPercentDelta = 0;
  // Hide-when formula text (for a 0xFFBB record); hasHideWhen 1 when the
  // string named one (an empty text then removes it).
  uint16_t hasHideWhen = 0;
  uint16_t hideWhenLength = 0;
  char hideWhen[kParagraphExtTextMax + 1] = {};
};

// Resets the outputs to "nothing requested": a source definition with the
// header of a full-length definition and flag 0x0100.
void ParagraphSpecReset(ParagraphSpec* out);

// Parses `spec` and then `spec2` (either may be null; a key in spec2 wins)
// into `out`. NN_ERR_INVALID_ARG for a malformed value (out untouched); a
// string without known keys leaves `out` reset. `strict` (kStrictFirst,
// kStrictSecond) makes a word of that string that is no pair, or a key the
// grammar does not have, NN_ERR_INVALID_ARG too: a paragraph change must not
// drop a key it was given.
enum : int { kStrictFirst = 1, kStrictSecond = 2 };
NnStatus ParseParagraphSpec(const char* spec, const char* spec2, ParagraphSpec* out,
                            int strict = 0);

// Writes the settings of a paragraph definition (host layout, `length` bytes
// readable; at least the 72-byte fixed part) as a string, each pair
// followed by a blank. Empty when the definition is too short.
std::string FormatParagraphSpec(const uint8_t* definition, size_t length);
