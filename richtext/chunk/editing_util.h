// Helpers the chunk's editing and appending methods share.
#pragma once

#include <functional>

#include "host/noteops.h"
#include "nn/nn.h"

class LSXLsiSession;
class TorvoRTChunk;
class TorvoRTItem;
struct chunkdef_info;

// True when the written text of the chain fits a session text buffer (4,096
// bytes with its NUL), so that it reads back as the same chain.
bool ChunkDefinitionFits(const chunkdef_info* chain);

namespace kv::chunkedit {

// Runs `body` with a pool copy of `options` as the session's operation option
// string (null: none), then frees the copy and clears the pointer. 263 when
// the copy cannot be made.
NnStatus RunWithOptions(TorvoRTChunk* chunk, const char* options,
                        const std::function<NnStatus()>& body);
// Compiles a formula into the session's result text (compiled bytes, length
// in ResultTextLength). The platform's status on failure (result text cleared).
NnStatus CompileToResult(LSXLsiSession* session, const char* text, uint16_t length);
// True when the item's note has a "$FILE" item.
bool NoteHasFileItem(const TorvoRTItem* item);

}  // namespace kv::chunkedit
