// Paths that Windows takes whole, up to the 260 characters of the batch's
// path buffers.
//
// Windows refuses CreateDirectoryW for paths longer than 248 characters and
// GetTempFileNameW for folders longer than 246, and a temporary name can
// be longer than the output name it stands in for. The extended form
// ("\\?\C:\..." or "\\?\UNC\server\share\...") lifts those limits, but the
// system no longer tidies it: it is formed here once, with repeated
// separators folded (a drive root's own "\" and the one that follows it).
#pragma once

#include <windows.h>

// Room for a MAX_PATH path in its extended form ("\\?\UNC" adds six
// characters) and for a temporary name beside it, which can be eleven
// characters longer than the output name it stands in for.
const size_t EXTENDED_PATH_CHARS = MAX_PATH + 32;

// The extended form of an absolute drive or UNC path; a path already in
// that form is kept as it is. False, leaving extended empty, for a
// relative path or one that does not fit.
bool FormExtendedPath(const wchar_t *path, wchar_t (&extended)[EXTENDED_PATH_CHARS]);

// The extended form of folder + "\" + name; false when it does not fit.
bool FormExtendedChild(const wchar_t *folder, const wchar_t *name, wchar_t (&extended)[EXTENDED_PATH_CHARS]);

// Creates folder (a path of up to MAX_PATH - 1 characters) through its
// extended form. True when it exists as a folder afterwards.
bool CreateFolderWhole(const wchar_t *folder);
