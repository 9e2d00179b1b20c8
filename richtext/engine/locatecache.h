// What the locates of a chunk learn about its item, kept on the chunk while
// the item's records stay as they are.
//
// A script that steps through the targets of a chunk (next, previous, last,
// count) asks the same walk again and again with only the occurrence number of
// the innermost node changed. Two such walks do exactly the same until the
// walk first asks whether an occurrence number at or above the smaller of the
// two qualifies, so the walk for occurrence k+1 can continue from the state the
// walk for k had before that point instead of starting at the first record.
// The cache keeps that state and the results already found; any write, commit,
// reload or reconnect of the item (its records generation) or any change of
// the chunk's definition or options drops them.
#pragma once

#include <cstdint>

#include "nn/nn.h"

struct RTProcessContext;
struct LocateCache;

// Marks the item's records as possibly changed: every cached locate of its
// chunks is dropped.
void LocateCacheInvalidate(struct RTItemContext* itemContext);

// The cache the call may use, null when the call walks as always. Called once
// the records are loaded and before the walk.
LocateCache* LocateCacheBegin(RTProcessContext* ctx);
// Before the walk: true when the cache answered the call (the session's match
// records and the item's current font are set, nothing is to be walked);
// otherwise the context may continue from a kept walk state.
bool LocateCacheStart(RTProcessContext* ctx, LocateCache* cache);
// After each record the walk handled: true when the rest of the walk cannot
// change the result (the walk stops; the state is as after a full walk).
bool LocateCacheAfterRecord(RTProcessContext* ctx, LocateCache* cache);
// After the walk: keeps the result of a successful call and ends the probe.
void LocateCacheEnd(RTProcessContext* ctx, LocateCache* cache, NnStatus status);
