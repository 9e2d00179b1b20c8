// The chunk engine's vocabulary: operation rows, target types with their
// names and record descriptors, property-name lists and small lookups.
#include "richtext/engine/opcodes.h"

#include <cstring>
#include <initializer_list>
#include <strings.h>
#include <utility>

// ---- Operation codes ---------------------------------------------------------

// {code, modifies the item, class}; found by arithmetic on the code.
const ChunkOperationRow ChunkOperationTable[kChunkOperationRows + 1] = {
    {2351, 1, 0}, {2352, 1, 0}, {2353, 1, 0}, {2354, 1, 0}, {2355, 1, 0},
    {2356, 1, 0}, {2357, 1, 0}, {2358, 1, 0}, {2359, 1, 0}, {2360, 1, 0},
    {2361, 1, 0}, {2362, 1, 0}, {2363, 1, 0}, {2364, 1, 0}, {2365, 0, 6},
    {2366, 1, 0}, {2367, 0, 0}, {2368, 0, 5}, {2369, 0, 0}, {2370, 0, 0},
    {2371, 0, 0}, {2372, 1, 0}, {2373, 1, 0}, {2374, 1, 0}, {2375, 1, 0},
    {2376, 1, 0}, {2377, 1, 0}, {2378, 1, 0}, {2379, 1, 0}, {2380, 1, 0},
    {2381, 1, 0}, {2382, 1, 0}, {2383, 1, 0}, {2384, 1, 0}, {2385, 1, 1},
    {2386, 1, 1}, {2387, 1, 0}, {2388, 1, 0}, {2389, 1, 0}, {2390, 1, 0},
    {2391, 1, 0}, {2392, 1, 0}, {2393, 1, 0}, {2394, 1, 0}, {2395, 1, 0},
    {2396, 1, 0}, {2397, 1, 0}, {2398, 0, 0}, {2399, 1, 0}, {2400, 0, 0},
    {2401, 0, 0}, {2402, 0, 0}, {2403, 0, 0}, {2404, 1, 0}, {2405, 1, 0},
    {2406, 1, 0}, {2407, 0, 0}, {2408, 0, 0}, {2409, 1, 0}, {2410, 1, 0},
    {2411, 1, 0}, {2412, 1, 0}, {2413, 1, 0}, {2414, 0, 0}, {2415, 1, 0},
    {2416, 1, 0}, {2417, 1, 0}, {2418, 0, 0}, {2419, 0, 0}, {2420, 0, 0},
    {2421, 0, 0}, {2422, 1, 0}, {2423, 1, 0}, {2424, 1, 0}, {2425, 1, 0},
    {2426, 1, 0}, {2427, 0, 0}, {2428, 1, 0}, {2429, 1, 0}, {2430, 1, 0},
    {2431, 0, 0}, {2432, 0, 0}, {2433, 1, 0}, {2434, 1, 0}, {2435, 0, 0},
    {2436, 0, 0}, {2437, 1, 0}, {2438, 1, 0}, {2439, 1, 0}, {2440, 1, 0},
    {2441, 1, 0}, {2442, 1, 0}, {2443, 1, 0}, {2444, 0, 6}, {2445, 1, 0},
    {2446, 1, 0}, {2447, 1, 0}, {2448, 1, 0}, {2449, 1, 0}, {2801, 1, 1},
    {2802, 1, 1}, {2803, 1, 1}, {2804, 0, 1}, {2805, 1, 1}, {2806, 1, 1},
    {2807, 1, 1}, {2808, 1, 0}, {2809, 1, 0}, {2810, 1, 0}, {2811, 1, 0},
    {2812, 1, 0}, {2813, 1, 0}, {2814, 1, 0}, {2815, 1, 0}, {2816, 1, 0},
    {2817, 1, 0}, {2818, 0, 1}, {2819, 1, 0}, {2820, 1, 0}, {2821, 1, 0},
    {2822, 1, 1}, {2823, 0, 1}, {2824, 1, 0}, {2825, 0, 0}, {2826, 0, 0},
    {2827, 1, 0}, {0, 0, 0},
};

uint32_t ChunkOperationWriteMode(ChunkOperationCode code, uint32_t subCode) {
  if (code >= 1 && code <= 77) {
    switch (code) {
      case 4: case 6: case 8: case 10: case 17: case 21: case 23: case 25: case 30:
      case 32: case 34: case 40: case 42: case 44: case 48: case 49: case 54: case 55:
      case 68: case 69: case 71: case 72:
        return 1;
      default:
        return 0;
    }
  }
  // Removing a link-matching result and a graphic verification only read.
  if ((code == 2386 && subCode == 2804) || (code == 2819 && subCode == 2818)) return 0;
  if (code >= 2351 && code <= 2449) return ChunkOperationTable[code - 2351].modifies;
  if (code >= 2801 && code <= 2827) return ChunkOperationTable[99 + code - 2801].modifies;
  return 0;
}

// ---- Target types ------------------------------------------------------------------

// Page breaks and tagged text have no display name.
const char* const TargetTypeNames[kTargetTypeCount] = {
    "Everything",   "Table",         "Hotspot",       "Button",         "Section",
    "Row",          "Column",        "File",          "Doclink",        "Text",
    "StylizedText", "RawText",       "Record",        "OleObject",      "Anchor",
    "Graphic",      "Hyperlink",     "ActionHotspot", "Popup",          "Field",
    "Event",        "Paragraph",     "XML",           "Subform",        "ComputedText",
    "HTML",         "XHTML",         "HR",            "PassthruHTML",   "Layer",
    "LayoutRegion", "URLLink",       "ImageMap",      "GraphicHotspot", "Ignored",
    "NonBlankText", "ParagraphList", "DelimitedHTML", nullptr,          nullptr,
};

namespace {

// Descriptor rows, written in the order of their fields.
constexpr uint16_t kHotspotStarts[4] = {0xFFAD, 0xFFA9, 0xFF7E, 0xFF74};

TargetTypeDescriptor Row(uint16_t type) {
  TargetTypeDescriptor d{};
  d.targetType = type;
  d.notRowOrColumn = (type == ROW || type == COLUMN) ? 0 : 1;
  switch (type) {
    case DOCLINK: case TEXT: case RAWTEXT: case RECORD: case ANCHOR: case FIELD:
    case HORIZONTALRULE: case NONBLANKTEXT: case PAGEBREAK:
      d.singleRecord = 1;
      break;
    default:
      break;
  }
  switch (type) {
    case ROW: case COLUMN: case DOCLINK: case TEXT: case STYLIZEDTEXT: case RAWTEXT:
    case ANCHOR: case GRAPHIC: case EVENT: case PARAGRAPH: case HORIZONTALRULE:
    case NONBLANKTEXT: case PARAGRAPHLIST: case PAGEBREAK:
      d.endOutside = 1;
      break;
    default:
      break;
  }
  d.layerLike = (type == LAYER || type == ImageMap || type == GraphicHotspot) ? 1 : 0;
  return d;
}

template <size_t N>
void Set(uint16_t (&field)[N], std::initializer_list<uint16_t> values) {
  size_t i = 0;
  for (uint16_t v : values) {
    if (i < N) field[i++] = v;
  }
}

void Hotspot(TargetTypeDescriptor& d) {
  for (int i = 0; i < 4; ++i) d.startSignatures[i] = d.beginSignatures[i] = kHotspotStarts[i];
  Set(d.endSignatures, {174, 170});
  Set(d.insideEndSignatures, {0xFFAD, 0xFFA9, 174, 170});
}

void TextRecords(TargetTypeDescriptor& d) {
  Set(d.startSignatures, {0xFF85, 0xFFC3, 0xFFE4, 0xFFE5});
  Set(d.beginSignatures, {0xFF85, 0xFFE4});
  Set(d.endSignatures, {0xFF85, 0xFFE4});
  Set(d.insideEndSignatures, {0xFF85, 0xFFE4});
}

struct DescriptorTable {
  TargetTypeDescriptor rows[kTargetTypeCount];
  DescriptorTable() {
    for (uint16_t t = 1; t < kTargetTypeCount; ++t) rows[t] = Row(t);
    TargetTypeDescriptor* r = rows;

    Set(r[TABLE].startSignatures, {163, 0xFFFB, 207});
    Set(r[TABLE].beginSignatures, {163, 0xFFFB, 207});
    Set(r[TABLE].endSignatures, {165, 209});
    Set(r[TABLE].insideEndSignatures, {163, 165, 164, 0xFFFB, 207, 208, 209});

    for (uint16_t t : {HOTSPOT, BUTTON, SECTION, FILE_ATTACHMENT, HYPERLINK, ACTIONHOTSPOT,
                       POPUP, SUBFORM, COMPUTEDTEXT, URLLink}) {
      Hotspot(r[t]);
    }
    r[SECTION].insideEndSignatures[4] = 0xFFAC;
    r[BUTTON].selectCount = 1;
    Set(r[BUTTON].selectValues, {3});
    r[SECTION].selectCount = 3;
    Set(r[SECTION].selectValues, {12, 7, 13});
    r[FILE_ATTACHMENT].selectCount = 1;
    Set(r[FILE_ATTACHMENT].selectValues, {4});
    r[HYPERLINK].selectCount = 2;
    Set(r[HYPERLINK].selectValues, {11, 32});
    r[ACTIONHOTSPOT].selectCount = 1;
    Set(r[ACTIONHOTSPOT].selectValues, {2});
    r[ACTIONHOTSPOT].excludeCount = 2;
    r[ACTIONHOTSPOT].excludeMasks[0] = 0x10;
    r[ACTIONHOTSPOT].excludeMasks[1] = 0x100;
    r[POPUP].selectCount = 2;
    Set(r[POPUP].selectValues, {1, 22});
    r[POPUP].excludeCount = 1;
    r[POPUP].excludeMasks[0] = 0x40000;
    r[SUBFORM].selectCount = 1;
    Set(r[SUBFORM].selectValues, {14});
    r[COMPUTEDTEXT].selectCount = 1;
    Set(r[COMPUTEDTEXT].selectValues, {1});
    r[COMPUTEDTEXT].requireCount = 1;
    r[COMPUTEDTEXT].requireMasks[0] = 0x40000;
    r[URLLink].selectCount = 2;
    Set(r[URLLink].selectValues, {11, 32});
    r[URLLink].requireCount = 1;
    r[URLLink].requireMasks[0] = 0x1000;

    for (uint16_t t : {ROW, COLUMN}) {
      Set(r[t].startSignatures, {164, 208});
      Set(r[t].beginSignatures, {164, 208});
      Set(r[t].endSignatures, {164, 165, 208, 209});
      Set(r[t].insideEndSignatures, {164, 208});
    }

    Set(r[DOCLINK].startSignatures, {0xFF92, 0xFF91});
    Set(r[DOCLINK].beginSignatures, {0xFF92, 0xFF91});
    Set(r[DOCLINK].endSignatures, {0xFF92, 0xFF91});

    // Plain text also starts at a bidirectional text record (the text
    // records' other kind), as its end lists already say.
    Set(r[TEXT].startSignatures, {0xFF85, 0xFFC3, 0xFFE4, 0xFFE5});
    Set(r[TEXT].beginSignatures, {0xFF85, 0xFFE4});
    Set(r[TEXT].endSignatures, {0xFF85, 0xFFE4});
    Set(r[TEXT].insideEndSignatures, {0xFF85, 0xFFE4});

    Set(r[STYLIZEDTEXT].startSignatures, {0xFF85, 0xFFC3, 0xFFE4, 0xFFE5});
    Set(r[STYLIZEDTEXT].beginSignatures, {0xFF85, 0xFFE4});
    Set(r[STYLIZEDTEXT].endSignatures, {0xFF85, 0xFFE4});
    Set(r[STYLIZEDTEXT].insideEndSignatures, {0xFF85, 131, 129, 0xFF82, 0xFFE4});

    Set(r[RAWTEXT].startSignatures, {0xFF85, 0xFFE4});
    Set(r[RAWTEXT].beginSignatures, {0xFF85, 0xFFE4});
    Set(r[RAWTEXT].endSignatures, {0xFF85, 0xFFE4});
    Set(r[RAWTEXT].insideEndSignatures, {0xFF85, 0xFFE4});

    Set(r[OLEOBJECT].startSignatures, {0xFFA7});
    Set(r[OLEOBJECT].beginSignatures, {0xFFA7});
    Set(r[OLEOBJECT].endSignatures, {0xFFA8});
    Set(r[OLEOBJECT].insideEndSignatures, {0xFFA7, 0xFFA8});

    for (uint16_t t : {ANCHOR}) {
      Set(r[t].startSignatures, {0xFFCB});
      Set(r[t].beginSignatures, {0xFFCB});
      Set(r[t].endSignatures, {0xFFCB});
      Set(r[t].insideEndSignatures, {0xFFCB});
    }

    Set(r[GRAPHIC].startSignatures, {153});
    Set(r[GRAPHIC].beginSignatures, {153});
    Set(r[GRAPHIC].endSignatures, {153, 0xFF85, 129, 170, 174, 0xFFF4, 0xFF68});

    Set(r[FIELD].startSignatures, {0xFF8A, 0xFFFE, 0xFFF7});
    Set(r[FIELD].beginSignatures, {0xFF8A, 0xFFF7, 0xFFFE});
    Set(r[FIELD].endSignatures, {0xFF8A, 0xFFB0, 0xFFFE, 0xFFF7});
    Set(r[FIELD].insideEndSignatures, {0xFF8A, 0xFFB0, 0xFFFE, 0xFFF7});

    Set(r[EVENT].startSignatures, {0xFFF9});
    Set(r[EVENT].beginSignatures, {0xFFF9});
    Set(r[EVENT].endSignatures, {222, 0xFF8A, 0xFFF7, 0xFF85, 0xFFF5, 0xFFE4});

    for (uint16_t t : {PARAGRAPH, PARAGRAPHLIST}) {
      Set(r[t].startSignatures, {129, 131, 0xFF82});
      Set(r[t].endSignatures, {165, 209, 164, 208});
      Set(r[t].insideEndSignatures, {129, 131, 0xFF82, 188, 0xFFBB});
    }
    // List paragraphs: paragraph-definition flags, tested by the engine on
    // the definition the paragraph refers to.
    r[PARAGRAPHLIST].requireCount = 2;
    r[PARAGRAPHLIST].requireMasks[0] = 0x0400;
    r[PARAGRAPHLIST].requireMasks[1] = 0x1000;

    for (uint16_t t : {XML, HTML, XHTML, NONBLANKTEXT, DELIMITEDHTML}) TextRecords(r[t]);
    Set(r[XML].insideEndSignatures, {0xFF85, 0xFFC3, 0xFFE4, 0xFFE5});
    r[XML].leadText = "<?xml";
    r[XML].leadText2 = "<xml";
    r[XML].closeText = "<!-- /xml";
    r[XML].closeText2 = "</xml>";
    r[HTML].leadText = "<html";
    r[HTML].leadText2 = "<!DOCTYPE html ";
    r[HTML].closeText = "</html>";
    r[XHTML].leadText = "<!DOCTYPE xhtml ";
    r[XHTML].closeText = "</html>";
    r[DELIMITEDHTML].leadText = "<html";
    r[DELIMITEDHTML].leadText2 = "[<";
    r[DELIMITEDHTML].closeText = ">]";

    Set(r[HORIZONTALRULE].startSignatures, {0xFFC9});
    Set(r[HORIZONTALRULE].beginSignatures, {0xFFC9});
    Set(r[HORIZONTALRULE].endSignatures, {0xFFC9});
    Set(r[HORIZONTALRULE].insideEndSignatures, {0xFFC9});

    Set(r[PASSTHRUHTML].startSignatures, {0xFFCC});
    Set(r[PASSTHRUHTML].beginSignatures, {0xFFCC});
    Set(r[PASSTHRUHTML].endSignatures, {0xFFCD});
    Set(r[PASSTHRUHTML].insideEndSignatures, {0xFFCC, 0xFFCD});

    Set(r[LAYER].startSignatures, {108});
    Set(r[LAYER].beginSignatures, {108});
    Set(r[LAYER].endSignatures, {108});
    Set(r[LAYER].insideEndSignatures, {108, 0xFF7A, 107, 106, 114, 99});

    Set(r[LAYOUT].startSignatures, {183});
    Set(r[LAYOUT].beginSignatures, {183});
    Set(r[LAYOUT].endSignatures, {185});
    Set(r[LAYOUT].insideEndSignatures, {183, 185});

    for (auto [t, sig] : {std::pair<uint16_t, uint16_t>{ImageMap, 0xFFF4},
                          {GraphicHotspot, 0xFFF5},
                          {IGNORE, 89}}) {
      Set(r[t].startSignatures, {sig});
      Set(r[t].beginSignatures, {sig});
      Set(r[t].endSignatures, {sig});
      Set(r[t].insideEndSignatures, {sig});
    }

    // A page break is a paragraph whose definition has flag 0x0001; the
    // engine finds the definition through the reference that follows.
    Set(r[PAGEBREAK].startSignatures, {129});
    r[PAGEBREAK].requireCount = 1;
    r[PAGEBREAK].requireMasks[0] = 0x0001;

    Set(r[TAGGEDTEXT].startSignatures, {111});
    Set(r[TAGGEDTEXT].endSignatures, {110});
  }
};

}  // namespace

TargetTypeDescriptor TargetTypeDescriptors[kTargetTypeCount];

namespace {

void FillTargetTypeDescriptors() {
  static const DescriptorTable kDescriptorSource;
  for (uint16_t t = 0; t < kTargetTypeCount; ++t) {
    TargetTypeDescriptors[t] = kDescriptorSource.rows[t];
  }
  // Hotspot rows: the hotspot type is the 16-bit field at offset 4 of the
  // start record and the flag word the 32-bit field at offset 8.
  for (uint16_t t : {BUTTON, SECTION, FILE_ATTACHMENT, HYPERLINK, ACTIONHOTSPOT, POPUP,
                     SUBFORM, COMPUTEDTEXT, URLLink}) {
    TargetTypeDescriptors[t].selectOffset = 4;
  }
  TargetTypeDescriptors[ROW].occurrenceOffset = 2;
  TargetTypeDescriptors[COLUMN].occurrenceOffset = 3;
  TargetTypeDescriptors[POPUP].excludeOffset = 8;
  // Action hotspots carry exclusion masks too: without the offset their
  // masks would be tested against the record header.
  TargetTypeDescriptors[ACTIONHOTSPOT].excludeOffset = 8;
  TargetTypeDescriptors[COMPUTEDTEXT].requireOffset = 8;
  // An ignored stretch opens with a record of flag 1 and closes with one of
  // flag 2: the closing one begins no stretch of its own.
  TargetTypeDescriptors[IGNORE].excludeCount = 1;
  TargetTypeDescriptors[IGNORE].excludeMasks[0] = 0x2;
  TargetTypeDescriptors[IGNORE].excludeOffset = 4;
  TargetTypeDescriptors[URLLink].requireOffset = 8;
}

}  // namespace

void InitTargetTypeDescriptors() {
  // Filled once, on first use (a call from another module's start-up code
  // finds the rows ready); later calls, from any thread, find it done and
  // never write it again while walks read it.
  static const bool filled = (FillTargetTypeDescriptors(), true);
  (void)filled;
}

namespace {
// Fills the descriptors when the library loads, before any chunk operation.
struct DescriptorInit {
  DescriptorInit() { InitTargetTypeDescriptors(); }
};
const DescriptorInit kDescriptorInit;
}  // namespace

// ---- Property names per target type ---------------------------------------------

namespace {
const char* const kTableProperties[] = {
    "TableWidth",          "RowDisplay",          "RowCycleMilliseconds",
    "Transition",          "CellBorderStyle",     "CellBorderColor",
    "TableColorStyle",     "TableColor",          "TableBodyColor",
    "BorderStyle",         "BorderColor",         "BorderEffects",
    "BorderShadow",        "BorderThicknessLeft", "BorderThicknessTop",
    "BorderThicknessRight", "BorderThicknessBottom", "R4Spacing",
    "TableName",           "TableHTMLId",         "TableHTMLClass",
    "TableHTMLStyle",      "TableHTMLTitle",      "TableHTMLOther",
    "TableHTMLName",       "TabSide",             "TabsEqual",
    "TabsIndent",          "TabFont",
};
static_assert(sizeof kTableProperties / sizeof kTableProperties[0] == 29);

const char* const kGraphicProperties[] = {
    "AltText",          "Caption",          "GraphicHTMLId",    "GraphicHTMLClass",
    "GraphicHTMLStyle", "GraphicHTMLTitle", "GraphicHTMLOther", "GraphicHTMLName",
    nullptr,            nullptr,            nullptr,            nullptr,
    nullptr,            nullptr,            nullptr,            nullptr,
    nullptr,
};
static_assert(sizeof kGraphicProperties / sizeof kGraphicProperties[0] == 17);

const char* const kFieldProperties[] = {nullptr};

const char* const kLayerProperties[] = {
    "Top",           "Left",           "LayerHTMLId",       "LayerHTMLClass",
    "LayerHTMLStyle", "LayerHTMLTitle", "LayerHTMLOther",    "LayerHTMLName",
    "Scheme",        "ZIndex",         "BrowserLeftOffset", "BrowserRightOffset",
    "BackgroundImage", "BackgroundRepeat", "BackgroundColor", "Width",
    "Height",
};
static_assert(sizeof kLayerProperties / sizeof kLayerProperties[0] == 17);
}  // namespace

const TargetPropertyRow TargetPropertyNames[kTargetTypeCount] = {
    {0, 0, nullptr},   {1, 29, kTableProperties}, {2, 0, nullptr},  {3, 0, nullptr},
    {4, 0, nullptr},   {5, 0, nullptr},   {6, 0, nullptr},   {7, 0, nullptr},
    {8, 0, nullptr},   {9, 0, nullptr},   {10, 0, nullptr},  {11, 0, nullptr},
    {12, 0, nullptr},  {13, 0, nullptr},  {14, 0, nullptr},  {15, 17, kGraphicProperties},
    {16, 0, nullptr},  {17, 0, nullptr},  {18, 0, nullptr},  {19, 0, kFieldProperties},
    {20, 0, nullptr},  {21, 0, nullptr},  {22, 0, nullptr},  {23, 0, nullptr},
    {24, 0, nullptr},  {25, 0, nullptr},  {26, 0, nullptr},  {27, 12, nullptr},
    {28, 0, nullptr},  {29, 17, kLayerProperties}, {30, 0, nullptr}, {31, 0, nullptr},
    {32, 1, nullptr},  {33, 8, nullptr},  {34, 0, nullptr},  {35, 0, nullptr},
    {36, 0, nullptr},  {37, 0, nullptr},  {38, 0, nullptr},  {39, 0, nullptr},
};

// ---- JavaScript reserved words (ascending byte order, null-ended) --------------

const char* const JavaScriptReservedWords[] = {
    "Infinity",   "NaN",          "abstract",  "arguments",  "boolean",   "break",
    "byte",       "case",         "catch",     "char",       "class",     "const",
    "continue",   "debugger",     "default",   "delete",     "do",        "double",
    "else",       "enum",         "eval",      "export",     "extends",   "false",
    "final",      "finally",      "float",     "for",        "function",  "goto",
    "if",         "implements",   "import",    "in",         "instanceof", "int",
    "interface",  "let",          "long",      "native",     "new",       "null",
    "package",    "private",      "protected", "public",     "return",    "short",
    "static",     "super",        "switch",    "synchronized", "this",    "throw",
    "throws",     "transient",    "true",      "try",        "typeof",    "var",
    "void",       "volatile",     "while",     "with",       "yield",     nullptr,
};

// ---- MIME types by extension (sorted without regard to case, null-ended) --------

const MimeTypeRow MimeTypeTable[] = {
    {"acx", "application/internet-property-stream"},
    {"ai", "application/postscript"},
    {"aif", "audio/x-aiff"},
    {"aifc", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"asf", "video/x-ms-asf"},
    {"asr", "video/x-ms-asf"},
    {"asx", "video/x-ms-asf"},
    {"au", "audio/basic"},
    {"avi", "video/x-msvideo"},
    {"axs", "application/olescript"},
    {"bas", "text/plain"},
    {"bcpio", "application/x-bcpio"},
    {"bin", "application/octet-stream"},
    {"bmp", "image/bmp"},
    {"c", "text/plain"},
    {"cat", "application/vnd.ms-pkiseccat"},
    {"cdf", "application/x-cdf"},
    {"cdf", "application/x-netcdf"},
    {"cer", "application/x-x509-ca-cert"},
    {"class", "application/octet-stream"},
    {"clp", "application/x-msclip"},
    {"cmx", "image/x-cmx"},
    {"cod", "image/cis-cod"},
    {"cpio", "application/x-cpio"},
    {"crd", "application/x-mscardfile"},
    {"crl", "application/pkix-crl"},
    {"crt", "application/x-x509-ca-cert"},
    {"csh", "application/x-csh"},
    {"css", "text/css"},
    {"dcr", "application/x-director"},
    {"der", "application/x-x509-ca-cert"},
    {"dir", "application/x-director"},
    {"dll", "application/x-msdownload"},
    {"dms", "application/octet-stream"},
    {"doc", "application/msword"},
    {"docm", "application/vnd.ms-word.document.macroEnabled.12"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"dot", "application/msword"},
    {"dotm", "application/vnd.ms-word.template.macroEnabled.12"},
    {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
    {"dvi", "application/x-dvi"},
    {"dxr", "application/x-director"},
    {"eps", "application/postscript"},
    {"etx", "text/x-setext"},
    {"evy", "application/envoy"},
    {"exe", "application/octet-stream"},
    {"fif", "application/fractals"},
    {"flr", "x-world/x-vrml"},
    {"gif", "image/gif"},
    {"gtar", "application/x-gtar"},
    {"gz", "application/x-gzip"},
    {"h", "text/plain"},
    {"hdf", "application/x-hdf"},
    {"hlp", "application/winhlp"},
    {"hqx", "application/mac-binhex40"},
    {"hta", "application/hta"},
    {"htc", "text/x-component"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"htt", "text/webviewhtml"},
    {"ico", "image/x-icon"},
    {"ief", "image/ief"},
    {"iii", "application/x-iphone"},
    {"ins", "application/x-internet-signup"},
    {"isp", "application/x-internet-signup"},
    {"jfif", "image/pipeg"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"js", "application/x-javascript"},
    {"latex", "application/x-latex"},
    {"lha", "application/octet-stream"},
    {"lsf", "video/x-la-asf"},
    {"lsx", "video/x-la-asf"},
    {"lzh", "application/octet-stream"},
    {"m13", "application/x-msmediaview"},
    {"m14", "application/x-msmediaview"},
    {"m3u", "audio/x-mpegurl"},
    {"man", "application/x-troff-man"},
    {"mdb", "application/x-msaccess"},
    {"me", "application/x-troff-me"},
    {"mht", "message/rfc822"},
    {"mhtml", "message/rfc822"},
    {"mid", "audio/mid"},
    {"mny", "application/x-msmoney"},
    {"mov", "video/quicktime"},
    {"movie", "video/x-sgi-movie"},
    {"mp2", "video/mpeg"},
    {"mp3", "audio/mpeg"},
    {"mpa", "video/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"mpp", "application/vnd.ms-project"},
    {"mpv2", "video/mpeg"},
    {"ms", "application/x-troff-ms"},
    {"msg", "application/vnd.ms-outlook"},
    {"mvb", "application/x-msmediaview"},
    {"nc", "application/x-netcdf"},
    {"nws", "message/rfc822"},
    {"oda", "application/oda"},
    {"odb", "application/vnd.oasis.opendocument.database"},
    {"odc", "application/vnd.oasis.opendocument.chart"},
    {"odf", "application/vnd.oasis.opendocument.formula"},
    {"odg", "application/vnd.oasis.opendocument.graphics"},
    {"odi", "application/vnd.oasis.opendocument.image"},
    {"odm", "application/vnd.oasis.opendocument.text-master"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"otg", "application/vnd.oasis.opendocument.graphics-template"},
    {"oth", "application/vnd.oasis.opendocument.text-web"},
    {"otp", "application/vnd.oasis.opendocument.presentation-template"},
    {"ots", "application/vnd.oasis.opendocument.spreadsheet-template"},
    {"ott", "application/vnd.oasis.opendocument.text-template"},
    {"oxt", "application/vnd.openofficeorg.extension"},
    {"p10", "application/pkcs10"},
    {"p12", "application/x-pkcs12"},
    {"p7b", "application/x-pkcs7-certificates"},
    {"p7c", "application/x-pkcs7-mime"},
    {"p7m", "application/x-pkcs7-mime"},
    {"p7r", "application/x-pkcs7-certreqresp"},
    {"p7s", "application/x-pkcs7-signature"},
    {"pbm", "image/x-portable-bitmap"},
    {"pdf", "application/pdf"},
    {"pfx", "application/x-pkcs12"},
    {"pgm", "image/x-portable-graymap"},
    {"pko", "application/vnd.ms-pkipko"},
    {"pma", "application/x-perfmon"},
    {"pmc", "application/x-perfmon"},
    {"pml", "application/x-perfmon"},
    {"pmr", "application/x-perfmon"},
    {"pmw", "application/x-perfmon"},
    {"png", "image/png"},
    {"pnm", "image/x-portable-anymap"},
    {"pot", "application/vnd.ms-powerpoint"},
    {"potm", "application/vnd.ms-powerpoint.template.macroEnabled.12"},
    {"potx", "application/vnd.openxmlformats-officedocument.presentationml.template"},
    {"ppam", "application/vnd.ms-powerpoint.addin.macroEnabled.12"},
    {"ppm", "image/x-portable-pixmap"},
    {"pps", "application/vnd.ms-powerpoint"},
    {"ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.12"},
    {"ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.12"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"prf", "application/pics-rules"},
    {"ps", "application/postscript"},
    {"pub", "application/x-mspublisher"},
    {"qt", "video/quicktime"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"ras", "image/x-cmu-raster"},
    {"rgb", "image/x-rgb"},
    {"rmi", "audio/mid"},
    {"roff", "application/x-troff"},
    {"rtf", "application/rtf"},
    {"rtx", "text/richtext"},
    {"scd", "application/x-msschedule"},
    {"sct", "text/scriptlet"},
    {"setpay", "application/set-payment-initiation"},
    {"setreg", "application/set-registration-initiation"},
    {"sh", "application/x-sh"},
    {"shar", "application/x-shar"},
    {"sit", "application/x-stuffit"},
    {"snd", "audio/basic"},
    {"spc", "application/x-pkcs7-certificates"},
    {"spl", "application/futuresplash"},
    {"src", "application/x-wais-source"},
    {"sst", "application/vnd.ms-pkicertstore"},
    {"stl", "application/vnd.ms-pkistl"},
    {"stm", "text/html"},
    {"sv4cpio", "application/x-sv4cpio"},
    {"sv4crc", "application/x-sv4crc"},
    {"svg", "image/svg+xml"},
    {"swf", "application/x-shockwave-flash"},
    {"t", "application/x-troff"},
    {"tar", "application/x-tar"},
    {"tcl", "application/x-tcl"},
    {"tex", "application/x-tex"},
    {"texi", "application/x-texinfo"},
    {"texinfo", "application/x-texinfo"},
    {"tgz", "application/x-compressed"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"tr", "application/x-troff"},
    {"trm", "application/x-msterminal"},
    {"tsv", "text/tab-separated-values"},
    {"txt", "text/plain"},
    {"uls", "text/iuls"},
    {"ustar", "application/x-ustar"},
    {"vcf", "text/x-vcard"},
    {"vrml", "x-world/x-vrml"},
    {"wav", "audio/x-wav"},
    {"wcm", "application/vnd.ms-works"},
    {"wdb", "application/vnd.ms-works"},
    {"wks", "application/vnd.ms-works"},
    {"wmf", "application/x-msmetafile"},
    {"wps", "application/vnd.ms-works"},
    {"wri", "application/x-mswrite"},
    {"wrl", "x-world/x-vrml"},
    {"wrz", "x-world/x-vrml"},
    {"xaf", "x-world/x-vrml"},
    {"xbm", "image/x-xbitmap"},
    {"xla", "application/vnd.ms-excel"},
    {"xlam", "application/vnd.ms-excel.addin.macroEnabled.12"},
    {"xlc", "application/vnd.ms-excel"},
    {"xlm", "application/vnd.ms-excel"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsb", "application/vnd.ms-excel.sheet.binary.macroEnabled.12"},
    {"xlsm", "application/vnd.ms-excel.sheet.macroEnabled.12"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xlt", "application/vnd.ms-excel"},
    {"xltm", "application/vnd.ms-excel.template.macroEnabled.12"},
    {"xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template"},
    {"xlw", "application/vnd.ms-excel"},
    {"xof", "x-world/x-vrml"},
    {"xpm", "image/x-xpixmap"},
    {"xwd", "image/x-xwindowdump"},
    {"z", "application/x-compress"},
    {"zip", "application/zip"},
    {nullptr, nullptr},
};

// ---- Lookups -------------------------------------------------------------------------

const char* GetTargetTypeName(uint32_t type, const char* fallback) {
  if (type < kTargetTypeCount) return TargetTypeNames[type];
  return fallback;
}

uint16_t FindTargetTypeByName(const char* name) {
  if (!name) return 0;
  for (uint16_t t = 0; t <= DELIMITEDHTML; ++t) {
    const char* display = TargetTypeNames[t];
    if (display && strncasecmp(name, display, std::strlen(display)) == 0) return t;
  }
  return 0;
}

uint32_t FindTargetPropertyIndex(uint32_t type, const char* name) {
  if (type >= kTargetTypeCount) return 0;
  const TargetPropertyRow& row = TargetPropertyNames[type];
  if (!name || !*name || !row.names) return row.count;
  for (uint32_t i = 0; i < row.count; ++i) {
    if (row.names[i] && strcasecmp(row.names[i], name) == 0) return i;
  }
  return row.count;
}

int IsNotJavaScriptReservedWord(const char* name) {
  if (!name) return 0;
  for (const char* const* word = JavaScriptReservedWords; *word; ++word) {
    int c = std::strcmp(name, *word);  // byte-wise: strcmp compares as unsigned char
    if (c == 0) return 0;
    if (c < 0) return 1;
  }
  return 1;
}

const char* GetMimeTypeForExtension(const char* fileName) {
  static const char kDefault[] = "application/octet-stream";
  if (!fileName) return kDefault;
  const char* key = fileName;
  const char* dot = std::strrchr(fileName, '.');
  if (dot && dot[1]) key = dot + 1;
  for (const MimeTypeRow* row = MimeTypeTable; row->extension; ++row) {
    int c = strcasecmp(key, row->extension);
    if (c == 0) return row->mimeType;
    if (c < 0) break;
  }
  return kDefault;
}

char ChooseDelimiterChar(const char* text, long length) {
  if (length < 1 || !text) return '\'';
  size_t n = static_cast<size_t>(length);
  for (char c : {'\'', '"', '|'}) {
    if (!std::memchr(text, c, n)) return c;
  }
  return '~';
}
