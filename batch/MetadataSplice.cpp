#include "MetadataSplice.h"

#include "LongPaths.h"
#include "PatientFiles.h"

#include "imaging/ImagingContext.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <vector>

namespace
{
bool ReadWholeFile(HANDLE file, std::vector<uint8_t> *bytes)
{
    LARGE_INTEGER size;
    DWORD read = 0;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF)
        return false;
    bytes->resize(static_cast<size_t>(size.QuadPart));
    return bytes->empty() || (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, NULL) &&
                              read == bytes->size());
}

bool WriteBytes(HANDLE file, const uint8_t *data, size_t size)
{
    DWORD written = 0;
    return size == 0 || (WriteFile(file, data, static_cast<DWORD>(size), &written, NULL) && written == size);
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

bool PlanMetadataSplice(const uint8_t *encoded, size_t size, REFGUID container, const PhotoMetadata *metadata,
                        UINT width, UINT height, SplicePlan *plan)
{
    if (!metadata || !IsEqualGUID(container, metadata->container))
        return false;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg))
        return PlanJpegSplice(encoded, size, metadata->jpeg, width, height, plan);
    if (IsEqualGUID(container, GUID_ContainerFormatPng))
        return PlanPngSplice(encoded, size, metadata->profile.data(), metadata->profile.size(), plan);
    return false;
}

HRESULT SetEncoderColorProfile(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, REFGUID container,
                               const PhotoMetadata *metadata)
{
    IWICColorContext *context = NULL;
    if (!metadata || metadata->profile.empty() || !IsEqualGUID(container, metadata->container))
        return S_FALSE;
    if (metadata->profile.size() > 0xFFFFFFFFu)
        return E_INVALIDARG;
    HRESULT hr = factory->CreateColorContext(&context);
    if (FAILED(hr))
        goto Cleanup;
    hr = context->InitializeFromMemory(metadata->profile.data(), static_cast<UINT>(metadata->profile.size()));
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
    std::vector<uint8_t> encoded;
    SplicePlan plan;
    wchar_t temp[EXTENDED_PATH_CHARS] = L"";
    HANDLE in = CreateFileW(encodedPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL), out;
    const bool read = in != INVALID_HANDLE_VALUE && ReadWholeFile(in, &encoded);
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (!read)
        return E_FAIL;
    if (!PlanMetadataSplice(encoded.data(), encoded.size(), container, metadata, width, height, &plan))
        return S_FALSE;
    HRESULT hr = MakeSiblingTempFile(encodedPath, tempPrefix, temp);
    if (FAILED(hr))
        return hr;
    out = CreateFileW(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    const bool written = out != INVALID_HANDLE_VALUE && WriteBytes(out, encoded.data(), plan.insertAt) &&
                         WriteBytes(out, plan.inserted.data(), plan.inserted.size()) &&
                         WriteBytes(out, encoded.data() + plan.insertAt, encoded.size() - plan.insertAt);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    const DWORD moved = written ? MoveFilePatiently(temp, encodedPath) : ERROR_WRITE_FAULT;
    hr = HRESULT_FROM_WIN32(moved);
    if (FAILED(hr))
        DeleteFilePatiently(temp);
    return hr;
}
