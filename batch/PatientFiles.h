// A final move that waits out a brief hold by another program.
//
// On Windows, virus scanners, the search indexer, Explorer's thumbnails and
// cloud-sync clients open new files for a moment; a rename that meets such a
// handle fails with ERROR_SHARING_VIOLATION or
// ERROR_ACCESS_DENIED. These retry only on those two answers, for about a
// second, and give up with the last error. A read-only file or a folder in
// the way is refused at once: waiting would not change it.
#pragma once

#include <windows.h>

const DWORD PATIENCE_MS = 1000;      // how long a hold is waited out
const DWORD PATIENCE_STEP_MS = 50;   // between two tries

// MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING), retried; ERROR_SUCCESS
// or the last error.
DWORD MoveFilePatiently(const wchar_t *from, const wchar_t *to);
