#pragma once

// The platform's file-naming service: writes into `out` the full platform path
// of the file `name`, in the directory `dir` when one is given. A name that is
// already an absolute path comes back unchanged; a relative name without a
// directory is taken to live in "/VM/config". `out` holds at least
// zrbFilenameMax bytes; a path that would not fit leaves `out` empty (and so
// names no file). The platform root, where there is one, applies when the
// file is opened, not here.
constexpr int zrbFilenameMax = 4096;
void zrb_filename(const char* dir, const char* name, char* out);
