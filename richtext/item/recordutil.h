// Small services over single records: the pixel size of an image and the
// base64 text of a record's data.
#pragma once

#include <cstdint>

struct RTRecordNode;

// The pixel width and height of the image at `node`: a graphic header (its
// destination size, in pixels or twips at 96 dots per inch), an image or bitmap
// header, or the image data of the first image segment from `node` on (a GIF,
// BMP or JPEG header). Values not found are 100.
void GraphicPixelSize(const RTRecordNode* node, uint16_t* width, uint16_t* height);

// The pixel size held in the first bytes of a GIF, BMP or JPEG image; false
// when the data is none of them or is cut short.
bool ImageDataPixelSize(const uint8_t* data, uint32_t size, uint16_t* width, uint16_t* height);

// Writes the base64 text of the node's data (the bytes after the record's
// fixed part; the whole record when its layout is unknown) at out,
// NUL-terminated, and returns its length. `out` holds at least
// outSize bytes; 0 (and the empty text) when it does not fit. `option` 1 breaks
// the text into lines of 76 characters.
uint32_t RecordDataToBase64(char* out, uint32_t outSize, const RTRecordNode* node, uint32_t option);
