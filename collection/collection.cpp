// TorvoCollection: its place on the session's list, its two events and the
// document markers written between documents.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "collection.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

struct CollectionMarkers {
  struct Written {
    std::string text;
    uint32_t occurrence;
  };
  std::vector<Written> written;
};

namespace {

// Copies text into a buffer of `size` bytes when it fits with its NUL.
bool CopyIfFits(char* out, uint32_t size, const char* text) {
  if (!out || !text) return false;
  size_t n = std::strlen(text);
  if (n + 1 > size) return false;
  std::memcpy(out, text, n + 1);
  return true;
}

// Text runs of the item whose whole text is `text`.
uint32_t RunsOfText(TorvoRTItem* item, const char* text, size_t length) {
  if (!item || !item->context || item->LoadRecords() != NN_OK || !item->context->records) return 0;
  uint32_t count = 0;
  for (const RTRecordNode* n = item->context->records->first; n; n = n->next)
    if ((n->signature == 0xFF85 || n->signature == 0xFFE4) && n->data && n->length == 8 + length &&
        std::memcmp(n->data + 8, text, length) == 0)
      ++count;
  return count;
}

}  // namespace

bool IsDocumentMarkerText(const char* text, size_t length) {
  static const char kDb[] = "[<!--$hDB=", kNote[] = "[<!--$hNote=";
  if (!text || length < sizeof kDb || text[length - 1] != ']') return false;
  return std::memcmp(text, kDb, sizeof kDb - 1) == 0 ||
         (length >= sizeof kNote && std::memcmp(text, kNote, sizeof kNote - 1) == 0);
}

void TorvoCollection::RecordOwnMarker(const char* text, size_t length, uint32_t occurrence) {
  if (!text) return;
  if (!markers_) markers_ = std::make_unique<CollectionMarkers>();
  markers_->written.push_back({std::string(text, length), occurrence});
}

bool TorvoCollection::IsOwnMarker(const char* text, size_t length, uint32_t occurrence) const {
  if (!markers_ || !text) return false;
  for (const CollectionMarkers::Written& w : markers_->written)
    if (w.occurrence == occurrence && w.text.size() == length &&
        std::memcmp(w.text.data(), text, length) == 0)
      return true;
  return false;
}

TorvoCollection::TorvoCollection(LSXLsiSession* owner) : session(owner) {
  sessionDelete = [](SessionListed* self) { delete static_cast<TorvoCollection*>(self); };
  if (session) session->AddToCollectionList(this);
}

TorvoCollection::~TorvoCollection() {
  if (session) session->RemoveFromCollectionList(this);
}

void TorvoCollection::ClearAnswers() {
  answerSet = exportPathSet = exportUrlSet = 0;
  answerText[0] = exportPath[0] = exportUrl[0] = 0;
}

int TorvoCollection::SetAnswer(const char* text) {
  answerSet = 0;
  answerText[0] = 0;
  if (!CopyIfFits(answerText, sizeof answerText, text)) return 0;
  answerSet = 1;
  return 1;
}

int TorvoCollection::SetExportNames(const char* path, const char* url) {
  int stored = 0;
  exportPathSet = exportUrlSet = 0;
  exportPath[0] = exportUrl[0] = 0;
  if (CopyIfFits(exportPath, sizeof exportPath, path)) exportPathSet = 1, stored = 1;
  if (CopyIfFits(exportUrl, sizeof exportUrl, url)) exportUrlSet = 1, stored = 1;
  return stored;
}

int TorvoCollection::RaiseQueryLinkData(const char* linkText, void* reserved, uint16_t kind,
                                        const char* url, uint32_t flags, char* answer,
                                        uint32_t answerSize, void* extra1, void* extra2) {
  answerSet = 0;
  answerText[0] = 0;
  if (answer && answerSize) answer[0] = 0;
  if (!QueryLinkData) return 0;
  QueryLinkData(this, linkText, reserved, kind, url, flags, nullptr, extra1, extra2);
  if (!answerSet) return 0;
  if (answer && answerSize) {
    if (!CopyIfFits(answer, answerSize, answerText)) {
      answer[0] = 0;
      return 0;
    }
  }
  return 1;
}

int TorvoCollection::RaiseQueryExportNames(const char* kind, char* path, uint32_t pathSize,
                                           char* url, uint32_t urlSize) {
  exportPathSet = exportUrlSet = 0;
  exportPath[0] = exportUrl[0] = 0;
  if (!QueryExportNames) return 0;
  QueryExportNames(this, kind, path, url);
  int replaced = 0;
  if (exportPathSet && path && pathSize && CopyIfFits(path, pathSize, exportPath)) replaced = 1;
  if (exportUrlSet && url && urlSize && CopyIfFits(url, urlSize, exportUrl)) replaced = 1;
  return replaced;
}

NnStatus TorvoCollection::AppendDocument(TorvoRTChunk* target, NnHandle hDb, NOTEID noteId,
                                         const char* itemName, int documentNumber) {
  if (!target || !hDb || !noteId || !itemName || !*itemName) return NN_ERR_INVALID_ARG;
  ORIGINATORID_tag oid = {};
  NnStatus st = NnDbGetNoteInfo(hDb, noteId, &oid, nullptr, nullptr);
  if (st != NN_OK) return st;
  char path[1024] = {};
  st = NnDbGetPath(hDb, path, sizeof path);
  if (st != NN_OK) return st;
  const UNIVERSALNOTEID_tag unid = {oid.File, oid.Note};
  char marker[512];
  const uint32_t length = FormatCollectionDbMarker(marker, sizeof marker, hDb, &unid,
                                                   documentNumber);
  if (!length) return NN_ERR_INVALID_ARG;
  // The marker is the whole text of its record: a paragraph of its own. It
  // is known by its place among the runs of its text: an author's copy
  // already in the item comes before it.
  const uint32_t occurrence = RunsOfText(target->item, marker, length);
  st = target->AppendParagraph(marker, nullptr, nullptr, 0);
  if (st != NN_OK) return st;
  RecordOwnMarker(marker, length, occurrence);
  return target->AppendRTChunk("", path, noteId, itemName, nullptr, 0);
}

uint32_t FormatCollectionDbMarker(char* out, uint32_t outSize, NnHandle hDb,
                                  const UNIVERSALNOTEID_tag* unid, int documentNumber) {
  if (!out || !outSize) return 0;
  out[0] = 0;
  if (!unid) return 0;
  char text[512];
  int n = std::snprintf(text, sizeof text,
                        "[<!--$hDB=%ld$unid=%.8lX%.8lX%.8lX%.8lX-->"
                        "<a name='zavedodAvu%d'></a><div id='zavedodAvu%d'></div>]",
                        long(hDb), static_cast<unsigned long>(unid->File.Innards[1]),
                        static_cast<unsigned long>(unid->File.Innards[0]),
                        static_cast<unsigned long>(unid->Note.Innards[1]),
                        static_cast<unsigned long>(unid->Note.Innards[0]), documentNumber,
                        documentNumber);
  if (n < 0 || uint32_t(n) + 1 > outSize || size_t(n) >= sizeof text) return 0;
  std::memcpy(out, text, size_t(n) + 1);
  return uint32_t(n);
}

uint32_t FormatCollectionNoteMarker(char* out, uint32_t outSize, NnHandle hNote) {
  if (!out || !outSize) return 0;
  out[0] = 0;
  char text[64];
  int n = std::snprintf(text, sizeof text, "[<!--$hNote=%ld-->]", long(hNote));
  if (n < 0 || uint32_t(n) + 1 > outSize) return 0;
  std::memcpy(out, text, size_t(n) + 1);
  return uint32_t(n);
}
