#include "richtext/item/recordlist.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "host/pool.h"
#include "lsxsessi.h"
#include "richtext/item/cdlayout.h"
#include "rtitem.h"

namespace {

// The stored bytes of one segment, read in place while its block is locked.
struct Segment {
  const uint8_t* data;
  size_t size;
};

// Locks the blocks of the item's segments for the load, and unlocks them.
struct LockedSegments {
  std::vector<Segment> segments;
  std::vector<NnBlockId> blocks;
  LockedSegments() = default;
  LockedSegments(const LockedSegments&) = delete;
  LockedSegments& operator=(const LockedSegments&) = delete;
  ~LockedSegments() {
    for (NnBlockId b : blocks) NnBlockUnlock(b);
  }
};

// Collects the canonical bytes of every segment of the item, in order.
NnStatus ReadSegments(NnHandle hNote, const char* itemName, LockedSegments* locked,
                      uint16_t* firstFlags) {
  NnBlockId item, value;
  uint16_t type = 0;
  uint32_t len = 0;
  uint16_t nameLen = uint16_t(std::strlen(itemName));
  NnStatus st = NnItemInfo(hNote, itemName, nameLen, &item, &type, &value, &len);
  bool first = true;
  while (st == NN_OK) {
    if (type == NN_TYPE_STRUCTURED_RICHTEXT) return NN_ERR_STRUCTURED_RICHTEXT;
    if (type == NN_TYPE_COMPOSITE) {
      const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(value));
      locked->blocks.push_back(value);
      if (!p || len < 2) return NN_ERR_BAD_ITEM;
      locked->segments.push_back({p + 2, size_t(len) - 2});
      if (first && firstFlags) {
        NnItemDesc desc;
        uint32_t n = NnNoteItemCount(hNote);
        for (uint32_t i = 0; i < n; ++i)
          if (NnNoteItemAt(hNote, i, &desc) == NN_OK && desc.item == item) *firstFlags = desc.flags;
      }
      first = false;
    }
    NnBlockId prev = item;
    st = NnItemInfoNext(hNote, prev, itemName, nameLen, &item, &type, &value, &len);
  }
  if (st == NN_ERR_ITEM_NOT_FOUND || st == NN_ERR_NO_MORE) return NN_OK;
  return st;
}

NnStatus Refuse(const std::string& itemName, uint16_t segment, size_t offset, const char* why) {
  NnLogMessage(NN_ERR_CD_STRUCTURE, "ZELKO: Item %s, segment %u, record at byte %lu: %s",
               itemName.c_str(), unsigned(segment), static_cast<unsigned long>(offset), why);
  return NN_ERR_CD_STRUCTURE;
}

// The converted records, written straight into one pool block that grows
// when a record does not fit.
class LoadArea {
 public:
  LoadArea(LSXLsiSession* session, size_t capacity) : session_(session), capacity_(capacity) {}
  ~LoadArea() {
    if (data_) PoolFree(session_, data_);
  }
  LoadArea(const LoadArea&) = delete;
  LoadArea& operator=(const LoadArea&) = delete;

  // Where the next record goes: the 8-byte boundary after the last one, the
  // bytes before it zeroed.
  size_t Next() {
    const size_t at = Aligned();
    ZeroGap(at);
    return at;
  }
  size_t Aligned() const { return (used_ + 7) & ~size_t(7); }
  // Zeroes the bytes from the last record's end to `at` (the record written
  // at `at` then covers what else is zeroed).
  void ZeroGap(size_t at) {
    if (!data_) return;
    if (used_ + 8 <= capacity_) {
      const uint64_t zero = 0;
      std::memcpy(data_ + used_, &zero, sizeof zero);
      return;
    }
    for (size_t i = used_; i < at && i < capacity_; ++i) data_[i] = 0;
  }
  uint8_t* At(size_t at) { return data_ ? data_ + at : nullptr; }
  size_t RoomAt(size_t at) const { return data_ && at <= capacity_ ? capacity_ - at : 0; }
  // Makes room for `need` bytes in all.
  bool Reserve(size_t need) {
    if (need <= capacity_ && data_) return true;
    const size_t grown = std::max(need, data_ ? capacity_ + capacity_ / 2 : capacity_);
    auto* bigger = static_cast<uint8_t*>(POOL_ALLOC(session_, grown, false));
    if (!bigger) return false;
    if (data_) {
      std::memcpy(bigger, data_, used_);
      PoolFree(session_, data_);
    }
    data_ = bigger;
    capacity_ = grown;
    ZeroGap(Aligned());
    return true;
  }
  // Takes the record written at `at` (from Next()).
  void Commit(size_t at, size_t size) { used_ = at + size; }
  size_t used() const { return used_; }
  // Hands the block over (null when nothing was appended).
  uint8_t* Take() {
    uint8_t* d = used_ ? data_ : nullptr;
    if (!used_ && data_) PoolFree(session_, data_);
    data_ = nullptr;
    return d;
  }

 private:
  LSXLsiSession* session_;
  uint8_t* data_ = nullptr;
  size_t capacity_;
  size_t used_ = 0;
};

// How many records the segments hold, up to the first that does not fit
// (the conversion reports that one).
size_t CountRecords(const std::vector<Segment>& segments) {
  size_t n = 0;
  for (const Segment& seg : segments) {
    for (size_t pos = 0; pos < seg.size;) {
      uint16_t sig;
      kv::cd::HeaderKind kind;
      uint32_t len, headerSize;
      if (!kv::cd::ReadCanonicalHeader(seg.data + pos, seg.size - pos, &sig, &kind, &len,
                                       &headerSize) ||
          len < headerSize || len > seg.size - pos)
        break;
      ++n;
      pos += len;
      if (len % 2 && pos < seg.size) ++pos;
    }
  }
  return n;
}

// The node block of a load, freed unless the list takes it.
struct NodeBlock {
  LSXLsiSession* session;
  RTRecordNode* nodes = nullptr;
  ~NodeBlock() {
    if (nodes) PoolFree(session, nodes);
  }
};

RecordList* LoadFromSegments(LSXLsiSession* session, const std::string& itemName,
                             const std::vector<Segment>& segments, uint16_t itemFlags,
                             NnStatus* status) {
  // Convert every record first, so that a broken one leaves nothing behind.
  // The host layout is rarely longer than the stored one: room for the stored
  // bytes and the alignment of each record mostly avoids growing the area.
  size_t stored = 0;
  for (const Segment& seg : segments) stored += seg.size;
  LoadArea area(session, stored + stored / 4 + 64);
  // The nodes lie in one block, in order; until the area stops moving each
  // keeps its record's offset in the area where its data pointer goes.
  const size_t expected = CountRecords(segments);
  NodeBlock block{session};
  if (expected) {
    block.nodes = static_cast<RTRecordNode*>(POOL_ALLOC(session, expected * sizeof(RTRecordNode), false));
    if (!block.nodes) {
      *status = NN_ERR_MEMORY;
      return nullptr;
    }
  }
  size_t count = 0;
  for (size_t s = 0; s < segments.size(); ++s) {
    const uint8_t* seg = segments[s].data;
    const size_t size = segments[s].size;
    size_t pos = 0;
    while (pos < size) {
      uint16_t sig;
      kv::cd::HeaderKind kind;
      uint32_t len, headerSize;
      if (!kv::cd::ReadCanonicalHeader(seg + pos, size - pos, &sig, &kind, &len, &headerSize)) {
        // A lone pad byte at the very end of a segment is not a record.
        if (size - pos == 1 && seg[pos] == 0) break;
        *status = Refuse(itemName, uint16_t(s), pos, "the header does not fit");
        return nullptr;
      }
      if (len < headerSize) {
        *status = Refuse(itemName, uint16_t(s), pos, "the length is below its header");
        return nullptr;
      }
      if (len > size - pos) {
        *status = Refuse(itemName, uint16_t(s), pos, "the record runs past the end of the item");
        return nullptr;
      }
      // Host records stay aligned for the handlers that read them in place;
      // each is converted straight into the area, which grows when it must.
      const size_t at = area.Next();
      uint32_t hostLength = 0;
      NnStatus st = kv::cd::CanonicalToHostIn(seg + pos, len, area.At(at), area.RoomAt(at),
                                              &hostLength);
      if (st == NN_OK && hostLength > area.RoomAt(at)) {
        if (!area.Reserve(at + hostLength)) {
          *status = NN_ERR_MEMORY;
          return nullptr;
        }
        st = kv::cd::CanonicalToHostIn(seg + pos, len, area.At(at), area.RoomAt(at), &hostLength);
      }
      if (st != NN_OK) {
        *status = st == NN_ERR_MEMORY ? st
                                      : Refuse(itemName, uint16_t(s), pos,
                                               "the record is shorter than its fixed part");
        return nullptr;
      }
      area.Commit(at, hostLength);
      if (count == expected) {  // cannot happen: the count saw every record that converts
        *status = NN_ERR_CD_STRUCTURE;
        return nullptr;
      }
      RTRecordNode* node = new (block.nodes + count) RTRecordNode();
      node->signature = sig;
      node->aux = reinterpret_cast<void*>(uintptr_t(at));
      node->length = hostLength;
      node->flags = kNodeInBlock;
      node->sequence = uint32_t(++count);
      node->position = uint32_t(pos);
      node->segment = uint16_t(s);
      pos += len;
      if (len % 2 && pos < size) ++pos;
    }
  }

  RecordList* list = RecordListCreate(session);
  if (!list) {
    *status = NN_ERR_MEMORY;
    return nullptr;
  }
  list->storedSegments = uint16_t(segments.size());
  list->itemFlags = itemFlags;
  list->loadAreaSize = area.used();
  list->loadArea = area.Take();
  if (count == 0) {
    *status = NN_OK;
    return list;
  }
  RTRecordNode* nodes = block.nodes;
  block.nodes = nullptr;
  list->nodeBlock = nodes;
  for (size_t i = 0; i < count; ++i) {
    RTRecordNode* node = nodes + i;
    node->data = list->loadArea + reinterpret_cast<uintptr_t>(node->aux);
    node->aux = nullptr;
    node->prev = i ? node - 1 : nullptr;
    node->next = i + 1 < count ? node + 1 : nullptr;
  }
  list->first = nodes;
  list->last = nodes + count - 1;
  list->count = uint32_t(count);
  *status = NN_OK;
  return list;
}

}  // namespace

RecordList* RecordListCreate(LSXLsiSession* session) {
  void* mem = POOL_ALLOC(session, sizeof(RecordList), true);
  return mem ? new (mem) RecordList() : nullptr;
}

RTRecordNode* RecordListAppendNode(LSXLsiSession* session, RecordList* list, uint16_t signature,
                                   uint8_t* data, uint32_t length, uint16_t flags) {
  void* mem = POOL_ALLOC(session, sizeof(RTRecordNode), true);
  if (!mem) return nullptr;
  RTRecordNode* node = new (mem) RTRecordNode();
  node->signature = signature;
  node->data = data;
  node->length = length;
  node->flags = flags;
  node->prev = list->last;
  node->sequence = ++list->count;
  if (list->last)
    list->last->next = node;
  else
    list->first = node;
  list->last = node;
  return node;
}

void RecordListUnlink(LSXLsiSession* session, RecordList* list, RTRecordNode* node) {
  if (!list || !node) return;
  if (node->prev)
    node->prev->next = node->next;
  else
    list->first = node->next;
  if (node->next)
    node->next->prev = node->prev;
  else
    list->last = node->prev;
  if (list->count) --list->count;
  if ((node->flags & kNodeAuxHandle) && node->aux) {
    NnMemFree(static_cast<NnHandle>(reinterpret_cast<uintptr_t>(node->aux)));
    node->aux = nullptr;
  }
  if (node->flags & kNodeInBlock) return;  // the block goes with the list
  node->~RTRecordNode();
  PoolFree(session, node);
}

void RecordListRenumber(RecordList* list) {
  uint32_t n = 0;
  for (RTRecordNode* node = list ? list->first : nullptr; node; node = node->next)
    node->sequence = ++n;
  if (list) list->count = n;
}

RecordList* RecordListLoad(TorvoRTItem* item, uint32_t, RecordList** loadArea, uint32_t,
                           NnStatus* status) {
  NnStatus local = NN_OK;
  NnStatus* st = status ? status : &local;
  if (!item || !item->session || !item->hNote) {
    *st = NN_ERR_INVALID_ARG;
    return nullptr;
  }
  RecordList* list = RecordListLoadFromNote(item->session, item->hNote, item->itemName, st);
  if (list && loadArea) *loadArea = list;
  return list;
}

RecordList* RecordListLoadFromNote(LSXLsiSession* session, NnHandle hNote, const char* itemName,
                                   NnStatus* status) {
  NnStatus local = NN_OK;
  NnStatus* st = status ? status : &local;
  if (!session || !hNote || !itemName) {
    *st = NN_ERR_INVALID_ARG;
    return nullptr;
  }
  LockedSegments locked;
  uint16_t flags = 0;
  NnStatus read = ReadSegments(hNote, itemName, &locked, &flags);
  if (read != NN_OK) {
    NnLogMessage(read, "ZELKO: Unable to read rich text item %s", itemName);
    *st = read;
    return nullptr;
  }
  return LoadFromSegments(session, itemName, locked.segments, flags, st);
}

RTRecordNode* RecordListNext(const RecordList* list, const RTRecordNode* node) {
  if (!list) return nullptr;
  return node ? node->next : list->first;
}

RTRecordNode* RecordListPrev(const RecordList*, const RTRecordNode* node) {
  return node ? node->prev : nullptr;
}

namespace {

// The record that closes (forward) or opens (backward) the group at `from`.
RTRecordNode* MatchingGroupRecord(RTRecordNode* from, bool forward) {
  const uint16_t opens = forward ? 221 : 222, closes = forward ? 222 : 221;
  int depth = 0;
  for (RTRecordNode* n = from; n; n = forward ? n->next : n->prev) {
    if (n->signature == opens) ++depth;
    if (n->signature == closes && --depth == 0) return n;
  }
  return nullptr;
}

}  // namespace

RTRecordNode* RecordGroupEnd(RTRecordNode* begin) { return MatchingGroupRecord(begin, true); }
RTRecordNode* RecordGroupBegin(RTRecordNode* end) { return MatchingGroupRecord(end, false); }

RTRecordNode* RecordHotspotEnd(RTRecordNode* begin) {
  const auto opens = [](uint16_t s) {
    return s == 0xFF74 || s == 0xFF7E || s == 0xFFA9 || s == 0xFFAD;
  };
  int depth = 0;
  for (RTRecordNode* n = begin; n; n = n->next) {
    // A legacy begin directly followed by a newer one opens one hotspot.
    if (opens(n->signature) &&
        !(n->signature == 0xFFA9 && n->prev && n->prev->signature == 0xFFAD && n != begin))
      ++depth;
    if ((n->signature == 0x7F || n->signature == 0xAA || n->signature == 0xAE) && --depth <= 0)
      return n;
  }
  return nullptr;
}

void RecordListFreeWithAllocator(LSXLsiSession* session, RecordList* list) {
  if (!list) return;
  // Every node goes: each gives back what RecordListUnlink would free, without
  // relinking its neighbours first.
  for (RTRecordNode* node = list->first; node;) {
    RTRecordNode* next = node->next;
    if ((node->flags & kNodeAuxHandle) && node->aux) {
      NnMemFree(static_cast<NnHandle>(reinterpret_cast<uintptr_t>(node->aux)));
      node->aux = nullptr;
    }
    if (!(node->flags & kNodeInBlock)) {
      node->~RTRecordNode();
      PoolFree(session, node);
    }
    node = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
  if (list->nodeBlock) PoolFree(session, list->nodeBlock);
  if (list->loadArea) PoolFree(session, list->loadArea);
  for (NnHandle h : list->segments) {
    NnMemUnlock(h);
    NnMemFree(h);
  }
  list->~RecordList();
  PoolFree(session, list);
}

NnStatus RecordListToSegments(const RecordList* list,
                              std::vector<std::vector<uint8_t>>* segments) {
  std::vector<std::vector<uint8_t>> out;
  std::vector<uint8_t> canonical;
  out.emplace_back();
  for (const RTRecordNode* node = list ? list->first : nullptr; node; node = node->next) {
    if (node->flags & kNodeDrop) continue;
    canonical.clear();
    NnStatus st = kv::cd::HostToCanonical(node->data, node->length, &canonical);
    if (st != NN_OK) {
      NnLogMessage(st, "ZELKO: Unable to convert record %lu (0x%04X) for storing",
                   static_cast<unsigned long>(node->sequence), unsigned(node->signature));
      return st;
    }
    size_t padded = canonical.size() + (canonical.size() % 2);
    if (padded > kMaxItemSegment) {
      NnLogMessage(NN_ERR_CD_STRUCTURE, "ZELKO: Record %lu of %lu bytes does not fit an item segment",
                   static_cast<unsigned long>(node->sequence),
                   static_cast<unsigned long>(canonical.size()));
      return NN_ERR_CD_STRUCTURE;
    }
    if (out.back().size() + padded > kMaxItemSegment) out.emplace_back();
    std::vector<uint8_t>& seg = out.back();
    seg.insert(seg.end(), canonical.begin(), canonical.end());
    if (canonical.size() % 2) seg.push_back(0);
  }
  segments->swap(out);
  return NN_OK;
}
