// The temporary file a copy is written into, beside its output, and the
// rename that puts it in place.
//
// Promises: the file is made new, never an existing one reused, and is
// reached through one handle, for reading, writing and deleting, that
// nobody else can open beside it. It is renamed onto its output through
// that handle and, when anything fails, deleted through it, wherever its
// folder has gone meanwhile: Windows lets only the handle that asked for
// delete access when the file was made rename or delete it, and a user
// who may create files in a folder but not delete them (a drop box) can
// still rename his own new file. A rename that meets another program's
// passing hold on the output (virus scanners, the search indexer,
// viewers) is tried again for about a second; one refused for good (a
// read-only output, a folder in the way, access denied where no output
// exists yet) fails at once.
#pragma once

#include <windows.h>

const DWORD PATIENCE_MS = 1000;    // how long a hold on the output is waited out
const DWORD PATIENCE_STEP_MS = 50; // between two tries

// Creates a new, empty file named "qmw" + four hex digits + ".tmp" in
// folder (a full path of up to MAX_PATH - 1 characters), as
// GetTempFileNameW would but without its length limit. Fails when no such
// name is free or the folder refuses the file.
HRESULT CreateTempFileIn(const wchar_t *folder, HANDLE *file);

// Renames the file onto target (an absolute path, the extended form
// included), replacing what stands there. The handle stays open.
HRESULT RenameTempFileOnto(HANDLE file, const wchar_t *target);

// Deletes the file behind file, wherever it is now, and closes the handle.
void DiscardTempFile(HANDLE file);

// Deletes the temporary files that a writer stopped mid-write (a killed
// process, a power cut) left in outputFolder. Files still open in a
// running writer refuse deletion and are left alone.
void DeleteLeftoverTempFiles(const wchar_t *outputFolder);
