#include "import/importwriter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "lsxsessi.h"
#include "richtext/compose/pabdef.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/compose.h"
#include "richtext/item/itemhelpers.h"
#include "richtext/item/parastring.h"
#include "richtext/item/recordlist.h"
#include "rtitem.h"

namespace kv::import {

namespace {

namespace H = kv::cd::host;

constexpr uint16_t kSigParagraph = 0x0081;
constexpr uint16_t kSigPabReference = 0x0083;
constexpr uint16_t kSigPab = 0xFF82;
constexpr uint16_t kSigHotspotBegin = 0xFFA9;
constexpr uint16_t kSigHotspotEnd = 0x00AA;
constexpr uint16_t kSigTableBegin = 0x00A3, kSigNestedTableBegin = 0x00CF;
constexpr uint16_t kSigCell = 0x00A4, kSigNestedCell = 0x00D0;
constexpr uint16_t kSigTableEnd = 0x00A5, kSigNestedTableEnd = 0x00D1;
constexpr uint16_t kTableFitsWindow = 0x0001;  // table begin flags: automatic cell widths
constexpr uint16_t kSigAnchor = 0xFFCB;
constexpr uint16_t kSigHRule = 0xFFC9;
constexpr uint16_t kSigGraphic = 0x0099;
constexpr uint16_t kSigImageHeader = 0x007D;
constexpr uint16_t kSigImageSegment = 0x007C;
constexpr uint16_t kSigAltText = 0xFFCA;
constexpr uint16_t kHotspotUrl = 11;
constexpr uint32_t kImageSegmentData = 10240;
constexpr uint32_t kMaxHotspotData = 4096;
constexpr uint32_t kPixelTwips = 15;

void Put16(uint8_t* p, uint32_t off, uint16_t v) { std::memcpy(p + off, &v, 2); }
void Put32(uint8_t* p, uint32_t off, uint32_t v) { std::memcpy(p + off, &v, 4); }

// Appends U+FFFD in UTF-8.
void Replacement(std::string* out) { out->append("\xEF\xBF\xBD"); }

// A copy of the text in which every byte that does not start a well-formed
// UTF-8 sequence is replaced, so that the conversion never refuses it.
std::string CleanUtf8(const char* s, size_t n) {
  std::string out;
  out.reserve(n);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      out += char(c);
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (c >= 0xF5) len = 0;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
    if (ok && len == 3) {
      uint32_t cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
      ok = cp >= 0x800 && !(cp >= 0xD800 && cp <= 0xDFFF);
    } else if (ok && len == 4) {
      uint32_t cp = (c & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12;
      ok = cp >= 0x10000 && cp <= 0x10FFFF;
    }
    if (!ok) {
      Replacement(&out);
      ++i;
      continue;
    }
    out.append(s + i, len);
    i += len;
  }
  return out;
}

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

}  // namespace

std::string Utf8ToPlatform(const char* utf8, size_t length) {
  if (!utf8 || !length) return std::string();
  std::string clean = CleanUtf8(utf8, length);
  return NnUtf8ToLmbcs(clean.data(), clean.size());
}

ImportWriter::ImportWriter(ComposeContext* ctx) : ctx_(ctx) {
  if (ctx_->newList) {
    hadList_ = true;
    savedLast_ = ctx_->newList->last;
    savedCount_ = ctx_->newList->count;
  }
  savedComposed_ = ctx_->composedCount;
  savedHotspot_ = ctx_->hotspotOpen;
  savedLink_ = ctx_->linkOpen;
  savedAttachment_ = ctx_->attachmentHotspot;
  savedTables_ = ctx_->composedTables;
  savedHotspots_ = ctx_->composedHotspots;
  savedNextId_ = ctx_->nextParagraphId;
  std::memcpy(savedDefinition_, ctx_->paragraphDefinition, sizeof savedDefinition_);
  savedDefinitionLength_ = ctx_->paragraphDefinitionLength;
  baseFont_ = ctx_->item && ctx_->item->context ? ctx_->item->context->currentFont : 0x0A000001u;
  if (!baseFont_) baseFont_ = 0x0A000001u;
}

ImportWriter::~ImportWriter() {
  // The definition under construction belongs to the caller.
  std::memcpy(ctx_->paragraphDefinition, savedDefinition_, sizeof savedDefinition_);
  ctx_->paragraphDefinitionLength = savedDefinitionLength_;
}

uint32_t ImportWriter::Appended() const { return ctx_->composedCount - savedComposed_; }

void ImportWriter::Rollback() {
  RecordList* list = ctx_->newList;
  if (list) {
    RTRecordNode* node = hadList_ ? (savedLast_ ? savedLast_->next : list->first) : list->first;
    while (node) {
      RTRecordNode* next = node->next;
      RecordListUnlink(ctx_->session, list, node);
      node = next;
    }
  }
  ctx_->composedCount = savedComposed_;
  ctx_->hotspotOpen = savedHotspot_;
  ctx_->linkOpen = savedLink_;
  ctx_->attachmentHotspot = savedAttachment_;
  ctx_->composedTables = savedTables_;
  ctx_->composedHotspots = savedHotspots_;
  ctx_->nextParagraphId = savedNextId_;
  pending_.clear();
  linkOpen_ = false;
}

NnStatus ImportWriter::Append(const uint8_t* rec, uint16_t signature, uint32_t length) {
  return AppendRecord(rec, signature, length, ctx_);
}

NnStatus ImportWriter::Flush() {
  if (pending_.empty()) return NN_OK;
  NnStatus st = EmitTextRecord(pending_.data(), uint32_t(pending_.size()), &pendingFont_, ctx_);
  pending_.clear();
  return st;
}

NnStatus ImportWriter::DefinitionFor(const ParaStyle& style, uint16_t* id) {
  auto found = definitions_.find(style);
  if (found != definitions_.end()) {
    *id = found->second;
    return NN_OK;
  }
  uint16_t newId = NewDefaultParagraph(kNextParagraphId, 0, ctx_);
  if (newId == 0 || newId == 0xFFFF) return NN_ERR_CD_STRUCTURE;
  // Margins given for the place (a cell's) replace the defaults: left, right
  // and first line, and their extension words when both definitions hold them.
  const uint8_t* from = ctx_->marginDefinition;
  const uint32_t fromLength = ctx_->marginDefinitionLength;
  if (from && fromLength >= H::kPabFirstLineLeftMargin + 2)
    std::memcpy(ctx_->paragraphDefinition + H::kPabLeftMargin, from + H::kPabLeftMargin,
                H::kPabFirstLineLeftMargin + 2 - H::kPabLeftMargin);
  if (from && fromLength >= kPabMarginLength && ctx_->paragraphDefinitionLength >= kPabMarginLength)
    std::memcpy(ctx_->paragraphDefinition + kPabExtLeftTwips, from + kPabExtLeftTwips,
                kPabExtMoreFlags - kPabExtLeftTwips);
  std::string spec;
  static const char* const kJustify[] = {"Left", "Right", "Full", "Center"};
  if (style.justify < 4) spec += std::string("Alignment=") + kJustify[style.justify] + " ";
  uint32_t steps = uint32_t(style.indent) + (style.level ? style.level - 1u : 0u);
  uint32_t left = 1440u + 720u * std::min<uint32_t>(steps, 40);
  if (style.list) spec += style.list == 2 ? "List=Number " : "List=Bullet ";
  if (steps) {
    spec += "LeftMargin=" + std::to_string(left) + "tw ";
    spec += "FirstLineLeftMargin=" + std::to_string(left) + "tw ";
  }
  if (!spec.empty()) {
    auto parsed = std::make_unique<ParagraphSpec>();
    NnStatus st = ParseParagraphSpec(spec.c_str(), nullptr, parsed.get());
    if (st != NN_OK) return st;
    st = BuildParagraphDefinitionFromSpec(ctx_->paragraphDefinition,
                                          sizeof ctx_->paragraphDefinition, parsed.get(), 0, 0);
    if (st != NN_OK) return st;
  }
  uint16_t length = 0;
  std::memcpy(&length, ctx_->paragraphDefinition + 2, 2);
  if (length < H::kPabFixed || length > sizeof ctx_->paragraphDefinition) return NN_ERR_CD_STRUCTURE;
  NnStatus st = Append(ctx_->paragraphDefinition, kSigPab, length);
  if (st != NN_OK) return st;
  definitions_[style] = newId;
  *id = newId;
  return NN_OK;
}

NnStatus ImportWriter::Reference(uint16_t id) {
  uint8_t rec[4] = {uint8_t(kSigPabReference), 4, 0, 0};
  Put16(rec, H::kPabReferenceId, id);
  return Append(rec, kSigPabReference, sizeof rec);
}

void ImportWriter::Break() {
  if (hasContent_) {
    needParagraph_ = true;
    lastSpace_ = true;
  }
}

NnStatus ImportWriter::ForceParagraph() {
  NnStatus st = EnsureParagraph();  // nothing when an empty paragraph is open
  if (st == NN_OK) hasContent_ = true;
  return st;
}

NnStatus ImportWriter::EnsureParagraph() {
  if (!needParagraph_) return NN_OK;
  NnStatus st = Flush();
  if (st == NN_OK && linkOpen_) st = LinkEnd();
  // Start, definition, reference: a definition ahead of its paragraph's
  // start would stand in the paragraph before.
  if (st == NN_OK && !afterCell_) {
    uint8_t rec[2] = {uint8_t(kSigParagraph), 2};
    st = Append(rec, kSigParagraph, sizeof rec);
  }
  uint16_t id = 0;
  if (st == NN_OK) st = DefinitionFor(style_, &id);
  if (st == NN_OK) st = Reference(id);
  if (st != NN_OK) return st;
  openStyle_ = style_;
  needParagraph_ = false;
  afterCell_ = false;
  hasContent_ = false;
  lastSpace_ = true;
  started_ = true;
  return NN_OK;
}

NnStatus ImportWriter::EnsureContent() {
  NnStatus st = EnsureParagraph();
  if (st == NN_OK) hasContent_ = true;
  return st;
}

NnStatus ImportWriter::Text(const char* utf8, size_t length, uint32_t font, bool preformatted) {
  if (!utf8 || !length) return NN_OK;
  std::string text;
  bool space = needParagraph_ ? true : lastSpace_;
  if (preformatted) {
    text.assign(utf8, length);
    space = false;
  } else {
    text.reserve(length);
    for (size_t i = 0; i < length; ++i) {
      unsigned char c = static_cast<unsigned char>(utf8[i]);
      if (IsBlank(c)) {
        if (!space) text += ' ';
        space = true;
        continue;
      }
      text += char(c);
      space = false;
    }
  }
  if (text.empty()) return NN_OK;
  NnStatus st = EnsureContent();
  if (st != NN_OK) return st;
  lastSpace_ = space;
  std::string platform = Utf8ToPlatform(text.data(), text.size());
  if (platform.empty()) return NN_OK;
  if (!pending_.empty() && pendingFont_ != font) {
    st = Flush();
    if (st != NN_OK) return st;
  }
  pendingFont_ = font;
  pending_ += platform;
  return NN_OK;
}

NnStatus ImportWriter::LineBreak(uint32_t font) {
  NnStatus st = EnsureContent();
  if (st != NN_OK) return st;
  if (!pending_.empty() && pendingFont_ != font) {
    st = Flush();
    if (st != NN_OK) return st;
  }
  pendingFont_ = font;
  pending_ += '\0';
  lastSpace_ = true;
  return NN_OK;
}

NnStatus ImportWriter::LinkBegin(const std::string& url) {
  if (url.empty() || url.size() + 1 > kMaxHotspotData) return NN_OK;
  if (linkOpen_) {
    NnStatus st = LinkEnd();
    if (st != NN_OK) return st;
  }
  NnStatus st = EnsureContent();
  if (st == NN_OK) st = Flush();
  if (st != NN_OK) return st;
  std::string platform = Utf8ToPlatform(url.data(), url.size());
  if (platform.empty() || platform.size() + 1 > kMaxHotspotData) return NN_OK;
  std::vector<uint8_t> rec(H::kHotspotFixed + platform.size() + 1, 0);
  uint32_t total = uint32_t(rec.size());
  kv::cd::WriteHostHeader(rec.data(), rec.size(), kSigHotspotBegin, kv::cd::HeaderKind::Word, total);
  Put16(rec.data(), H::kHotspotType, kHotspotUrl);
  Put32(rec.data(), H::kHotspotFlags, 0);
  Put16(rec.data(), H::kHotspotDataLength, uint16_t(platform.size() + 1));
  std::memcpy(rec.data() + H::kHotspotFixed, platform.data(), platform.size());
  st = Append(rec.data(), kSigHotspotBegin, total);
  if (st == NN_OK) linkOpen_ = true;
  return st;
}

NnStatus ImportWriter::LinkEnd() {
  if (!linkOpen_) return NN_OK;
  NnStatus st = Flush();
  if (st != NN_OK) return st;
  uint8_t rec[2] = {uint8_t(kSigHotspotEnd), 2};
  st = Append(rec, kSigHotspotEnd, sizeof rec);
  if (st == NN_OK) linkOpen_ = false;
  return st;
}

NnStatus ImportWriter::Anchor(const std::string& name) {
  std::string platform = Utf8ToPlatform(name.data(), name.size());
  if (platform.empty() || platform.size() > 255) return NN_OK;
  NnStatus st = EnsureParagraph();
  if (st == NN_OK) st = Flush();
  if (st != NN_OK) return st;
  std::vector<uint8_t> rec(12 + platform.size() + 1, 0);
  uint32_t total = uint32_t(rec.size());
  kv::cd::WriteHostHeader(rec.data(), rec.size(), kSigAnchor, kv::cd::HeaderKind::Word, total);
  Put16(rec.data(), 4, uint16_t(platform.size()));
  std::memcpy(rec.data() + 12, platform.data(), platform.size());
  return Append(rec.data(), kSigAnchor, total);
}

NnStatus ImportWriter::HorizontalRule(uint16_t width, bool percent, uint16_t height) {
  // A rule stands in a paragraph of its own.
  Break();
  NnStatus st = EnsureContent();
  if (st == NN_OK) st = Flush();
  if (st != NN_OK) return st;
  uint8_t rec[16] = {};
  kv::cd::WriteHostHeader(rec, sizeof rec, kSigHRule, kv::cd::HeaderKind::Word, sizeof rec);
  Put32(rec, 4, percent ? 0x4 : 0);  // 0x4: the width is a percentage of the window
  Put16(rec, 8, width);
  Put16(rec, 10, height);
  st = Append(rec, kSigHRule, sizeof rec);
  Break();
  return st;
}

NnStatus ImportWriter::Graphic(const std::vector<uint8_t>& bytes, uint16_t imageType,
                               uint16_t naturalWidth, uint16_t naturalHeight, uint16_t width,
                               uint16_t height, const std::string& alt) {
  if (bytes.empty()) return NN_OK;
  NnStatus st = EnsureContent();
  if (st == NN_OK) st = Flush();
  if (st != NN_OK) return st;
  uint16_t w = width ? width : naturalWidth;
  uint16_t h = height ? height : naturalHeight;
  if (width && !height && naturalWidth) h = uint16_t(std::min<uint32_t>(0xFFFF, uint32_t(naturalHeight) * width / naturalWidth));
  if (height && !width && naturalHeight) w = uint16_t(std::min<uint32_t>(0xFFFF, uint32_t(naturalWidth) * height / naturalHeight));

  uint8_t graphic[H::kGraphicFixed] = {};
  kv::cd::WriteHostHeader(graphic, sizeof graphic, kSigGraphic, kv::cd::HeaderKind::Long,
                          sizeof graphic);
  Put16(graphic, H::kGraphicDestWidth, w);
  Put16(graphic, H::kGraphicDestHeight, h);
  graphic[H::kGraphicVersion] = 2;
  graphic[H::kGraphicFlags] = (w && h) ? 1 : 0;  // the destination size is in pixels
  st = Append(graphic, kSigGraphic, sizeof graphic);
  if (st != NN_OK) return st;

  const uint32_t segments = uint32_t((bytes.size() + kImageSegmentData - 1) / kImageSegmentData);
  uint8_t header[32] = {};
  kv::cd::WriteHostHeader(header, sizeof header, kSigImageHeader, kv::cd::HeaderKind::Long,
                          sizeof header);
  Put16(header, 8, imageType);
  Put16(header, 10, naturalWidth);
  Put16(header, 12, naturalHeight);
  Put32(header, 16, uint32_t(bytes.size()));
  Put32(header, 20, segments);
  st = Append(header, kSigImageHeader, sizeof header);
  if (st != NN_OK) return st;

  std::vector<uint8_t> seg(12 + kImageSegmentData + 1);
  for (size_t done = 0; done < bytes.size(); done += kImageSegmentData) {
    uint32_t n = uint32_t(std::min<size_t>(kImageSegmentData, bytes.size() - done));
    uint32_t padded = n + (n & 1u);
    uint32_t total = 12 + padded;
    std::fill(seg.begin(), seg.end(), 0);
    kv::cd::WriteHostHeader(seg.data(), seg.size(), kSigImageSegment, kv::cd::HeaderKind::Long, total);
    Put16(seg.data(), 8, uint16_t(n));
    Put16(seg.data(), 10, uint16_t(padded));
    std::memcpy(seg.data() + 12, bytes.data() + done, n);
    st = Append(seg.data(), kSigImageSegment, total);
    if (st != NN_OK) return st;
  }
  if (!alt.empty()) {
    std::string platform = Utf8ToPlatform(alt.data(), std::min<size_t>(alt.size(), 1024));
    if (!platform.empty()) {
      std::vector<uint8_t> rec(12 + platform.size(), 0);
      uint32_t total = uint32_t(rec.size());
      kv::cd::WriteHostHeader(rec.data(), rec.size(), kSigAltText, kv::cd::HeaderKind::Word, total);
      Put16(rec.data(), 4, uint16_t(platform.size()));
      std::memcpy(rec.data() + 12, platform.data(), platform.size());
      st = Append(rec.data(), kSigAltText, total);
    }
  }
  return st;
}

NnStatus ImportWriter::TableBegin(uint32_t depth) {
  // A table follows a paragraph of its own.
  NnStatus st = Flush();
  if (st == NN_OK && linkOpen_) st = LinkEnd();
  // After a paragraph of another style (a list item before the table) the
  // table gets a paragraph of the current style: the table belongs to the
  // paragraph before it, and would otherwise land inside that item.
  const bool otherStyle = openStyle_ < style_ || style_ < openStyle_;
  if (st == NN_OK && (afterCell_ || !started_ || (needParagraph_ && otherStyle)))
    st = EnsureParagraph();
  if (st != NN_OK) return st;
  uint8_t rec[14] = {};
  uint16_t sig = depth > 1 ? kSigNestedTableBegin : kSigTableBegin;
  rec[0] = uint8_t(sig);
  rec[1] = sizeof rec;
  Put16(rec, 4, 144);  // cell spacing
  // The table fits the window: its cells' widths are shares of it.
  Put16(rec, 12, kTableFitsWindow);
  st = Append(rec, sig, sizeof rec);
  if (st != NN_OK) return st;
  needParagraph_ = true;
  hasContent_ = false;
  return NN_OK;
}

NnStatus ImportWriter::Cell(uint32_t depth, uint8_t row, uint8_t column, uint8_t rowSpan,
                            uint8_t columnSpan, uint16_t width, uint8_t border) {
  NnStatus st = Flush();
  if (st == NN_OK && linkOpen_) st = LinkEnd();
  if (st == NN_OK && afterCell_) st = EnsureParagraph();  // the previous cell stayed empty
  if (st != NN_OK) return st;
  uint8_t rec[18] = {};
  uint16_t sig = depth > 1 ? kSigNestedCell : kSigCell;
  rec[0] = uint8_t(sig);
  rec[1] = sizeof rec;
  rec[2] = row;
  rec[3] = column;
  Put16(rec, 8, width);
  rec[10] = border;
  rec[14] = rowSpan ? rowSpan : 1;
  rec[15] = columnSpan ? columnSpan : 1;
  st = Append(rec, sig, sizeof rec);
  if (st != NN_OK) return st;
  needParagraph_ = true;
  afterCell_ = true;
  hasContent_ = false;
  lastSpace_ = true;
  return NN_OK;
}

NnStatus ImportWriter::TableEnd(uint32_t depth) {
  NnStatus st = Flush();
  if (st == NN_OK && linkOpen_) st = LinkEnd();
  if (st == NN_OK && afterCell_) st = EnsureParagraph();
  if (st != NN_OK) return st;
  uint8_t rec[8] = {};
  uint16_t sig = depth > 1 ? kSigNestedTableEnd : kSigTableEnd;
  rec[0] = uint8_t(sig);
  rec[1] = sizeof rec;
  st = Append(rec, sig, sizeof rec);
  if (st != NN_OK) return st;
  needParagraph_ = true;
  afterCell_ = false;
  hasContent_ = false;
  return NN_OK;
}

NnStatus ImportWriter::Finish() {
  NnStatus st = Flush();
  if (st == NN_OK) st = LinkEnd();
  return st;
}

}  // namespace kv::import
