// TorvoRTComparison: the options of a comparison of rich-text items (the two
// items compared, the item that receives the result, the markings of deleted
// and inserted content, the notes written when a table's shape changed, and a
// limit). Allocated by the caller; the comparison itself reads it elsewhere.
#pragma once

#include <cstdint>

class LSXLsiSession;
class TorvoRTItem;

class TorvoRTComparison {
 public:
  // Each item is a new TorvoRTItem over the session (null when it cannot be
  // had); every text is a heap copy the object owns.
  explicit TorvoRTComparison(LSXLsiSession* session);
  // Releases the texts. The three items stay alive: their owner (the session
  // or the caller) deletes them.
  ~TorvoRTComparison();
  TorvoRTComparison(const TorvoRTComparison&) = delete;
  TorvoRTComparison& operator=(const TorvoRTComparison&) = delete;

  LSXLsiSession* session = nullptr;
  TorvoRTItem* firstItem = nullptr;
  TorvoRTItem* secondItem = nullptr;
  TorvoRTItem* resultItem = nullptr;
  char* deletionMarker = nullptr;        // "(", 0x02, "-", ")"
  char* insertionMarker = nullptr;       // "(", 0x02, "+", ")"
  char* deletionStyle = nullptr;         // "RED +STRIKETHROUGH"
  void* reserved1 = nullptr;
  char* deletionSymbol = nullptr;        // "(-)"
  char* insertionSymbol = nullptr;       // "(+)"
  char* secondDeletionStyle = nullptr;   // "RED +Strikethrough"
  char* secondInsertionStyle = nullptr;  // "Blue"
  uint16_t options1[3] = {0, 0, 0};
  uint16_t option2 = 1;
  uint16_t options3[2] = {0, 0};
  char* insertionStyle = nullptr;        // "BLUE"
  char* extraText = nullptr;             // released when set
  char* secondDeletionMarker = nullptr;  // "(", 0x01, "-", ")"
  char* secondInsertionMarker = nullptr; // "(", 0x01, "+", ")"
  char* texts[2] = {nullptr, nullptr};
  char* fewerColumnsNote = nullptr;
  char* moreColumnsNote = nullptr;
  char* fewerRowsNote = nullptr;
  char* moreRowsNote = nullptr;
  uint32_t limit = 999;
  void* callerArea;                      // the caller's; not initialised here
  uint64_t words[4] = {0, 0, 0, 0};
  uint32_t option4 = 1;
};
