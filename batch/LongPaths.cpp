#include "LongPaths.h"

#include <wchar.h>

namespace
{
bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Appends text to out at *length, folding separators: any run of them
// becomes one backslash. False when out would overflow.
bool AppendFolded(wchar_t (&out)[EXTENDED_PATH_CHARS], size_t *length, const wchar_t *text)
{
    for (const wchar_t *p = text; *p; ++p)
    {
        const bool separator = IsSeparator(*p);
        if (separator && *length > 0 && out[*length - 1] == L'\\')
            continue;
        if (*length + 1 >= EXTENDED_PATH_CHARS)
            return false;
        out[(*length)++] = separator ? L'\\' : *p;
    }
    out[*length] = L'\0';
    return true;
}
} // namespace

bool FormExtendedPath(const wchar_t *path, wchar_t (&extended)[EXTENDED_PATH_CHARS])
{
    size_t length = 0;
    const wchar_t *prefix = NULL, *rest = NULL;
    extended[0] = L'\0';
    if (wcsncmp(path, L"\\\\?\\", 4) == 0)
        prefix = L"\\\\?\\", rest = path + 4;
    else if (IsSeparator(path[0]) && IsSeparator(path[1]))
        prefix = L"\\\\?\\UNC\\", rest = path + 2;
    else if (path[0] && path[1] == L':' && IsSeparator(path[2]))
        prefix = L"\\\\?\\", rest = path;
    else
        return false;
    wcscpy(extended, prefix);
    length = wcslen(prefix);
    // The prefix ends in a separator, so the folding also drops any that
    // begin the rest.
    if (!AppendFolded(extended, &length, rest))
    {
        extended[0] = L'\0';
        return false;
    }
    return true;
}

bool FormExtendedChild(const wchar_t *folder, const wchar_t *name, wchar_t (&extended)[EXTENDED_PATH_CHARS])
{
    if (!FormExtendedPath(folder, extended))
        return false;
    size_t length = wcslen(extended);
    if (!AppendFolded(extended, &length, L"\\") || !AppendFolded(extended, &length, name))
    {
        extended[0] = L'\0';
        return false;
    }
    return true;
}

bool CreateFolderWhole(const wchar_t *folder)
{
    wchar_t extended[EXTENDED_PATH_CHARS];
    if (!FormExtendedPath(folder, extended))
        return false;
    CreateDirectoryW(extended, NULL); // an existing folder is used again
    const DWORD attributes = GetFileAttributesW(extended);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT CreateTempFileIn(const wchar_t *folder, const wchar_t *prefix, wchar_t (&tempPath)[EXTENDED_PATH_CHARS],
                         HANDLE *file)
{
    wchar_t name[32];
    // Start somewhere else each time, as GetTempFileNameW does, so that a
    // folder full of leftovers costs few tries.
    const UINT start = GetTickCount() & 0xFFFF;
    *file = INVALID_HANDLE_VALUE;
    for (UINT i = 0; i < 0x10000; ++i)
    {
        swprintf(name, 32, L"%ls%04X.tmp", prefix, (start + i) & 0xFFFF);
        if (!FormExtendedChild(folder, name, tempPath))
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        // Delete sharing lets the final move rename the file while it is open.
        *file = CreateFileW(tempPath, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, NULL);
        if (*file != INVALID_HANDLE_VALUE)
            return S_OK;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        {
            tempPath[0] = L'\0';
            return HRESULT_FROM_WIN32(error);
        }
    }
    tempPath[0] = L'\0';
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

void KeepOnlyDeleteAccess(HANDLE *file)
{
    // Reopened through the handle, not the path, which may lead elsewhere by now.
    HANDLE narrow = ReOpenFile(*file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (narrow == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(*file);
    *file = narrow;
}

void DiscardTempFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
    CloseHandle(file);
}
