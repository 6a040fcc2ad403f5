#include "BatchListing.h"

#include "ImageWriter.h"
#include "imaging/SharedFlags.h"

#include <string.h>
#include <wchar.h>

bool JoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
    const size_t lengthA = wcslen(a), lengthB = wcslen(b), lengthC = wcslen(c);
    if (lengthA + lengthB + lengthC >= MAX_PATH)
        return false;
    wmemcpy(dst, a, lengthA);
    wmemcpy(dst + lengthA, b, lengthB);
    wmemcpy(dst + lengthA + lengthB, c, lengthC + 1);
    return true;
}

bool JoinEntryPath(wchar_t (&fullPath)[MAX_PATH], const wchar_t *folder, const wchar_t *name)
{
    const size_t folderLength = wcslen(folder), nameLength = wcslen(name);
    // A drive root ("D:\") brings its own separator; the "\\?\" form would
    // not read two in a row as one.
    const wchar_t *separator = folderLength > 0 && folder[folderLength - 1] == L'\\' ? L"" : L"\\";
    const bool keepsLastCharacter = nameLength > 0 && (name[nameLength - 1] == L'.' || name[nameLength - 1] == L' ');
    if (!keepsLastCharacter)
        return JoinPath(fullPath, folder, separator, name);
    // The ordinary form drops a trailing dot or space (a name made on
    // another system), which would name a different file.
    wchar_t prefixed[MAX_PATH];
    const bool isUnc = wcsncmp(folder, L"\\\\", 2) == 0;
    if (!JoinPath(prefixed, isUnc ? L"\\\\?\\UNC" : L"\\\\?\\", isUnc ? folder + 1 : folder))
        return false;
    return JoinPath(fullPath, prefixed, separator, name);
}

bool OpenBatchListing(BatchListing *listing, const wchar_t *folderPath, const wchar_t *outputFolder)
{
    wchar_t searchPattern[MAX_PATH];
    ZeroMemory(listing, sizeof(*listing));
    listing->find = INVALID_HANDLE_VALUE;
    InitializeSRWLock(&listing->lock);
    InitializeConditionVariable(&listing->entryFinished);
    listing->folderPath = folderPath;
    listing->outputFolder = outputFolder;
    if (!JoinPath(searchPattern, folderPath, L"\\*.*"))
        return false;
    listing->find = FindFirstFileW(searchPattern, &listing->next);
    listing->hasNext = listing->find != INVALID_HANDLE_VALUE;
    return listing->hasNext;
}

void CloseBatchListing(BatchListing *listing)
{
    if (listing->find != INVALID_HANDLE_VALUE)
        FindClose(listing->find);
    listing->find = INVALID_HANDLE_VALUE;
}

static bool IsDotEntry(const wchar_t *name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// The next listed entry whose paths fit, in entry; false at the listing's
// end. Called under the lock.
static bool ListNextEntry(BatchListing *listing, BatchEntry *entry)
{
    while (listing->hasNext)
    {
        const WIN32_FIND_DATAW found = listing->next;
        listing->hasNext = FindNextFileW(listing->find, &listing->next) != FALSE;
        // A drive root lists no dot entries, so they are skipped by name.
        if (IsDotEntry(found.cFileName))
            continue;
        if (JoinEntryPath(entry->fullPath, listing->folderPath, found.cFileName) &&
            JoinPath(entry->outputPath, listing->outputFolder, L"\\", found.cFileName))
            return true;
    }
    return false;
}

// True when an entry listed before order waits to be written under the
// same name (file names compare as the file system compares them).
static bool EarlierTwinInWork(const BatchListing *listing, const EntryInWork &mine)
{
    for (UINT i = 0; i < MAX_BATCH_WORKERS; ++i)
    {
        const EntryInWork &other = listing->inWork[i];
        if (other.used && other.order < mine.order &&
            CompareStringOrdinal(other.writtenPath, -1, mine.writtenPath, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

static UINT NoteInWork(BatchListing *listing, const BatchEntry *entry)
{
    for (;;)
    {
        for (UINT i = 0; i < MAX_BATCH_WORKERS; ++i)
        {
            EntryInWork &slot = listing->inWork[i];
            if (slot.used)
                continue;
            slot.used = true;
            slot.order = listing->handedOut++;
            // A name too long for the writer's ".jpg" fails there; the
            // output path then stands for it.
            if (FAILED(ComposeWrittenPath(entry->outputPath, slot.writtenPath)))
                wcscpy(slot.writtenPath, entry->outputPath);
            return i;
        }
        // Never with one entry per worker; waits rather than overrun.
        SleepConditionVariableSRW(&listing->entryFinished, &listing->lock, INFINITE, 0);
    }
}

bool TakeBatchEntry(BatchListing *listing, BatchEntry *entry)
{
    bool taken = false;
    AcquireSRWLockExclusive(&listing->lock);
    if (!g_quitRequested && ListNextEntry(listing, entry))
    {
        entry->slot = NoteInWork(listing, entry);
        entry->order = listing->inWork[entry->slot].order;
        taken = true;
        while (EarlierTwinInWork(listing, listing->inWork[entry->slot]))
            SleepConditionVariableSRW(&listing->entryFinished, &listing->lock, INFINITE, 0);
        if (g_quitRequested)
        {
            // Closing starts no new file, even one that waited for its twin.
            listing->inWork[entry->slot].used = false;
            WakeAllConditionVariable(&listing->entryFinished);
            taken = false;
        }
    }
    ReleaseSRWLockExclusive(&listing->lock);
    return taken;
}

void FinishBatchEntry(BatchListing *listing, const BatchEntry *entry)
{
    AcquireSRWLockExclusive(&listing->lock);
    listing->inWork[entry->slot].used = false;
    ReleaseSRWLockExclusive(&listing->lock);
    WakeAllConditionVariable(&listing->entryFinished);
}
