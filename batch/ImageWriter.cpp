#include "ImageWriter.h"

#include "MetadataSplice.h"
#include "StepClock.h"

#include "imaging/OwnBitmapSources.h"
#include "imaging/RowPull.h"
#include "imaging/Transparency.h"

#include <stdio.h>
#include <wchar.h>
#include <wctype.h>

namespace
{
// Rows handed to the encoder per WriteSource call.
const UINT WRITE_BAND_ROWS = 64;

// Prefix of the temporary files; GetTempFileNameW adds up to four hex
// digits and ".tmp".
const wchar_t TEMP_PREFIX[] = L"qmw";

struct ExtensionRow
{
    const wchar_t *extension;
    const GUID *container;
    bool jpegQuality;
};

const ExtensionRow g_extensionTable[] = {
    {L"jpg", &GUID_ContainerFormatJpeg, true},  {L"jpeg", &GUID_ContainerFormatJpeg, true},
    {L"jpe", &GUID_ContainerFormatJpeg, true},  {L"jfif", &GUID_ContainerFormatJpeg, true},
    {L"png", &GUID_ContainerFormatPng, false},  {L"bmp", &GUID_ContainerFormatBmp, false},
    {L"dib", &GUID_ContainerFormatBmp, false},  {L"gif", &GUID_ContainerFormatGif, false},
    {L"tif", &GUID_ContainerFormatTiff, false}, {L"tiff", &GUID_ContainerFormatTiff, false},
    {L"wmp", &GUID_ContainerFormatWmp, false},  {L"wdp", &GUID_ContainerFormatWmp, false},
    {L"jxr", &GUID_ContainerFormatWmp, false},  {L"hdp", &GUID_ContainerFormatWmp, false},
    {L"ico", &GUID_ContainerFormatIco, false},
};

// The extension of the last path component, without its dot, or NULL.
const wchar_t *FindExtension(const wchar_t *path)
{
    const wchar_t *name = path;
    for (const wchar_t *p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':')
            name = p + 1;
    const wchar_t *dot = wcsrchr(name, L'.');
    return dot ? dot + 1 : NULL;
}
} // namespace

OutputFormat LookUpOutputFormat(const wchar_t *outputPath)
{
    const wchar_t *extension = FindExtension(outputPath);
    if (extension)
    {
        for (const ExtensionRow &row : g_extensionTable)
        {
            if (_wcsicmp(extension, row.extension) == 0)
                return OutputFormat{*row.container, row.jpegQuality, false};
        }
    }
    return OutputFormat{GUID_ContainerFormatJpeg, false, true};
}

HRESULT ComposeWrittenPath(const wchar_t *outputPath, wchar_t (&writtenPath)[MAX_PATH])
{
    const wchar_t *suffix = LookUpOutputFormat(outputPath).appendJpg ? L".jpg" : L"";
    const size_t length = wcslen(outputPath) + wcslen(suffix);
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    wcscpy(writtenPath, outputPath);
    wcscat(writtenPath, suffix);
    return S_OK;
}

// Writes one named encoder option; every other member of its description
// stays zero.
static HRESULT WriteEncoderOption(IPropertyBag2 *options, const wchar_t *name, VARIANT *value)
{
    PROPBAG2 option;
    ZeroMemory(&option, sizeof(option));
    option.pstrName = const_cast<LPOLESTR>(name);
    return options->Write(1, &option, value);
}

HRESULT WriteJpegQualityOption(IPropertyBag2 *options)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = 0.95f;
    return WriteEncoderOption(options, L"ImageQuality", &value);
}

HRESULT WriteBitmapAlphaOption(IPropertyBag2 *options)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    return WriteEncoderOption(options, L"EnableV5Header32bppBGRA", &value);
}

// The folder part of path (everything before the last separator), or ".".
static HRESULT GetFolderOf(const wchar_t *path, wchar_t (&folder)[MAX_PATH])
{
    const wchar_t *slash = wcsrchr(path, L'\\');
    if (!slash)
    {
        wcscpy(folder, L".");
        return S_OK;
    }
    size_t length = static_cast<size_t>(slash - path);
    if (length == 0 || path[length - 1] == L':')
        ++length; // keep the root's own separator
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    wmemcpy(folder, path, length);
    folder[length] = L'\0';
    return S_OK;
}

// True for the names GetTempFileNameW makes with our prefix: qmwXXXX.tmp.
static bool IsOurTempFileName(const wchar_t *name)
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

void DeleteLeftoverTempFiles(const wchar_t *outputFolder)
{
    wchar_t pattern[MAX_PATH], path[MAX_PATH];
    const size_t length = wcslen(outputFolder);
    if (length + 10 >= MAX_PATH)
        return;
    swprintf(pattern, MAX_PATH, L"%ls\\%ls*.tmp", outputFolder, TEMP_PREFIX);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsOurTempFileName(entry.cFileName))
            continue;
        if (length + 1 + wcslen(entry.cFileName) < MAX_PATH)
        {
            swprintf(path, MAX_PATH, L"%ls\\%ls", outputFolder, entry.cFileName);
            DeleteFileW(path);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

HRESULT WriteImageFile(ImagingContext *context, IWICBitmapSource *source, const wchar_t *outputPath,
                       PhotoMetadata *metadata)
{
    IWICStream *stream = NULL;
    IWICBitmapEncoder *encoder = NULL;
    IWICBitmapFrameEncode *frame = NULL;
    IPropertyBag2 *options = NULL;
    IWICBitmapSource *written = NULL;
    IWICBitmapSource *converted = NULL;
    wchar_t writtenPath[MAX_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t tempPath[MAX_PATH] = L"";
    UINT width = 0, height = 0;
    double dpiX = 0.0, dpiY = 0.0;
    WICPixelFormatGUID pixelFormat;
    WICRect rect;
    DWORD attributes;
    bool hasAlpha = false, wantsOptions = false;
    const OutputFormat format = LookUpOutputFormat(outputPath);

    HRESULT hr = ComposeWrittenPath(outputPath, writtenPath);
    if (FAILED(hr))
        goto Cleanup;
    // A read-only output is the user's statement that it must not change;
    // refuse before anything is created.
    attributes = GetFileAttributesW(writtenPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    {
        hr = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        goto Cleanup;
    }
    hr = GetFolderOf(writtenPath, folder);
    if (FAILED(hr))
        goto Cleanup;
    // The temporary file lives in the output folder so that the final move
    // is a rename on one volume.
    if (!GetTempFileNameW(folder, TEMP_PREFIX, 0, tempPath))
    {
        hr = HRESULT_FROM_WIN32(GetLastError());
        tempPath[0] = L'\0';
        goto Cleanup;
    }

    hr = context->factory->CreateStream(&stream);
    if (FAILED(hr))
        goto Cleanup;
    hr = stream->InitializeFromFilename(tempPath, GENERIC_WRITE);
    if (FAILED(hr))
        goto Cleanup;
    hr = context->factory->CreateEncoder(format.container, NULL, &encoder);
    if (FAILED(hr))
        goto Cleanup;
    hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (FAILED(hr))
        goto Cleanup;

    hr = source->GetPixelFormat(&pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    hasAlpha = IsPbgra32Format(pixelFormat);
    // A bitmap keeps alpha only in the version 5 header, which its encoder
    // writes when asked; an opaque image keeps the plain header it had.
    wantsOptions = format.jpegQuality || (hasAlpha && IsEqualGUID(format.container, GUID_ContainerFormatBmp));
    hr = encoder->CreateNewFrame(&frame, wantsOptions ? &options : NULL);
    if (FAILED(hr))
        goto Cleanup;
    if (format.jpegQuality)
        hr = WriteJpegQualityOption(options);
    else if (wantsOptions)
        hr = WriteBitmapAlphaOption(options);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->Initialize(options);
    if (FAILED(hr))
        goto Cleanup;

    hr = source->GetSize(&width, &height);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->SetSize(width, height);
    if (FAILED(hr))
        goto Cleanup;
    hr = source->GetResolution(&dpiX, &dpiY);
    if (FAILED(hr))
        goto Cleanup;
    // A source that does not know its resolution says 0; the file gets the
    // screen's 96 dpi instead, and an encoder never sees a resolution that
    // it would try to fill in again between the bands below.
    if (!(dpiX > 0.0) || !(dpiY > 0.0))
    {
        dpiX = 96.0;
        dpiY = 96.0;
    }
    hr = frame->SetResolution(dpiX, dpiY);
    if (FAILED(hr))
        goto Cleanup;
    if (hasAlpha)
        pixelFormat = GUID_WICPixelFormat32bppBGRA;
    hr = frame->SetPixelFormat(&pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    // An encoder that does not take the profile leaves it to the splice below.
    SetEncoderColorProfile(context->factory, frame, format.container, metadata);
    // What the encoder answers decides: it keeps alpha, and gets straight
    // BGRA, or it does not, and gets the image laid onto white, so that a
    // transparent pixel never shows the colour stored under it.
    if (hasAlpha && IsEqualGUID(pixelFormat, GUID_WICPixelFormat32bppBGRA))
        hr = CreateStraightAlphaSource(context->factory, source, &written);
    else if (hasAlpha)
        hr = CreateWhiteBackedSource(source, &written);
    else
    {
        written = source;
        written->AddRef();
    }
    if (FAILED(hr))
        goto Cleanup;
    // One converter to the format the encoder answered, for the whole file,
    // rather than the new one WriteSource would make for every band.
    hr = CreateConverterForEncoder(context->factory, written, pixelFormat, &converted);
    SafeRelease(&written);
    written = converted;
    if (FAILED(hr))
        goto Cleanup;

    // Written in bands (allowed since Vista, as long as the heights add up):
    // a scaler asked for the whole image at once may first copy the whole
    // source area behind it, several bytes per pixel of the full-size frame.
    for (UINT y = 0; y < height; y += WRITE_BAND_ROWS)
    {
        rect.X = 0;
        rect.Y = static_cast<INT>(y);
        rect.Width = static_cast<INT>(width);
        rect.Height = static_cast<INT>(height - y < WRITE_BAND_ROWS ? height - y : WRITE_BAND_ROWS);
        hr = frame->WriteSource(written, &rect);
        if (FAILED(hr))
            goto Cleanup;
    }
    hr = frame->Commit();
    if (FAILED(hr))
        goto Cleanup;
    hr = encoder->Commit();

Cleanup:
    SafeRelease(&written);
    SafeRelease(&frame);
    SafeRelease(&encoder);
    SafeRelease(&stream);
    SafeRelease(&options);
    // Every reference to the temporary file is gone, so it is closed.
    if (tempPath[0])
    {
        // What the photo knows goes in before the move; if that fails, the
        // image is still written, without it.
        MarkStep(STEP_ENCODE);
        if (SUCCEEDED(hr) && metadata)
            SpliceMetadataIntoFile(tempPath, TEMP_PREFIX, format.container, metadata, width, height);
        MarkStep(STEP_METADATA);
        if (SUCCEEDED(hr) && !MoveFileExW(tempPath, writtenPath, MOVEFILE_REPLACE_EXISTING))
            hr = HRESULT_FROM_WIN32(GetLastError());
        MarkStep(STEP_MOVE);
        if (FAILED(hr))
            DeleteFileW(tempPath);
    }
    return hr;
}
