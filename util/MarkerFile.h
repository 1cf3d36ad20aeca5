#pragma once

// Writes a marker file: one line, `text` and a newline, at the platform path
// the file-naming service gives for `name`, replacing what was there. The
// file keeps the process's default permissions. Answers:
//   0  written and not empty
//   3  written, but empty afterwards (the write did not take, e.g. a full disk)
//   9  no name, no text, or the file cannot be opened for writing
//  -1  the file's status cannot be read after the write
// Each outcome is traced once at the verbose level. A file that was opened
// but not filled stays, empty. Not reentrant: one path buffer serves every
// call (the feature form calls it from one thread under the run token).
int lv_mkr(const char* name, const char* text);
