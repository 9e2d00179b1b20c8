// The record writer the importers share: paragraphs with cached definitions,
// text runs, tables, URL hotspots, anchors, rules and graphics, appended
// through the composition, with a save point so that a failed import takes
// back what it appended.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "nn/nn.h"

struct ComposeContext;
struct RTRecordNode;

namespace kv::import {

// What selects a paragraph definition.
struct ParaStyle {
  uint16_t justify = 0;  // 0 left, 1 right, 2 full, 3 center
  uint8_t list = 0;      // 0 none, 1 bullet, 2 number
  uint8_t level = 0;     // list nesting (1..)
  uint8_t indent = 0;    // block quotes
  bool operator<(const ParaStyle& o) const {
    return std::tie(justify, list, level, indent) < std::tie(o.justify, o.list, o.level, o.indent);
  }
};

// Graphic kinds as the image header names them.
enum : uint16_t { kImageGif = 1, kImageJpeg = 2, kImagePng = 4 };

class ImportWriter {
 public:
  explicit ImportWriter(ComposeContext* ctx);
  ~ImportWriter();
  ImportWriter(const ImportWriter&) = delete;
  ImportWriter& operator=(const ImportWriter&) = delete;

  // Takes back every record appended since construction (after a failure).
  void Rollback();

  // The item's current text font (the font runs start from).
  uint32_t BaseFont() const { return baseFont_; }
  void SetBaseFont(uint32_t font) { baseFont_ = font; }

  // The style of the next paragraph that starts.
  void SetStyle(const ParaStyle& style) { style_ = style; }
  const ParaStyle& Style() const { return style_; }

  // Ends the current paragraph when it has content; the next content starts a new one.
  void Break();
  // Starts a paragraph even when the current one is empty (an explicit empty line).
  NnStatus ForceParagraph();

  // UTF-8 text in a font; `preformatted` keeps blanks (line ends are
  // handled by the caller). White space runs collapse to one blank otherwise.
  NnStatus Text(const char* utf8, size_t length, uint32_t font, bool preformatted);
  // A line break inside the paragraph (a NUL in the text).
  NnStatus LineBreak(uint32_t font);

  // URL hotspot around the content that follows; LinkEnd closes it (a
  // paragraph break closes it too).
  NnStatus LinkBegin(const std::string& url);
  NnStatus LinkEnd();
  bool LinkOpen() const { return linkOpen_; }

  NnStatus Anchor(const std::string& name);
  // A rule `width` wide (a percentage of the window, else twips) and
  // `height` twips high, in a paragraph of its own.
  NnStatus HorizontalRule(uint16_t width = 100, bool percent = true, uint16_t height = 30);
  // A graphic from image bytes (GIF, JPEG or PNG), with an optional size in
  // pixels (0: the natural size) and alternate text.
  NnStatus Graphic(const std::vector<uint8_t>& bytes, uint16_t imageType, uint16_t naturalWidth,
                   uint16_t naturalHeight, uint16_t width, uint16_t height, const std::string& alt);

  // Tables: depth from 1 (nested tables use the nested signatures).
  NnStatus TableBegin(uint32_t depth);
  // `border` is the cell's border byte (two bits a side: left, right, top,
  // bottom; 1 a single line).
  NnStatus Cell(uint32_t depth, uint8_t row, uint8_t column, uint8_t rowSpan, uint8_t columnSpan,
                uint16_t width, uint8_t border);
  NnStatus TableEnd(uint32_t depth);

  // Writes the pending text run.
  NnStatus Flush();
  // Flushes and closes an open hotspot; call at the end of an import.
  NnStatus Finish();

  // Records appended by this writer so far.
  uint32_t Appended() const;

 private:
  NnStatus EnsureParagraph();
  NnStatus EnsureContent();
  NnStatus Append(const uint8_t* rec, uint16_t signature, uint32_t length);
  NnStatus DefinitionFor(const ParaStyle& style, uint16_t* id);
  NnStatus Reference(uint16_t id);

  ComposeContext* ctx_;
  RTRecordNode* savedLast_ = nullptr;
  bool hadList_ = false;
  uint32_t savedCount_ = 0;
  uint32_t savedComposed_ = 0;
  uint16_t savedHotspot_ = 0, savedLink_ = 0, savedAttachment_ = 0, savedNextId_ = 0;
  uint16_t savedTables_ = 0, savedHotspots_ = 0;
  uint8_t savedDefinition_[92] = {};
  uint16_t savedDefinitionLength_ = 0;

  uint32_t baseFont_ = 0;
  ParaStyle style_;
  ParaStyle openStyle_;     // the style of the paragraph written last
  std::map<ParaStyle, uint16_t> definitions_;
  bool needParagraph_ = true;
  bool afterCell_ = false;
  bool started_ = false;      // a paragraph was started by this writer
  bool hasContent_ = false;
  bool lastSpace_ = true;
  bool linkOpen_ = false;
  std::string pending_;     // platform text of the pending run
  uint32_t pendingFont_ = 0;
};

// Converts UTF-8 to the platform text; invalid bytes become U+FFFD.
std::string Utf8ToPlatform(const char* utf8, size_t length);

}  // namespace kv::import
