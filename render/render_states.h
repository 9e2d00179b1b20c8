// Working state of the renderer's writers, one block per family of writers.
// Each block is owned by the writers that use it; RenderContext embeds them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct RTRecordNode;

// Tables (RenderTableHTML). Per table level 0..8.
struct TableWriterState {
  RTRecordNode* tableBegin = nullptr;      // the table-begin record the driver recorded
  RTRecordNode* preTableBegin = nullptr;   // the 0xFFFB record before it, when any
  RTRecordNode* resumeRecord[9] = {};      // a record to resume at, by level
  uint32_t resumeFlag[9] = {};
  uint32_t wrappedInDiv[9] = {};           // the table at that level was wrapped in a <div>
  uint32_t tableCounter = 0;               // tables written, for element ids
  // Further fields are the table writer's own.
  uint32_t continuedRow = 0;               // row of the <tr> a continued table left open
  // The table a range left open (its begin record): the next range of the
  // page continues it when it starts at one of its cells.
  const RTRecordNode* continuedTable = nullptr;
  const RTRecordNode* cellInForce = nullptr;  // the cell whose content is being written

};

// Graphics (PXMLGr, BuildGraphicRecordTable).
struct GraphicWriterState {
  void* graphicTable = nullptr;            // pool block: the graphic records of the range
  uint32_t graphicCount = 0;
  uint32_t imageCounter = 0;               // images written, for file names
  // A MIME message takes each image as a part of its own: when set, the
  // writer hands it over (content id, MIME type, bytes) and refers to it by
  // "cid:" and that id.
  void (*imagePart)(const char* contentId, const char* type, const uint8_t* bytes, size_t size,
                    void* closure) = nullptr;
  void* imagePartClosure = nullptr;
  // Further fields are the graphic writer's own.
};

// Hotspots and links (PXMLH, ProcessXMLDoclink).
struct HotspotWriterState {
  uint32_t anchorOpen = 0;                 // an <a> of a hotspot is open
  uint32_t attachmentInProgress = 0;
  uint32_t attachmentCounter = 0;
  uint32_t perDocumentField = 0;           // reset by a document marker
  char attachmentName[256] = {};
  char attachmentNameEscaped[256] = {};
  char attachmentDisplayName[256] = {};
  char attachmentDisplayNameEscaped[256] = {};
  char disabledActionNote[256] = {};
  // Further fields are the hotspot writer's own.
  const char* wikiUrlPrefix = nullptr;     // wiki links resolve under this URL; not owned
  char wikiUrlPrefixOption[1024] = {};     // "WikiURLPrefix=", when given
  uint32_t wikiLinkWritten = 0;            // the last anchor written was a wiki link
  uint32_t elementCounter = 0;             // elements counted for "SupportOutlook="
  uint32_t splitTitle = 0;                 // a style-10 section title was split in three
  uint32_t attachmentDirectoryMade = 0;    // "AttachmentDirectory=" exists
  // The files written to disk in this render, by path, with the identifier
  // of the note each came from: documents of one collection may each attach
  // a file of the same name.
  std::map<std::string, std::string> filesWritten;
  // The hotspot whose content is being written (its begin record; null: the
  // page): the sections its content opens end at its end.
  const void* sectionOpener = nullptr;
  uint32_t nesting = 0;                    // hotspots being written, one inside the other
  // The hotspot call whose link is the innermost one being written (null:
  // none): a paragraph that begins inside its content opens the link again.
  void* linkCall = nullptr;
};

// The document head and paragraph opening (head, paragraph CSS, lists).
struct HeadWriterState {
  uint32_t noBreakBeforeTable = 0;         // the walk-local flag of the table preamble
  char pageColor[16] = "#ffffff";
  // Paragraph tables beyond their fixed arrays in RenderContext: an item may
  // hold more definitions than the fixed slots, and dropping the rest would
  // lose their classes, hidden flags or list kinds. Pool arrays, grown by
  // doubling; entry i of a spill follows the last fixed slot.
  char** classCssSpill = nullptr;          // after paragraphClassCss
  uint16_t* classIdSpill = nullptr;        // after paragraphClassIds
  uint32_t classSpillCount = 0, classSpillCapacity = 0;
  uint16_t* hiddenIdSpill = nullptr;       // after hiddenParagraphIds
  uint32_t hiddenSpillCount = 0, hiddenSpillCapacity = 0;
  RTRecordNode** definitionSpill = nullptr;  // after paragraphDefinitions
  uint32_t definitionSpillCount = 0, definitionSpillCapacity = 0;
  // The table cell in force for the paragraph being styled (left margin K).
  const RTRecordNode* cellInForce = nullptr;
  // The style mapping used for the previous paragraph, and whether that
  // paragraph was a list paragraph.
  void* mappingInForce = nullptr;          // _StyleMapping_Info*
  uint32_t previousWasList = 0;
  // The closing tags of what the body opening left open (a form, a
  // fragment's division or body), written at the end of the page.
  char pageClosing[128] = {};
  uint32_t fragmentFontOpen = 0;           // a fragment's global font opens in the body
  // The head and the body opening are written once per page, by its first
  // range; a caller that renders a page in several ranges sets
  // pageEndsLater and finishes the page itself (FinishRenderPage).
  uint32_t pageOpened = 0;
  uint32_t pageEndsLater = 0;
  // Further fields are the head and paragraph writers' own.
};

// The render driver (PrXMLStr and the bounded output helpers).
struct DriverWriterState {
  uint32_t outputFull = 0;                 // an append did not fit: the render is truncated
};

// Output parts (TranslateTextForOutput, EncodeTextForOutput, WriteMIMEHTMLPart).
// Output kept in the buffer after a flush is not processed twice.
struct OutputPartState {
  uint32_t translatedEnd = 0;              // bytes at the buffer start already translated
  uint32_t encodedEnd = 0;                 // bytes at the buffer start already encoded
  uint32_t finalPart = 0;                  // the part being flushed is the last one
};
