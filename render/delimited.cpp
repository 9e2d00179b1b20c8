// Delimited HTML in rich text. Authors type HTML into text and mark it; these
// passes over a record list (host layout) turn the marking into pass-through
// blocks before a render, or escape the marked text before an HTML import.
//
// Both passes first plan every change and allocate every new record, and only
// then link them in: a pass that runs out of memory leaves the list as it was.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "render/render.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"

namespace {

constexpr uint16_t kSigText = 0xFF85;
constexpr uint16_t kSigPassthruBegin = 0xFFCC;
constexpr uint16_t kSigPassthruEnd = 0xFFCD;
constexpr uint32_t kTextFixed = kv::cd::host::kTextFixed;
constexpr size_t kMaxDelimiter = 55;  // a delimiter and 8 header bytes fit 64 bytes

const char* const kDefaultStart = "<!--DelimitedStart-->";
const char* const kDefaultEnd = "<!--DelimitedEnd-->";

// One text record to rewrite and the pass-through records to put around it.
struct Change {
  RTRecordNode* node = nullptr;
  bool rewrite = false;
  std::string text;
  std::vector<uint16_t> before;  // signatures, in order
  std::vector<uint16_t> after;
  // A delimiter typed by a document's author: the block it opens is typed markup.
  bool typed = false;
  // Allocated in the second phase.
  uint8_t* newData = nullptr;
  std::vector<RTRecordNode*> beforeNodes;
  std::vector<RTRecordNode*> afterNodes;
};

RTRecordNode* NewNode(LSXLsiSession* session, uint16_t signature, uint32_t length) {
  uint8_t* data = static_cast<uint8_t*>(POOL_ALLOC(session, length, true));
  if (!data) return nullptr;
  void* mem = POOL_ALLOC(session, sizeof(RTRecordNode), true);
  if (!mem) {
    PoolFree(session, data);
    return nullptr;
  }
  RTRecordNode* node = new (mem) RTRecordNode();
  node->signature = signature;
  node->length = length;
  node->data = data;
  node->flags = kNodeOwnsData;
  std::memcpy(data, &signature, 2);
  uint16_t len16 = uint16_t(length);
  std::memcpy(data + 2, &len16, 2);
  return node;
}

void FreeUnlinkedNode(LSXLsiSession* session, RTRecordNode* node) {
  if (!node) return;
  PoolFree(session, node->data);
  node->~RTRecordNode();
  PoolFree(session, node);
}

void LinkBefore(RecordList* list, RTRecordNode* at, RTRecordNode* node) {
  node->next = at;
  node->prev = at->prev;
  if (at->prev)
    at->prev->next = node;
  else
    list->first = node;
  at->prev = node;
}

void LinkAfter(RecordList* list, RTRecordNode* at, RTRecordNode* node) {
  node->prev = at;
  node->next = at->next;
  if (at->next)
    at->next->prev = node;
  else
    list->last = node;
  at->next = node;
}

// The data of a node: freed with it only when it is a pool block of its own
// (composed records live in segment buffers the list owns).
void FreeOwnedData(LSXLsiSession* session, RTRecordNode* node) {
  if (!(node->flags & kNodeOwnsData) || !node->data || !session->pool) return;
  PoolBlock* b = PoolFindBlock(session->pool, node->data);
  if (b && b->data == node->data) PoolFree(session, node->data);
}

void DiscardAllocations(LSXLsiSession* session, std::vector<Change>& changes) {
  for (Change& c : changes) {
    PoolFree(session, c.newData);
    c.newData = nullptr;
    for (RTRecordNode* n : c.beforeNodes) FreeUnlinkedNode(session, n);
    for (RTRecordNode* n : c.afterNodes) FreeUnlinkedNode(session, n);
    c.beforeNodes.clear();
    c.afterNodes.clear();
  }
}

// Allocates every new block, then links and rewrites; 263 with nothing changed.
NnStatus ApplyChanges(LSXLsiSession* session, RecordList* list, std::vector<Change>& changes) {
  for (Change& c : changes) {
    if (c.rewrite) {
      uint32_t length = uint32_t(kTextFixed + c.text.size());
      c.newData = static_cast<uint8_t*>(POOL_ALLOC(session, length, false));
      if (!c.newData) {
        DiscardAllocations(session, changes);
        return NN_ERR_MEMORY;
      }
      std::memcpy(c.newData, c.node->data, kTextFixed);
      std::memcpy(c.newData + kTextFixed, c.text.data(), c.text.size());
      uint16_t len16 = uint16_t(length);
      std::memcpy(c.newData + 2, &len16, 2);
    }
    for (int side = 0; side < 2; ++side) {
      const std::vector<uint16_t>& sigs = side == 0 ? c.before : c.after;
      std::vector<RTRecordNode*>& nodes = side == 0 ? c.beforeNodes : c.afterNodes;
      for (uint16_t sig : sigs) {
        RTRecordNode* n = NewNode(session, sig, 8);
        if (!n) {
          DiscardAllocations(session, changes);
          return NN_ERR_MEMORY;
        }
        nodes.push_back(n);
      }
    }
  }
  for (Change& c : changes) {
    for (RTRecordNode* n : c.beforeNodes) {
      if (c.typed && n->signature == kSigPassthruBegin) n->flags |= kNodeTypedMarkup;
      LinkBefore(list, c.node, n);
    }
    if (c.typed) c.node->flags |= kNodeDelimiter;
    RTRecordNode* at = c.node;
    for (RTRecordNode* n : c.afterNodes) {
      LinkAfter(list, at, n);
      at = n;
    }
    if (c.rewrite) {
      FreeOwnedData(session, c.node);
      c.node->data = c.newData;
      c.node->length = uint32_t(kTextFixed + c.text.size());
      c.node->flags |= kNodeOwnsData;
      c.newData = nullptr;
    }
  }
  RecordListRenumber(list);
  return 0;
}

bool TwoCharacterRun(const RTRecordNode* node, const char* chars) {
  return node->signature == kSigText && node->length == kTextFixed + 2 && node->data &&
         std::memcmp(node->data + kTextFixed, chars, 2) == 0;
}

bool ValidDelimiter(const char* text) { return std::strlen(text) <= kMaxDelimiter; }

// A typed block ends at the end of its paragraph, or at the first record that
// is not text: a "[<" is a delimiter only when its ">]" comes before that, so
// that an unended one never takes the paragraphs and tables after it.
bool TypedBlockEnds(const RTRecordNode* start) {
  for (const RTRecordNode* n = start->next; n && n->signature == kSigText; n = n->next)
    if (TwoCharacterRun(n, ">]")) return true;
  return false;
}

}  // namespace

NnStatus ProcessDelimitedHTML(LSXLsiSession* session, RecordList* list, const char* startDelimiter,
                              const char* endDelimiter) {
  if (!session || !session->IsValid()) return NN_ERR_INVALID_ARG;
  if (!list || !list->first) return 0;
  const char* start = startDelimiter && *startDelimiter ? startDelimiter : kDefaultStart;
  const char* end = endDelimiter && *endDelimiter ? endDelimiter : kDefaultEnd;
  if (!ValidDelimiter(start) || !ValidDelimiter(end)) return NN_ERR_INVALID_ARG;

  std::vector<Change> changes;
  bool passthru = false;
  bool typed = false;  // the open block began at a typed delimiter
  for (RTRecordNode* node = RecordListNext(list, nullptr); node; node = RecordListNext(list, node)) {
    Change change;
    change.node = node;
    if (node->signature == kSigPassthruBegin) {
      passthru = true;
    } else if (node->signature == kSigPassthruEnd) {
      passthru = typed = false;
    } else if (!passthru && TwoCharacterRun(node, "[<") && TypedBlockEnds(node)) {
      change.before.push_back(kSigPassthruBegin);
      change.rewrite = change.typed = true;
      change.text = std::string(start) + "<";
      passthru = typed = true;
    } else if (passthru && TwoCharacterRun(node, ">]")) {
      change.after.push_back(kSigPassthruEnd);
      change.rewrite = true;
      change.typed = typed;
      change.text = std::string(">") + end;
      passthru = typed = false;  // the end record inserted after it closes the block
    }
    // A block still open at the end of the list is closed after its last record.
    if (!node->next && passthru) change.after.push_back(kSigPassthruEnd);
    if (change.rewrite || !change.before.empty() || !change.after.empty())
      changes.push_back(std::move(change));
  }
  return ApplyChanges(session, list, changes);
}

NnStatus EscapeTextRecordsAsHTML(LSXLsiSession* session, RecordList* list,
                                 const char* startDelimiter, const char* endDelimiter) {
  if (!session || !session->IsValid()) return NN_ERR_INVALID_ARG;
  if (!list || !list->first || !startDelimiter || !*startDelimiter || !endDelimiter ||
      !*endDelimiter)
    return 0;
  const size_t startLen = std::strlen(startDelimiter);
  const size_t endLen = std::strlen(endDelimiter);

  std::vector<Change> changes;
  bool passthru = false, region = false, restart = false;
  for (RTRecordNode* node = RecordListNext(list, nullptr); node; node = RecordListNext(list, node)) {
    if (node->signature == kSigPassthruBegin) {
      passthru = true;
      continue;
    }
    if (node->signature == kSigPassthruEnd) {
      passthru = false;
      continue;
    }
    if (node->signature != kSigText || !node->data || node->length <= kTextFixed) continue;
    const char* text = reinterpret_cast<const char*>(node->data) + kTextFixed;
    const size_t n = node->length - kTextFixed;
    if (!region && n < startLen) continue;

    Change change;
    change.node = node;
    bool touched = region;
    std::string& out = change.text;
    size_t i = 0;
    while (i < n) {
      const size_t left = n - i;
      if (!region) {
        if (left >= startLen && std::memcmp(text + i, startDelimiter, startLen) == 0) {
          if (passthru) {
            change.before.push_back(kSigPassthruEnd);
            passthru = false;
            restart = true;
          }
          out += '[';
          i += startLen;
          if (i >= n || text[i] != '<') out += "<!-- -->";
          region = true;
          touched = true;
          continue;
        }
      } else {
        bool atEnd = left >= endLen && std::memcmp(text + i, endDelimiter, endLen) == 0;
        bool atStart =
            !atEnd && left >= startLen && std::memcmp(text + i, startDelimiter, startLen) == 0;
        if (atEnd || atStart) {
          out += ']';
          i += atEnd ? endLen : startLen;
          if (atStart) region = false;
          if (restart) {
            change.after.push_back(kSigPassthruBegin);
            passthru = true;
            restart = false;
          }
          continue;
        }
      }
      uint32_t bytes = 1;
      if (NnCharsetByteSize(text + i, 1, uint32_t(left), &bytes, nullptr) != 0 || bytes == 0 ||
          bytes > left)
        bytes = 1;
      if (bytes >= 2 || !region) {
        out.append(text + i, bytes);
      } else {
        switch (text[i]) {
          case '&': out += "&amp;"; break;
          case '<': out += "&lt;"; break;
          case '>': out += "&gt;"; break;
          case '"': out += "&quot;"; break;
          default: out += text[i]; break;
        }
      }
      i += bytes;
    }
    if (!touched) continue;
    // The text is built in one work block; what does not fit a record is refused.
    if (kTextFixed + out.size() > kWorkBlockSize) return NN_ERR_MEMORY;
    change.rewrite = true;
    changes.push_back(std::move(change));
  }
  return ApplyChanges(session, list, changes);
}
