// The link-matching context: the keys a link-matching run collected from the
// documents of a view, and the state the engine keeps while it matches them.
#pragma once

#include <cstdint>

#include <string>

#include "nn/nn.h"

class LSXLsiSession;

constexpr uint32_t kLinkMatchKeyLists = 10;
constexpr uint32_t kLinkMatchFirstLetters = 16350;   // bytes, one per key
constexpr uint32_t kLinkMatchNoteIdBlock = 65406;    // bytes of the note-identifier block

// Allocated zeroed with operator new by its creators; released with
// LinkMatchContextDelete (include/rtitem.h), which frees what it holds.
struct LinkMatchContext {
  LSXLsiSession* session = nullptr;                // owner: its pool holds the arrays
  NnHandle keyLists[kLinkMatchKeyLists] = {};      // platform text lists of keys, in key order
  NnHandle noteIdBlock = 0;                        // one u32 note id per key (memory handle)
  uint32_t* noteIds = nullptr;                     // its locked address, or null
  uint32_t* matchedFlags = nullptr;                // pool: one u32 per key, zeroed
  uint16_t shortestKeyLength = 0;
  uint16_t MatchMode = 1;                          // 1 word, 2 starts, 3 ends, 4 substring
  uint32_t singleMatch = 0;
  uint32_t replaceExtra = 0;
  uint16_t LetterIndex[26] = {};                   // per text run, a..z
  uint8_t* firstLetters = nullptr;                 // pool: lower-cased first letter per key, or 0
  uint16_t keyCount = 0;                           // keys over all the lists
};

// ---- the state of one matching operation ---------------------------------------
// Kept per thread: it lives within one call (link or wiki matching and its
// passes), and a session is used by one thread at a time, so sessions in
// other threads never see it.
constexpr uint32_t kMatchKeyMax = 80;                // characters of a key
constexpr uint32_t kMatchedTextSize = 64384;         // a run's text fits with its NUL
constexpr uint32_t kKeywordBufferSize = 65406;       // KeywordMatching's collected list
constexpr uint32_t kKeywordBufferLimit = 64906;      // no more keywords past this length
extern thread_local char MatchKeyBuffer[kMatchKeyMax + 1];
// The matched text: kMatchedTextSize bytes taken from the heap on a thread's
// first match (most threads of a program never match); null when memory ran
// out.
char* MatchedTextBuffer();
extern thread_local uint32_t MatchedNoteId;
// Raised by a matching pass that changed something (the caller runs another).
extern thread_local uint32_t MatchPassChanged;

// Evaluates a started computation on a note (0: none) and turns the result
// into text: text as is, a text list joined with ";", a number "%g", a number
// list its first number, a time as text, a time list its times and then its
// ranges joined with ";". Anything else, or a failed evaluation, gives ""
// and false. At most `maximum` bytes are kept.
bool EvaluateComputationToText(NnHandle hCompute, NnHandle hNote, uint32_t maximum,
                               std::string* out);
