// ID tables: sets of note ids, kept sorted, walked in ascending order.
#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "nn/nn.h"
#include "store.h"

namespace {

struct IdTable {
  std::vector<NOTEID> ids;   // ascending, unique
  bool scanning = false;     // a scan has started and not run off the end
  NOTEID last = 0;           // the id the scan gave last
};

struct Registry {
  std::mutex lock;
  std::map<NnHandle, IdTable> tables;
  uint32_t next = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

constexpr uint32_t kSerialMask = ~uint32_t(nnstore::kHandleKindMask);

// Caller holds the lock.
IdTable* find(Registry& r, NnHandle h) {
  if ((h & nnstore::kHandleKindMask) != nnstore::kIdTableHandle) return nullptr;
  auto it = r.tables.find(h);
  return it == r.tables.end() ? nullptr : &it->second;
}

}  // namespace

NnStatus NnIdTableCreate(NnHandle* out) {
  if (!out) return NN_ERR_INVALID_ARG;
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (r.tables.size() >= kSerialMask) return NN_ERR_MEMORY;
  // Serial numbers wrap; skip any still in use and never hand out serial 0.
  NnHandle h;
  do {
    uint32_t serial = r.next & kSerialMask;
    r.next = (serial + 1) & kSerialMask;
    if (serial == 0) continue;
    h = nnstore::kIdTableHandle | serial;
    if (!r.tables.count(h)) break;
  } while (true);
  r.tables.emplace(h, IdTable{});
  *out = h;
  return NN_OK;
}

NnStatus NnIdTableInsert(NnHandle hTable, NOTEID id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  IdTable* t = find(r, hTable);
  if (!t) return NN_ERR_BAD_HANDLE;
  auto it = std::lower_bound(t->ids.begin(), t->ids.end(), id);
  if (it == t->ids.end() || *it != id) t->ids.insert(it, id);
  return NN_OK;
}

uint32_t NnIdTableEntries(NnHandle hTable) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  IdTable* t = find(r, hTable);
  return t ? uint32_t(t->ids.size()) : 0;
}

bool NnIdTableScan(NnHandle hTable, bool first, NOTEID* id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  IdTable* t = find(r, hTable);
  if (!t) return false;
  if (!first && !t->scanning) return false;
  // Continue after the id given last, so inserts during a scan neither repeat
  // nor skip an id.
  auto it = first ? t->ids.begin() : std::upper_bound(t->ids.begin(), t->ids.end(), t->last);
  if (it == t->ids.end()) {
    t->scanning = false;
    return false;
  }
  t->scanning = true;
  t->last = *it;
  if (id) *id = *it;
  return true;
}

NnStatus NnIdTableFree(NnHandle hTable) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (!find(r, hTable)) return NN_ERR_BAD_HANDLE;
  r.tables.erase(hTable);
  return NN_OK;
}
