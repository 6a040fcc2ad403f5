#include "ImageWriter.h"

#include "LongPaths.h"
#include "MemoryStream.h"
#include "MetadataSplice.h"
#include "PatientFiles.h"
#include "StepClock.h"

#include "imaging/IndexedPalette.h"
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

// Prefix of the temporary files, followed by four hex digits and ".tmp"
// (LongPaths.h); older versions wrote one to four digits.
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

// True for the names of our temporary files: qmw, one to four hex digits, .tmp.
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

HRESULT WriteFrameOptions(const OutputFormat &format, IPropertyBag2 *options, bool *alphaTaken)
{
    *alphaTaken = false;
    if (format.jpegQuality)
        return WriteJpegQualityOption(options);
    if (options)
        *alphaTaken = SUCCEEDED(WriteBitmapAlphaOption(options));
    return S_OK;
}

// Size, resolution and pixel format of the frame; *format goes in as the
// format asked for and comes back as the one the encoder will take.
static HRESULT DescribeFrame(IWICBitmapFrameEncode *frame, IWICBitmapSource *source, UINT *width, UINT *height,
                             WICPixelFormatGUID *format)
{
    double dpiX = 0.0, dpiY = 0.0;
    HRESULT hr = source->GetSize(width, height);
    if (FAILED(hr))
        return hr;
    hr = frame->SetSize(*width, *height);
    if (FAILED(hr))
        return hr;
    hr = source->GetResolution(&dpiX, &dpiY);
    if (FAILED(hr))
        return hr;
    // A source that does not know its resolution says 0; the file gets the
    // screen's 96 dpi instead, and an encoder never sees a resolution that
    // it would try to fill in again between the bands.
    if (!(dpiX > 0.0) || !(dpiY > 0.0))
    {
        dpiX = 96.0;
        dpiY = 96.0;
    }
    hr = frame->SetResolution(dpiX, dpiY);
    if (FAILED(hr))
        return hr;
    return frame->SetPixelFormat(format);
}

// The pixels in the form that the encoder's answer calls for. An indexed
// encoder gets a palette of the whole picture (IndexedPalette.h); where none
// can be made, it converts for itself, from the picture on white. One that
// keeps alpha gets straight BGRA; any other gets an image with alpha laid
// onto white, so that a transparent pixel never shows the colour under it.
static HRESULT ChooseWrittenSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *source,
                                   bool hasAlpha, REFWICPixelFormatGUID answered, IWICBitmapSource **written)
{
    *written = NULL;
    if (IndexedColorCount(answered) && SUCCEEDED(CreateIndexedSource(factory, frame, source, answered, hasAlpha, written)))
        return S_OK;
    if (hasAlpha && IsEqualGUID(answered, GUID_WICPixelFormat32bppBGRA))
        return CreateStraightAlphaSource(factory, source, written);
    if (hasAlpha)
        return CreateWhiteBackedSource(source, written);
    *written = source;
    source->AddRef();
    return S_OK;
}

// Written in bands (allowed since Vista, as long as the heights add up): a
// scaler asked for the whole image at once may first copy the whole source
// area behind it, several bytes per pixel of the full-size frame.
static HRESULT WriteBands(IWICBitmapFrameEncode *frame, IWICBitmapSource *written, UINT width, UINT height)
{
    for (UINT y = 0; y < height; y += WRITE_BAND_ROWS)
    {
        WICRect rect;
        rect.X = 0;
        rect.Y = static_cast<INT>(y);
        rect.Width = static_cast<INT>(width);
        rect.Height = static_cast<INT>(height - y < WRITE_BAND_ROWS ? height - y : WRITE_BAND_ROWS);
        const HRESULT hr = frame->WriteSource(written, &rect);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// An encoder of container writing into a stream on memory of the
// program's own (MemoryStream.h). On failure both are NULL.
static HRESULT CreateMemoryEncoder(IWICImagingFactory *factory, REFGUID container, IStream **stream,
                                   IWICBitmapEncoder **encoder)
{
    *encoder = NULL;
    HRESULT hr = CreateMemoryStream(stream);
    if (FAILED(hr))
        return hr;
    hr = factory->CreateEncoder(container, NULL, encoder);
    if (SUCCEEDED(hr))
        hr = (*encoder)->Initialize(*stream, WICBitmapEncoderNoCache);
    if (FAILED(hr))
    {
        SafeRelease(encoder);
        SafeRelease(stream);
    }
    return hr;
}

// A new frame of the encoder, its options written and initialised; for a
// source with alpha, *pixelFormat becomes the format to ask for: straight
// BGRA, unless the bitmap encoder refused its alpha option.
static HRESULT CreateEncoderFrame(IWICBitmapEncoder *encoder, const OutputFormat &format, bool hasAlpha,
                                  IWICBitmapFrameEncode **frame, WICPixelFormatGUID *pixelFormat)
{
    IPropertyBag2 *options = NULL;
    bool alphaTaken = false;
    // A bitmap keeps alpha only in the version 5 header, which its encoder
    // writes when asked; an opaque image keeps the plain header it had.
    const bool wantsOptions =
        format.jpegQuality || (hasAlpha && IsEqualGUID(format.container, GUID_ContainerFormatBmp));

    *frame = NULL;
    HRESULT hr = encoder->CreateNewFrame(frame, wantsOptions ? &options : NULL);
    if (FAILED(hr))
        goto Cleanup;
    hr = WriteFrameOptions(format, options, &alphaTaken);
    if (FAILED(hr))
        goto Cleanup;
    hr = (*frame)->Initialize(options);
    if (FAILED(hr))
        goto Cleanup;
    if (hasAlpha)
        *pixelFormat = (wantsOptions && !alphaTaken) ? GUID_WICPixelFormat32bppBGR : GUID_WICPixelFormat32bppBGRA;

Cleanup:
    SafeRelease(&options);
    if (FAILED(hr))
        SafeRelease(frame);
    return hr;
}

// Encodes source into memory (*encoded, for the caller to release) and
// returns the size written.
static HRESULT EncodeIntoMemory(ImagingContext *context, IWICBitmapSource *source, const OutputFormat &format,
                                const PhotoMetadata *metadata, IStream **encoded, UINT *width, UINT *height)
{
    IStream *stream = NULL;
    IWICBitmapEncoder *encoder = NULL;
    IWICBitmapFrameEncode *frame = NULL;
    IWICBitmapSource *written = NULL;
    IWICBitmapSource *chosen = NULL;
    WICPixelFormatGUID pixelFormat;
    bool hasAlpha = false;

    *encoded = NULL;
    HRESULT hr = CreateMemoryEncoder(context->factory, format.container, &stream, &encoder);
    if (FAILED(hr))
        goto Cleanup;
    hr = source->GetPixelFormat(&pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    hasAlpha = IsPbgra32Format(pixelFormat);
    hr = CreateEncoderFrame(encoder, format, hasAlpha, &frame, &pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    hr = DescribeFrame(frame, source, width, height, &pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    // An encoder that does not take the profile leaves it to the splice.
    SetEncoderColorProfile(context->factory, frame, format.container, metadata);
    hr = ChooseWrittenSource(context->factory, frame, source, hasAlpha, pixelFormat, &chosen);
    if (FAILED(hr))
        goto Cleanup;
    // One converter to the format the encoder answered, for the whole file,
    // rather than the new one WriteSource would make for every band.
    hr = CreateConverterForEncoder(context->factory, chosen, pixelFormat, &written);
    if (FAILED(hr))
        goto Cleanup;
    hr = WriteBands(frame, written, *width, *height);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->Commit();
    if (FAILED(hr))
        goto Cleanup;
    hr = encoder->Commit();
    if (FAILED(hr))
        goto Cleanup;
    *encoded = stream;
    stream = NULL;

Cleanup:
    SafeRelease(&written);
    SafeRelease(&chosen);
    SafeRelease(&frame);
    SafeRelease(&encoder);
    SafeRelease(&stream);
    return hr;
}

// The name to write and the folder to put the temporary file in. A
// read-only output is the user's statement that it must not change: it is
// refused before anything is created.
static HRESULT PrepareOutputNames(const wchar_t *outputPath, wchar_t (&writtenPath)[MAX_PATH],
                                  wchar_t (&target)[EXTENDED_PATH_CHARS], wchar_t (&folder)[MAX_PATH])
{
    HRESULT hr = ComposeWrittenPath(outputPath, writtenPath);
    if (FAILED(hr))
        return hr;
    const DWORD attributes = GetFileAttributesW(writtenPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    hr = GetFolderOf(writtenPath, folder);
    if (FAILED(hr))
        return hr;
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(folder, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    wcscpy(folder, full);
    // The written name is kept to the letter (a trailing dot or space
    // included), which only the extended form does.
    if (!FormExtendedChild(folder, wcsrchr(writtenPath, L'\\') ? wcsrchr(writtenPath, L'\\') + 1 : writtenPath, target))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return S_OK;
}

// Writes size bytes in pieces WriteFile takes.
static bool WriteAllBytes(HANDLE file, const uint8_t *bytes, size_t size)
{
    while (size > 0)
    {
        const DWORD piece = size < 0x40000000u ? static_cast<DWORD>(size) : 0x40000000u;
        DWORD written = 0;
        if (!WriteFile(file, bytes, piece, &written, NULL) || written != piece)
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

// Writes the encoded bytes into the temporary file in one pass, with the
// plan's blocks at their place.
static HRESULT WriteSplicedFile(HANDLE file, const uint8_t *encoded, size_t size, const SplicePlan &plan)
{
    const bool written = WriteAllBytes(file, encoded, plan.insertAt) &&
                         WriteAllBytes(file, plan.inserted.data(), plan.inserted.size()) &&
                         WriteAllBytes(file, encoded + plan.insertAt, size - plan.insertAt);
    const DWORD error = written ? ERROR_SUCCESS : GetLastError();
    return written ? S_OK : (error ? HRESULT_FROM_WIN32(error) : E_FAIL);
}

// Writes the encoded copy, with what the photo carries spliced in, into the
// temporary file. A splice that cannot be made leaves the copy as the
// encoder wrote it: the image, without what could not be carried.
static HRESULT WriteEncodedCopy(IStream *encoded, REFGUID container, const PhotoMetadata *metadata, UINT width,
                                UINT height, HANDLE tempFile)
{
    const uint8_t *bytes = NULL;
    size_t size = 0;
    SplicePlan plan;
    GetMemoryStreamBytes(encoded, &bytes, &size);
    if (!PlanMetadataSplice(bytes, size, container, metadata, width, height, &plan))
    {
        plan.insertAt = size;
        plan.inserted.clear();
    }
    MarkStep(STEP_METADATA);
    // The file's one write counts with the move that follows it.
    return WriteSplicedFile(tempFile, bytes, size, plan);
}

HRESULT WriteImageFile(ImagingContext *context, IWICBitmapSource *source, const wchar_t *outputPath,
                       PhotoMetadata *metadata)
{
    IStream *encoded = NULL;
    wchar_t writtenPath[MAX_PATH], folder[MAX_PATH];
    wchar_t target[EXTENDED_PATH_CHARS], tempPath[EXTENDED_PATH_CHARS] = L"";
    HANDLE tempFile = INVALID_HANDLE_VALUE;
    UINT width = 0, height = 0;
    const OutputFormat format = LookUpOutputFormat(outputPath);

    HRESULT hr = PrepareOutputNames(outputPath, writtenPath, target, folder);
    // The copy is made in memory, then written once, what the photo carries
    // included, into a temporary file and moved onto its name. The
    // temporary file lives in the output folder so that the move is a
    // rename on one volume, and exists only while the copy is written.
    if (SUCCEEDED(hr))
        hr = EncodeIntoMemory(context, source, format, metadata, &encoded, &width, &height);
    MarkStep(STEP_ENCODE);
    if (SUCCEEDED(hr))
        hr = CreateTempFileIn(folder, TEMP_PREFIX, tempPath, &tempFile);
    if (SUCCEEDED(hr))
        hr = WriteEncodedCopy(encoded, format.container, metadata, width, height, tempFile);
    if (SUCCEEDED(hr))
        KeepOnlyDeleteAccess(&tempFile);
    SafeRelease(&encoded);
    // The macro reads its argument twice: the move's answer is kept first.
    const DWORD moved = SUCCEEDED(hr) ? MoveFilePatiently(tempPath, target) : ERROR_SUCCESS;
    if (SUCCEEDED(hr))
        hr = HRESULT_FROM_WIN32(moved);
    MarkStep(STEP_MOVE);
    // A copy that did not reach its name goes, through its handle, even if
    // its folder was renamed meanwhile.
    if (FAILED(hr) && tempFile != INVALID_HANDLE_VALUE)
        DiscardTempFile(tempFile);
    else if (tempFile != INVALID_HANDLE_VALUE)
        CloseHandle(tempFile);
    return hr;
}
