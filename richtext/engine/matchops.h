// Helpers shared by the link-matching (2386) and wiki (2816) operations.
#pragma once

#include <cstdint>
#include <string>

#include "nn/nn.h"

struct RTProcessContext;
struct RTRecordNode;

// A point in the composition to which a failed composer can be undone.
struct ComposeMark {
  RTRecordNode* last = nullptr;
  uint32_t composedCount = 0;
  uint16_t hotspotOpen = 0, linkOpen = 0, attachmentHotspot = 0;
};
ComposeMark MarkComposition(const RTProcessContext* ctx);
// Drops the records appended since the mark and restores the hotspot state.
void RollBackComposition(RTProcessContext* ctx, const ComposeMark& mark);

// Keeps the composition's hotspot state in a read-only walk (nothing is
// appended there, so the appender does not keep it).
void TrackHotspotState(uint16_t signature, RTProcessContext* ctx);
// True inside an open hotspot or link.
bool InsideHotspot(const RTProcessContext* ctx);
// True when the walked record is one the matching itself wrote.
bool WrittenByMatching(const RTProcessContext* ctx);
// Runs `emit` with the session's adopt flag raised, so that what it writes
// is marked as written by the matching and never scanned again.
class AdoptScope {
 public:
  explicit AdoptScope(RTProcessContext* ctx);
  ~AdoptScope();
  AdoptScope(const AdoptScope&) = delete;
  AdoptScope& operator=(const AdoptScope&) = delete;

 private:
  uint16_t* flag_;
  uint16_t saved_;
};

// Sub-code of operation 2816 that turns the wiki texts still standing into
// action hotspots composing a page of their name.
constexpr uint32_t kWikiNewPages = 2423;
// What those formulas name, set by the wiki matching before that pass.
struct WikiComposeSettings {
  std::string server;    // as given; one starting with '@' is written as it is
  std::string database;
  std::string form;      // "Form=" of the properties, or empty
};
// The calling thread's settings.
WikiComposeSettings& CurrentWikiComposeSettings();
