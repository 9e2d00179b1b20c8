// Fuzz target: arbitrary bytes as a stored rich-text item, rendered as XHTML.
// The render either fails with a status or gives a page that parses as XML.
#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 63358) return 0;
  static NnHandle db = 0;
  if (!db) NnDbOpen("mem-fuzz-render.nsf", NN_DB_CREATE, &db);
  NnHandle note = 0;
  if (NnNoteCreate(db, NN_CLASS_DOCUMENT, &note) != NN_OK) return 0;
  NnItemAppend(note, 0, "Body", 4, NN_TYPE_COMPOSITE, data, uint32_t(size));
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    if (item.ConnectBackend(db, note, "Body") == NN_OK) {
      TorvoRTChunk* chunk = item.DefineChunk("");
      char* page = nullptr;
      uint32_t length = 0;
      if (chunk && chunk->GenerateXML(nullptr, "", &page, &length) == NN_OK && page) {
        xmlDocPtr doc = xmlReadMemory(page, int(length), "page.xhtml", nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        if (!doc) __builtin_trap();
        xmlFreeDoc(doc);
        PoolFree(&session, page);
      }
      delete chunk;
    }
  }
  NnNoteClose(note);
  return 0;
}
