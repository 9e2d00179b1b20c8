// Text-run, paragraph and graphic operations of the engine (textops.cpp).
#pragma once

#include <cstdint>

#include "nn/nn.h"

struct RTProcessContext;

// Steps of the property table that read fonts and paragraphs, and the
// expansion of short paragraph definitions.
constexpr uint16_t kStepFontGet = 13;       // Font, FontColor, FontFace, PointSize, TextAttributes
constexpr uint16_t kStepParagraphGet = 14;  // the paragraph's attribute text into LinkText
constexpr uint16_t kStepExpandPabDefs = 69;

// Applies the call's requested paragraph change (2364) to `work`, a full
// paragraph definition, when the definition differs from what is asked;
// *changed tells whether it was rebuilt.
NnStatus ApplyRequestedParagraph(RTProcessContext* ctx, uint8_t* work, bool* changed);
