// Note and database helpers: attachments ($FILE items) and opening databases
// by server and file name. They take plain handles, not the session.
#pragma once

#include <cstdint>
#include <string>

#include "nn/nn.h"

class LSXLsiSession;

namespace kv {

// Finds the attachment whose file name equals name without regard to case and
// copies its stored spelling, NUL-terminated, into out (outSize bytes; out may
// be null to only test). 0 when found; NN_ERR_ITEM_NOT_FOUND when the note has
// no such attachment; NN_ERR_MEMORY when out is too small (out untouched);
// NN_ERR_INVALID_ARG without note or name.
NnStatus NoteFindAttachmentName(NnHandle hNote, const char* name, uint32_t reserved, char* out,
                                uint32_t outSize);

// Non-zero when the note has an attachment of that file name: without regard
// to case when ignoreCase is non-zero, byte for byte otherwise.
int NoteFindAttachmentByDisplayName(NnHandle hNote, const char* fileName, uint32_t reserved,
                                    int ignoreCase);

// Walks the note's $FILE items for the file object whose name has the same
// length and bytes as name, and writes the requested outputs of that one: its
// item block, value block and file object. Returns the status of the item
// walk: 0 when found, non-zero (the walk's end) otherwise. Returns 0 and does
// nothing without note or name or when every output is null.
NnStatus NoteFindAttachmentInfo(NnHandle hNote, const char* name, NnBlockId* item,
                                NnBlockId* value, NnFileObject* header);

// Removes the note's attachment of that file name (byte for byte); nothing
// when the note has none.
void NoteRemoveAttachment(NnHandle hNote, const char* name);

// Writes into out (outSize bytes) a file name for a new attachment: `name`
// when the note has no attachment of that name (without regard to case), else
// the first free "Att<n><extension>" for n from 0 to 999. False when none is
// free or `name` is empty.
bool NoteFreeAttachmentName(NnHandle hNote, const char* name, const char* extension, char* out,
                            uint32_t outSize);

// Size of the attachment of that name (without regard to case): mode 0 the
// file size recorded in its file object, mode 1 the size of the stored object.
// A platform status; non-zero when there is no such attachment.
NnStatus NoteGetAttachmentSize(NnHandle hDb, NnHandle hNote, const char* name, uint32_t* size,
                               int mode);

// Option bit of AttachmentToBase64: break the text into 76-character lines.
constexpr uint32_t kBase64MimeLines = 0x0001;

// Writes the base64 text of the note's attachment of that name into out
// (outSize bytes, NUL-terminated) and returns its length; 0 when the note has
// no such attachment or the text does not fit (out then holds "").
uint32_t AttachmentToBase64(NnHandle hNote, char* out, uint32_t outSize, const char* name,
                            uint32_t option);
// The same into a string; 0 or a platform status.
NnStatus AttachmentToBase64String(NnHandle hNote, const char* name, uint32_t option,
                                  std::string* out);

// Opens a database by server and file name. An empty (or null) server opens
// the file locally; any other server is addressed as "server!!file". Failure
// logs "ZELKO: Invalid database name" (no file name), "ZELKO: Invalid
// server-database name" (the combined name exceeds 255 characters) or
// "ZELKO: Unable to open database." and returns NN_ERR_INVALID_ARG (1028);
// *out is set only on success.
NnStatus OpenDatabaseByNameCore(const char* server, const char* file, NnHandle* out);

// The session's form of the same; the session is not used by the open itself.
NnStatus OpenDatabaseByName(LSXLsiSession* session, const char* server, const char* file,
                            NnHandle* out);

// Opens the database and the note of that id in it; on failure nothing stays
// open and the outputs are 0. Returns the opening status.
NnStatus OpenDbAndDesignNote(const char* server, const char* file, NOTEID noteId, NnHandle* hDb,
                             NnHandle* hNote);
// Closes what OpenDbAndDesignNote opened; zero handles are skipped.
void CloseNoteAndDatabase(NnHandle hNote, NnHandle hDb);

}  // namespace kv
