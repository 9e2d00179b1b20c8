// Paths inside a package (a zip archive opened for the HTML import): the
// entry a relative path names, whatever separators, "." and ".." segments or
// escaped blanks the path is written with.
#pragma once

#include <string>
#include <vector>

// The path in the form package entries are compared in: "/" separators,
// no leading "./" or "/", "." segments dropped, ".." taking back the segment
// before it, "%20" and the other %XX escapes decoded. A ".." that would
// leave the package gives "" (no entry has that name).
std::string NormalizePackagePath(const char* path);

// The entry of the list that the relative path names: the names and the path
// compared in normalised form, exactly first, then (with `ignoreCase` 1)
// without regard to case when just one entry matches that way. Null when none.
const std::string* FileListFindByPath(const std::vector<std::string>* list, const char* path,
                                      int ignoreCase);
