// Construction and destruction of the comparison options.
#include "rtcomparison.h"

#include <cstring>
#include <new>

#include "lsxsessi.h"
#include "rtitem.h"

namespace {

// A heap copy of `length` bytes plus a NUL; null when memory runs out.
char* CopyText(const char* text, size_t length) {
  char* copy = new (std::nothrow) char[length + 1];
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}
char* CopyText(const char* text) { return CopyText(text, std::strlen(text)); }

void Release(char*& text) {
  delete[] text;
  text = nullptr;
}

}  // namespace

TorvoRTComparison::TorvoRTComparison(LSXLsiSession* s) : session(s) {
  firstItem = new (std::nothrow) TorvoRTItem(s);
  secondItem = new (std::nothrow) TorvoRTItem(s);
  resultItem = new (std::nothrow) TorvoRTItem(s);
  // The markers carry a control byte, so their length is given.
  deletionMarker = CopyText("(\x02-)", 4);
  insertionMarker = CopyText("(\x02+)", 4);
  deletionStyle = CopyText("RED +STRIKETHROUGH");
  deletionSymbol = CopyText("(-)");
  insertionSymbol = CopyText("(+)");
  secondDeletionStyle = CopyText("RED +Strikethrough");
  secondInsertionStyle = CopyText("Blue");
  insertionStyle = CopyText("BLUE");
  secondDeletionMarker = CopyText("(\x01-)", 4);
  secondInsertionMarker = CopyText("(\x01+)", 4);
  fewerColumnsNote = CopyText("** The number of columns has decreased **");
  moreColumnsNote = CopyText("** The number of columns has increased **");
  fewerRowsNote = CopyText("** The number of rows has decreased **");
  moreRowsNote = CopyText("** The number of rows has increased **");
}

TorvoRTComparison::~TorvoRTComparison() {
  Release(deletionMarker);
  Release(insertionMarker);
  Release(deletionStyle);
  Release(extraText);
  Release(deletionSymbol);
  Release(insertionSymbol);
  Release(secondDeletionStyle);
  Release(secondInsertionStyle);
  Release(insertionStyle);
  Release(secondDeletionMarker);
  Release(secondInsertionMarker);
  Release(fewerColumnsNote);
  Release(moreColumnsNote);
  Release(fewerRowsNote);
  Release(moreRowsNote);
  // The items are not released here: the session (or their owner) deletes them.
}
