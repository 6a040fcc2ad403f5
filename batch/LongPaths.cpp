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
