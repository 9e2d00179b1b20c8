// Graphic and attachment operations of the engine: the display size reset
// (2827), the attachment icon redraw and rename (2814, 2815), and the property
// steps that read graphics and file attachments.
#pragma once

#include <cstdint>

#include "nn/nn.h"
#include "richtext/engine/opfamily.h"

struct RTProcessContext;

// The per-record block of the graphic and attachment property steps (29, 31,
// 50, 51, 52, 53, 56, 65, 66, 67, 70; the property code arrives as the
// context's SubCode). True when `step` is one of them (the record was
// handled; *status set), false otherwise. The property family may call it
// for these rows; the graphic family also registers it.
bool GraphicPropertyStep(uint16_t step, uint8_t* data, uint16_t signature, uint32_t length,
                         RTProcessContext* ctx, RecordEmission* out, NnStatus* status);
