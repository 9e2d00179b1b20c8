// The paragraph-definition builder: applies a requested paragraph change (the
// parsed form of a paragraph string, richtext/item/parastring.h) to a
// paragraph-definition record (0xFF82, host layout).
#pragma once

#include <cstddef>
#include <cstdint>

#include "nn/nn.h"

struct ParagraphSpec;

// Applies the change to `target` (a paragraph definition of at least the
// 72-byte fixed part, its header length giving its size; `targetCapacity`
// bytes writable, at least 92 when the record may have to grow). `source`
// holds the requested values in the same layout (`sourceCapacity` readable
// bytes; bytes past it count as 0). `given` is the 21-entry marker array
// (kGiven* indexes), read and written.
//
// With `tracking` set the change is applied the way an editor applies it: the
// first-line margin follows the left margin, margin extensions are kept in
// step with the plain margins, adding or removing a list indents by 360
// twips (3 percent), and the source follows what was applied. `forceExtra`
// makes the record carry the extra-flags extension.
//
// The record length becomes the smallest form that holds what is in use (72,
// 84 or 92 bytes). NN_ERR_INVALID_ARG for a null argument; NN_ERR_CD_STRUCTURE
// when the target is shorter than its fixed part or its length runs past its
// capacity; NN_ERR_MEMORY when the record would have to grow past its
// capacity. On any failure nothing is changed.
NnStatus BuildParagraphDefinition(uint8_t* target, size_t targetCapacity, uint8_t* source,
                                  size_t sourceCapacity, uint16_t flagsSet, uint16_t flagsClear,
                                  uint16_t flags2Set, uint16_t flags2Clear, uint32_t extraSet,
                                  uint32_t extraClear, uint16_t listStyle, uint16_t listRemoval,
                                  int32_t leftDelta, int32_t rightDelta, int32_t percentDelta,
                                  int32_t rightPercentDelta, int32_t* given, int tracking,
                                  int forceExtra);

// The same with every request taken from a parsed paragraph string.
NnStatus BuildParagraphDefinitionFromSpec(uint8_t* target, size_t targetCapacity,
                                          ParagraphSpec* spec, int tracking, int forceExtra);
