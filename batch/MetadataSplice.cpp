#include "MetadataSplice.h"

#include "LongPaths.h"
#include "PatientFiles.h"

#include "imaging/ImagingContext.h"
#include "imaging/PhotoBytes.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace
{
const BYTE MARKER_APP0 = 0xE0;
const WORD TYPE_SHORT = 3;
const WORD TYPE_LONG = 4;
const char ICCP_KEYWORD[] = "ICC profile";
const size_t STORED_BLOCK_MAX = 65535;
// A PNG chunk's data may not pass 2^31 - 1 bytes; profiles come nowhere near.
const size_t MAX_ICCP_PROFILE = 0x7FFF0000;
const DWORD COPY_BYTES = 64 * 1024;

void PutBigEndian32(BYTE *at, DWORD value)
{
    at[0] = static_cast<BYTE>(value >> 24);
    at[1] = static_cast<BYTE>(value >> 16);
    at[2] = static_cast<BYTE>(value >> 8);
    at[3] = static_cast<BYTE>(value);
}

DWORD Crc32(const BYTE *data, size_t size)
{
    DWORD crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

DWORD Adler32(const BYTE *data, size_t size)
{
    DWORD a = 1, b = 0;
    while (size > 0)
    {
        // 5552 bytes is the most that cannot overflow b before the modulo.
        const size_t run = size < 5552 ? size : 5552;
        for (size_t i = 0; i < run; ++i)
        {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
        data += run;
        size -= run;
    }
    return b << 16 | a;
}

bool ReadAt(HANDLE file, ULONGLONG offset, void *buffer, DWORD bytes)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, bytes, &read, &at) && read == bytes;
}

// Right after SOI and the APP0 segments the encoder wrote.
HRESULT FindJpegInsertion(HANDLE file, ULONGLONG fileSize, ULONGLONG *insertAt)
{
    BYTE bytes[4];
    if (!ReadAt(file, 0, bytes, 2) || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return E_FAIL;
    ULONGLONG position = 2;
    while (ReadAt(file, position, bytes, 4) && bytes[0] == 0xFF && bytes[1] == MARKER_APP0)
    {
        const ULONGLONG next = position + 2 + (static_cast<DWORD>(bytes[2]) << 8 | bytes[3]);
        if (next > fileSize)
            return E_FAIL;
        position = next;
    }
    *insertAt = position;
    return S_OK;
}

// Right after IHDR; S_FALSE when a profile or sRGB comes before the pixels.
HRESULT FindPngInsertion(HANDLE file, ULONGLONG fileSize, ULONGLONG *insertAt)
{
    static const BYTE SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    BYTE bytes[8];
    if (!ReadAt(file, 0, bytes, 8) || memcmp(bytes, SIGNATURE, 8) != 0)
        return E_FAIL;
    for (ULONGLONG position = 8; ReadAt(file, position, bytes, 8);)
    {
        const ULONGLONG next = position + 12 + (static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                                                static_cast<DWORD>(bytes[2]) << 8 | bytes[3]);
        if (next > fileSize || (position == 8) != (memcmp(bytes + 4, "IHDR", 4) == 0))
            return E_FAIL;
        if (memcmp(bytes + 4, "iCCP", 4) == 0 || memcmp(bytes + 4, "sRGB", 4) == 0)
            return S_FALSE;
        if (memcmp(bytes + 4, "IDAT", 4) == 0 || memcmp(bytes + 4, "IEND", 4) == 0)
            return S_OK;
        if (position == 8)
            *insertAt = next;
        position = next;
    }
    return E_FAIL;
}

bool WriteAll(HANDLE file, const BYTE *data, size_t size)
{
    while (size > 0)
    {
        const DWORD chunk = size < COPY_BYTES ? static_cast<DWORD>(size) : COPY_BYTES;
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, NULL) || written != chunk)
            return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

// Copies `bytes` bytes from in's file pointer to out's.
bool CopyBytes(HANDLE in, HANDLE out, ULONGLONG bytes, BYTE *buffer)
{
    while (bytes > 0)
    {
        const DWORD chunk = bytes < COPY_BYTES ? static_cast<DWORD>(bytes) : COPY_BYTES;
        DWORD read = 0;
        if (!ReadFile(in, buffer, chunk, &read, NULL) || read != chunk || !WriteAll(out, buffer, chunk))
            return false;
        bytes -= chunk;
    }
    return true;
}

// One entry of the carried Exif block set to a size: kept a SHORT where it
// was one and the size fits, else a LONG.
void SetExifDimension(BYTE *tiff, const TiffView &view, size_t entry, UINT value)
{
    WORD type = 0;
    if (entry == 0 || !ReadTiffShort(view, entry + 2, &type))
        return;
    WriteIfdEntryInteger(tiff, view, entry, type == TYPE_SHORT && value <= 0xFFFF ? TYPE_SHORT : TYPE_LONG, value);
}

HRESULT MakeSiblingTempFile(const wchar_t *path, const wchar_t *prefix, wchar_t (&temp)[EXTENDED_PATH_CHARS])
{
    wchar_t folder[EXTENDED_PATH_CHARS];
    const wchar_t *slash = wcsrchr(path, L'\\');
    const size_t length = slash ? static_cast<size_t>(slash - path) : 0;
    if (length == 0 || length >= EXTENDED_PATH_CHARS)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    wmemcpy(folder, path, length);
    folder[length] = L'\0';
    return CreateTempFileIn(folder, prefix, temp);
}
} // namespace

HRESULT BuildIccpChunk(const BYTE *profile, size_t size, BYTE **chunk, size_t *chunkSize)
{
    *chunk = NULL;
    *chunkSize = 0;
    if (size == 0 || size > MAX_ICCP_PROFILE)
        return E_INVALIDARG;
    const size_t blocks = (size + STORED_BLOCK_MAX - 1) / STORED_BLOCK_MAX;
    const size_t zlibBytes = 2 + blocks * 5 + size + 4;
    const size_t dataBytes = sizeof(ICCP_KEYWORD) + 1 + zlibBytes; // keyword, its NUL, compression method
    BYTE *out = static_cast<BYTE *>(malloc(12 + dataBytes));
    if (!out)
        return E_OUTOFMEMORY;

    PutBigEndian32(out, static_cast<DWORD>(dataBytes));
    memcpy(out + 4, "iCCP", 4);
    BYTE *p = out + 8;
    memcpy(p, ICCP_KEYWORD, sizeof(ICCP_KEYWORD));
    p += sizeof(ICCP_KEYWORD);
    *p++ = 0;    // deflate
    *p++ = 0x78; // zlib: deflate, 32 KiB window
    *p++ = 0x01; // no dictionary; (0x78 << 8 | 0x01) is a multiple of 31
    for (size_t done = 0; done < size;)
    {
        const size_t run = size - done < STORED_BLOCK_MAX ? size - done : STORED_BLOCK_MAX;
        *p++ = done + run == size ? 1 : 0; // final flag, block type 00: stored
        p[0] = static_cast<BYTE>(run);
        p[1] = static_cast<BYTE>(run >> 8);
        p[2] = static_cast<BYTE>(~run);
        p[3] = static_cast<BYTE>(~run >> 8);
        memcpy(p + 4, profile + done, run);
        p += 4 + run;
        done += run;
    }
    PutBigEndian32(p, Adler32(profile, size));
    p += 4;
    PutBigEndian32(p, Crc32(out + 4, 4 + dataBytes));
    *chunk = out;
    *chunkSize = 12 + dataBytes;
    return S_OK;
}

HRESULT SetEncoderColorProfile(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, REFGUID container,
                               const PhotoMetadata *metadata)
{
    IWICColorContext *context = NULL;
    if (!metadata || metadata->profileSize == 0 || !IsEqualGUID(container, metadata->container))
        return S_FALSE;
    if (metadata->profileSize > 0xFFFFFFFFu)
        return E_INVALIDARG;
    HRESULT hr = factory->CreateColorContext(&context);
    if (FAILED(hr))
        goto Cleanup;
    hr = context->InitializeFromMemory(metadata->profile, static_cast<UINT>(metadata->profileSize));
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->SetColorContexts(1, &context);

Cleanup:
    SafeRelease(&context);
    return hr;
}

HRESULT SpliceMetadataIntoFile(const wchar_t *encodedPath, const wchar_t *tempPrefix, REFGUID container,
                               PhotoMetadata *metadata, UINT width, UINT height)
{
    HANDLE in = INVALID_HANDLE_VALUE, out = INVALID_HANDLE_VALUE;
    BYTE *chunk = NULL, *buffer = NULL;
    const BYTE *inserted = NULL;
    size_t insertedSize = 0;
    ULONGLONG insertAt = 0;
    LARGE_INTEGER fileSize, start;
    wchar_t temp[EXTENDED_PATH_CHARS] = L"";
    DWORD moved = ERROR_SUCCESS;
    HRESULT hr = S_FALSE;
    const bool sameContainer = metadata && IsEqualGUID(container, metadata->container);
    const bool jpeg = sameContainer && IsEqualGUID(container, GUID_ContainerFormatJpeg) && metadata->jpegSegmentsSize > 0;
    const bool png = sameContainer && IsEqualGUID(container, GUID_ContainerFormatPng) && metadata->profileSize > 0;
    if (!jpeg && !png)
        return S_FALSE;

    in = CreateFileW(encodedPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE || !GetFileSizeEx(in, &fileSize))
    {
        hr = HRESULT_FROM_WIN32(GetLastError());
        goto Cleanup;
    }
    if (jpeg)
    {
        hr = FindJpegInsertion(in, fileSize.QuadPart, &insertAt);
        if (FAILED(hr))
            goto Cleanup;
        if (metadata->exifTiffSize)
        {
            BYTE *tiff = metadata->jpegSegments + metadata->exifTiff;
            const TiffView view = {tiff, 0, metadata->exifTiffSize, metadata->exifBigEndian};
            SetExifDimension(tiff, view, metadata->pixelXEntry, width);
            SetExifDimension(tiff, view, metadata->pixelYEntry, height);
        }
        inserted = metadata->jpegSegments;
        insertedSize = metadata->jpegSegmentsSize;
    }
    else
    {
        hr = FindPngInsertion(in, fileSize.QuadPart, &insertAt);
        if (hr != S_OK)
            goto Cleanup;
        hr = BuildIccpChunk(metadata->profile, metadata->profileSize, &chunk, &insertedSize);
        if (FAILED(hr))
            goto Cleanup;
        inserted = chunk;
    }

    hr = MakeSiblingTempFile(encodedPath, tempPrefix, temp);
    if (FAILED(hr))
    {
        temp[0] = L'\0';
        goto Cleanup;
    }
    buffer = static_cast<BYTE *>(malloc(COPY_BYTES));
    out = CreateFileW(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    start.QuadPart = 0;
    if (!buffer || out == INVALID_HANDLE_VALUE || !SetFilePointerEx(in, start, NULL, FILE_BEGIN) ||
        !CopyBytes(in, out, insertAt, buffer) || !WriteAll(out, inserted, insertedSize) ||
        !CopyBytes(in, out, fileSize.QuadPart - insertAt, buffer))
    {
        hr = buffer ? HRESULT_FROM_WIN32(GetLastError()) : E_OUTOFMEMORY;
        hr = SUCCEEDED(hr) ? E_FAIL : hr;
        goto Cleanup;
    }
    CloseHandle(out);
    out = INVALID_HANDLE_VALUE;
    CloseHandle(in);
    in = INVALID_HANDLE_VALUE;
    moved = MoveFilePatiently(temp, encodedPath); // the macro reads its argument twice
    hr = HRESULT_FROM_WIN32(moved);

Cleanup:
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (FAILED(hr) && temp[0])
        DeleteFilePatiently(temp);
    free(buffer);
    free(chunk);
    return hr;
}
