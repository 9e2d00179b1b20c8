// Table and cell operations of the engine (tableops.cpp): table options 2413,
// cell borders 2393, cell colour get (step 38) and set 2394, merging 2405 and
// unmerging 2406 cells, and the HTML attribute value 2422.
#pragma once

#include <cstdint>

#include "nn/nn.h"

// The CellColor get step: the first cell's colour into the session globals'
// CellColorIndex / CellColorRgb.
constexpr uint16_t kStepCellColorGet = 38;

struct RTProcessContext;
// The cell colour set (2394): the target's open cell ends; an RGB colour it
// holds no record of yet gets its colour record.
NnStatus CloseCellColor(RTProcessContext* ctx);

// Set to 1 by every cell colour the get step reads (in the reading thread).
extern thread_local uint32_t gCellColorMarker;
