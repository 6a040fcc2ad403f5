// A photo file opened for the portable readers (Win32PhotoFile.h).
#include "Win32PhotoFile.h"

Win32PhotoFile::~Win32PhotoFile()
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

bool Win32PhotoFile::Read(uint64_t offset, void *buffer, size_t bytes)
{
    BYTE *out = static_cast<BYTE *>(buffer);
    if (offset > size || bytes > size - offset)
        return false;
    while (bytes > 0)
    {
        const DWORD chunk = bytes < 0x40000000u ? static_cast<DWORD>(bytes) : 0x40000000u;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!ReadFile(handle, out, chunk, &read, &at) || read != chunk)
            return false;
        out += chunk;
        offset += chunk;
        bytes -= chunk;
    }
    return true;
}

HRESULT OpenWin32PhotoFile(const wchar_t *path, Win32PhotoFile *file)
{
    LARGE_INTEGER size;
    file->handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file->handle == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    if (!GetFileSizeEx(file->handle, &size))
        return HRESULT_FROM_WIN32(GetLastError());
    file->size = static_cast<uint64_t>(size.QuadPart);
    return S_OK;
}

HRESULT ReadPhotoFileHeader(const wchar_t *path, PhotoHeader *header)
{
    Win32PhotoFile file;
    const HRESULT hr = OpenWin32PhotoFile(path, &file);
    MemoryPhotoFile nothing(NULL, 0);
    ReadPhotoHeader(SUCCEEDED(hr) ? static_cast<PhotoFile *>(&file) : &nothing, header);
    return hr;
}
