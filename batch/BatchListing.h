// The listing of one folder, handed out to the batch's workers one entry at
// a time, in the order the platform lists it.
//
// Promises: every entry but the dot entries is handed out once, with its
// full path (the folder's path joined with the listed name, in the "\\?\"
// form where the name ends in a dot or a space, which the ordinary form
// would drop) and its output path; an entry whose paths do not fit MAX_PATH
// is skipped. Two entries whose copies land on the same name, compared
// without case (case twins; "a.heic" written as "a.heic.jpg" beside a real
// "a.heic.jpg"), are never in work at the same time: the later one waits
// until the earlier is finished, so it wins, as it does with one worker.
// No entry is handed out once g_quitRequested is raised. Nothing here
// touches the process's current directory.
#pragma once

#include <windows.h>

// The most entries in work at once: one per worker.
const UINT MAX_BATCH_WORKERS = 64;

struct BatchEntry
{
    wchar_t fullPath[MAX_PATH];   // the input
    wchar_t outputPath[MAX_PATH]; // its copy's name before the writer's own rules (ImageWriter.h)
    UINT slot;                    // where it is noted as in work
    ULONGLONG order;              // its place among the entries handed out, from 0
};

struct EntryInWork
{
    bool used;                     // the slot holds an entry in work
    ULONGLONG order;               // its place in the listing
    wchar_t writtenPath[MAX_PATH]; // the name its copy is written under
};

struct BatchListing
{
    SRWLOCK lock;                            // guards everything below; taken by the workers
    CONDITION_VARIABLE entryFinished;        // woken whenever an entry leaves work
    HANDLE find;                             // the open listing
    WIN32_FIND_DATAW next;                   // listed and not yet handed out, when hasNext
    bool hasNext;                            // the listing has not ended
    const wchar_t *folderPath;               // the chosen folder, as the browser gave it
    const wchar_t *outputFolder;             // folderPath\Resized
    ULONGLONG handedOut;                     // entries handed out so far
    EntryInWork inWork[MAX_BATCH_WORKERS];   // entries taken and not finished
};

// Lists folderPath; false when it cannot be listed. Both strings must
// outlive the listing.
bool OpenBatchListing(BatchListing *listing, const wchar_t *folderPath, const wchar_t *outputFolder);

// The next entry, once no earlier entry with the same written name is in
// work; false when the listing has ended or quit was requested. An entry
// taken is finished with FinishBatchEntry.
bool TakeBatchEntry(BatchListing *listing, BatchEntry *entry);

void FinishBatchEntry(BatchListing *listing, const BatchEntry *entry);

// After every worker has ended.
void CloseBatchListing(BatchListing *listing);

// dst = a + b + c, or false, leaving dst untouched, when the result would
// not fit MAX_PATH: paths are never cut short.
bool JoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t *a, const wchar_t *b, const wchar_t *c = L"");

// The full path of a listed name in folder, as promised above; false when
// it does not fit.
bool JoinEntryPath(wchar_t (&fullPath)[MAX_PATH], const wchar_t *folder, const wchar_t *name);
