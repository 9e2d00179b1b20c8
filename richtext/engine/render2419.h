// Operation 2419: the engine's half of rendering a chunk. The handler records
// the target's records as the render range of the chunk's RenderContext; the
// element action hands that range to the render driver.
#pragma once

#include <cstdint>

#include "nn/nn.h"

struct RTProcessContext;
struct RenderContext;
struct chunkdef_info;

// The chunk's render context for this call, or null when none is attached.
RenderContext* Render2419Context(const RTProcessContext* ctx);
// Set-up: the innermost node's type for STARTS WITH and CONTAINS, the
// sub-chunk flag when an extra definition was given. 1028 without a context.
NnStatus Render2419Setup(RTProcessContext* ctx, const chunkdef_info* extraDefinition);
// Pre-walk: the paragraph-definition table (slots 1..2047) and the
// paragraph-id map of the item's 0xFF82 records. 263 when the pool is empty.
NnStatus Render2419PreWalk(RTProcessContext* ctx);
// A record of the target: first and last node of the render range.
NnStatus Render2419Record(RTProcessContext* ctx);
// The element ended: render the recorded range (mode 1 for a sub-chunk, else 0).
NnStatus Render2419Element(RTProcessContext* ctx);
// After the walk of a sub-chunk render: the finishing call (mode 2).
NnStatus Render2419Finish(RTProcessContext* ctx);
