#include "TempFile.h"

#include "LongPaths.h"

#include <mmsystem.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

namespace
{
// Prefix of the temporary files, followed by four hex digits and ".tmp";
// older versions wrote one to four digits.
const wchar_t TEMP_PREFIX[] = L"qmw";

// True for the names of our temporary files: qmw, one to four hex digits, .tmp.
bool IsOurTempFileName(const wchar_t *name)
{
    const size_t prefix = wcslen(TEMP_PREFIX), length = wcslen(name);
    if (length < prefix + 1 + 4 || length > prefix + 4 + 4 || _wcsnicmp(name, TEMP_PREFIX, prefix) != 0 ||
        _wcsicmp(name + length - 4, L".tmp") != 0)
        return false;
    for (size_t i = prefix; i < length - 4; ++i)
        if (!iswxdigit(name[i]))
            return false;
    return true;
}

// Whether error may come from somebody else's passing handle on target:
// a sharing violation, or access denied on an output that exists and is
// neither read-only nor a folder. Where no output exists, nobody holds
// it: the folder refuses us, and waiting would not change that.
bool IsPassingHold(DWORD error, const wchar_t *target)
{
    if (error == ERROR_SHARING_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(target);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// One rename through the handle; ERROR_SUCCESS or the error it met.
DWORD RenameOnce(HANDLE file, const FILE_RENAME_INFO *rename, DWORD renameBytes)
{
    return SetFileInformationByHandle(file, FileRenameInfo, const_cast<FILE_RENAME_INFO *>(rename), renameBytes)
               ? ERROR_SUCCESS
               : GetLastError();
}
} // namespace

HRESULT CreateTempFileIn(const wchar_t *folder, HANDLE *file)
{
    wchar_t name[32], path[EXTENDED_PATH_CHARS];
    // Start somewhere else each time, as GetTempFileNameW does, so that a
    // folder full of leftovers costs few tries.
    const UINT start = GetTickCount() & 0xFFFF;
    *file = INVALID_HANDLE_VALUE;
    for (UINT i = 0; i < 0x10000; ++i)
    {
        swprintf(name, 32, L"%ls%04X.tmp", TEMP_PREFIX, (start + i) & 0xFFFF);
        if (!FormExtendedChild(folder, name, path))
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        // Read access too: an encoder may read back what it wrote. No
        // sharing: nobody else opens the file while it is ours.
        *file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (*file != INVALID_HANDLE_VALUE)
            return S_OK;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return HRESULT_FROM_WIN32(error);
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

HRESULT RenameTempFileOnto(HANDLE file, const wchar_t *target)
{
    // The name follows the fixed part of the record, whose size differs
    // between 32 and 64 bits; the terminating zero is given too.
    const size_t characters = wcslen(target);
    if (characters > (0xFFFFFFFFu - offsetof(FILE_RENAME_INFO, FileName)) / sizeof(wchar_t) - 1)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    const DWORD bytes = static_cast<DWORD>(offsetof(FILE_RENAME_INFO, FileName) + (characters + 1) * sizeof(wchar_t));
    FILE_RENAME_INFO *rename = static_cast<FILE_RENAME_INFO *>(calloc(1, bytes));
    if (!rename)
        return E_OUTOFMEMORY;
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = NULL;
    rename->FileNameLength = static_cast<DWORD>(characters * sizeof(wchar_t));
    wmemcpy(rename->FileName, target, characters + 1);
    const DWORD started = timeGetTime();
    DWORD error = RenameOnce(file, rename, bytes);
    while (error != ERROR_SUCCESS && IsPassingHold(error, target) && timeGetTime() - started < PATIENCE_MS)
    {
        Sleep(PATIENCE_STEP_MS);
        error = RenameOnce(file, rename, bytes);
    }
    free(rename);
    return HRESULT_FROM_WIN32(error);
}

void DiscardTempFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
    CloseHandle(file);
}

void DeleteLeftoverTempFiles(const wchar_t *outputFolder)
{
    wchar_t pattern[EXTENDED_PATH_CHARS], path[EXTENDED_PATH_CHARS];
    if (!FormExtendedChild(outputFolder, L"qmw*.tmp", pattern))
        return;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsOurTempFileName(entry.cFileName))
            continue;
        if (FormExtendedChild(outputFolder, entry.cFileName, path))
            DeleteFileW(path);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
