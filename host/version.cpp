#include "kestrelvault.h"

namespace kv {
const char* VersionBanner() { return KESTRELVAULT_BANNER; }
}  // namespace kv
