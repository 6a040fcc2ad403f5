#include "ImageWriter.h"

#include "LongPaths.h"
#include "MetadataSplice.h"
#include "SpliceStream.h"
#include "StepClock.h"
#include "TempFile.h"

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

HRESULT EncodeImage(ImagingContext *context, IWICBitmapSource *source, const OutputFormat &format,
                    const PhotoMetadata *metadata, IStream *stream)
{
    IWICBitmapEncoder *encoder = NULL;
    IWICBitmapFrameEncode *frame = NULL;
    IWICBitmapSource *written = NULL;
    IWICBitmapSource *chosen = NULL;
    WICPixelFormatGUID pixelFormat;
    bool hasAlpha = false;
    UINT width = 0, height = 0;

    HRESULT hr = context->factory->CreateEncoder(format.container, NULL, &encoder);
    if (FAILED(hr))
        goto Cleanup;
    hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (FAILED(hr))
        goto Cleanup;
    hr = source->GetPixelFormat(&pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    hasAlpha = IsPbgra32Format(pixelFormat);
    hr = CreateEncoderFrame(encoder, format, hasAlpha, &frame, &pixelFormat);
    if (FAILED(hr))
        goto Cleanup;
    hr = DescribeFrame(frame, source, &width, &height, &pixelFormat);
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
    hr = WriteBands(frame, written, width, height);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->Commit();
    if (FAILED(hr))
        goto Cleanup;
    hr = encoder->Commit();

Cleanup:
    SafeRelease(&written);
    SafeRelease(&chosen);
    SafeRelease(&frame);
    SafeRelease(&encoder);
    return hr;
}

// Encodes source straight into the temporary file, what the photo carries
// spliced in on the way (SpliceStream.h).
static HRESULT EncodeIntoFile(ImagingContext *context, IWICBitmapSource *source, const OutputFormat &format,
                              const PhotoMetadata *metadata, HANDLE file)
{
    IStream *stream = NULL;
    UINT width = 0, height = 0;

    HRESULT hr = source->GetSize(&width, &height);
    if (FAILED(hr))
        goto Cleanup;
    hr = CreateSpliceStream(file, format.container, metadata, width, height, &stream);
    if (FAILED(hr))
        goto Cleanup;
    hr = EncodeImage(context, source, format, metadata, stream);
    if (FAILED(hr))
        goto Cleanup;
    hr = FinishSpliceStream(stream);

Cleanup:
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

HRESULT WriteImageFile(ImagingContext *context, IWICBitmapSource *source, const wchar_t *outputPath,
                       PhotoMetadata *metadata)
{
    wchar_t writtenPath[MAX_PATH], folder[MAX_PATH];
    wchar_t target[EXTENDED_PATH_CHARS];
    HANDLE tempFile = INVALID_HANDLE_VALUE;
    const OutputFormat format = LookUpOutputFormat(outputPath);

    // The copy is written once, what the photo carries included, into a
    // temporary file beside the output (so that putting it in place is a
    // rename on one volume) and renamed onto its name only when whole.
    HRESULT hr = PrepareOutputNames(outputPath, writtenPath, target, folder);
    if (SUCCEEDED(hr))
        hr = CreateTempFileIn(folder, &tempFile);
    MarkStep(STEP_METADATA);
    if (SUCCEEDED(hr))
        hr = EncodeIntoFile(context, source, format, metadata, tempFile);
    MarkStep(STEP_ENCODE);
    if (SUCCEEDED(hr))
        hr = RenameTempFileOnto(tempFile, target);
    MarkStep(STEP_MOVE);
    // A copy that did not reach its name goes, through its handle, even if
    // its folder was renamed meanwhile.
    if (FAILED(hr) && tempFile != INVALID_HANDLE_VALUE)
        DiscardTempFile(tempFile);
    else if (tempFile != INVALID_HANDLE_VALUE)
        CloseHandle(tempFile);
    return hr;
}
