// Public entry header of the rich-text engine library.
#pragma once

#define KESTRELVAULT_VERSION 3.0
#define KESTRELVAULT_BANNER "Kestrelvault Edit V3.0"

namespace kv {
// The library's banner text, "Kestrelvault Edit V3.0".
const char* VersionBanner();
}  // namespace kv
