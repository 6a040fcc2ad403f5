#include "ResizePipeline.h"

#include "ImageWriter.h"
#include "PhotoMetadata.h"
#include "ResizeSettings.h"
#include "StepClock.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/DecoderSignatures.h"
#include "imaging/ImagingContext.h"
#include "imaging/LargeFrame.h"
#include "imaging/Orientation.h"
#include "imaging/PreviewSlot.h"
#include "imaging/StoppableSource.h"
#include "imaging/Win32PhotoFile.h"
#include "imaging/Transparency.h"

#include <math.h>
#include <string.h>

bool ComputeTargetSide(UINT side, float scale, UINT *target)
{
    const float rounded = static_cast<float>(static_cast<double>(side) * static_cast<double>(scale) + 0.5);
    const double floored = floor(static_cast<double>(rounded));
    if (!(floored >= 0.0 && floored < 4294967296.0))
    {
        *target = 0;
        return false;
    }
    *target = static_cast<UINT>(floored);
    return true;
}

bool IsBgr32Format(REFGUID format)
{
    return memcmp(&format, &GUID_WICPixelFormat32bppBGR, sizeof(GUID)) == 0;
}

void PumpPendingMessages()
{
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Has the UI thread paint the new preview before the worker goes on.
static void RepaintPreview(HWND window)
{
    if (!window)
        return;
    RECT client;
    GetClientRect(window, &client);
    InvalidateRect(window, &client, FALSE);
    UpdateWindow(window);
}

namespace
{
// What the pipeline knows of one input once it is decoded.
struct InputImage
{
    IWICBitmapSource *pixels; // the frame, or its own copy when too large to read in place
    UINT orientation;
    bool hasAlpha;
    PhotoMetadata metadata;
    UINT frameWidth, frameHeight; // frame 0's, from the header or the decoder; 0 x 0 until known
    bool decoded;                 // a decoder read frame 0
};

// The orientation the header's reading found, for a file decoded as the
// container the reading took it for.
UINT OrientationFor(const PhotoHeader &header, REFGUID container)
{
    const bool read = (header.kind == PHOTO_JPEG && IsEqualGUID(container, GUID_ContainerFormatJpeg)) ||
                      (header.kind == PHOTO_TIFF && IsEqualGUID(container, GUID_ContainerFormatTiff));
    return read ? header.orientation : ORIENTATION_UPRIGHT;
}

// What a file of the batch reserves of the memory budget before it is
// decoded: nothing when it will not be decoded at all (it cannot be opened,
// or no decoder recognises its first bytes: a sidecar, a text), so that
// such files, common in a camera's folders, never stop the workers.
UINT64 ReservedForDecoding(ImagingContext *context, const wchar_t *path, HRESULT opened, const PhotoHeader &header)
{
    if (FAILED(opened) || (!header.frameFound && !MayAnyDecoderTake(context->factory, path)))
        return 0;
    return EstimateFileBytes(header, g_scaleFactor);
}

// Reads the file's header once (photo/PhotoHeader.h) and, in a batch,
// waits for the file's turn with the memory budget. Fails when the file
// cannot be opened, the batch stopped first, or the frame header promises
// more than a decoder may be given.
HRESULT ReadHeaderAndAdmit(ImagingContext *context, const wchar_t *path, FileAdmission *admission,
                           PhotoHeader *header, InputImage *input)
{
    // The header's readers keep what they find in the standard library's
    // containers: memory they cannot have fails this file, not the batch.
    HRESULT opened = E_FAIL;
    HRESULT hr = AnswerWithoutThrowing([&] {
        opened = ReadPhotoFileHeader(path, header);
        return S_OK;
    });
    MarkStep(STEP_HEADER);
    if (header->frameFound)
    {
        input->frameWidth = header->frameWidth;
        input->frameHeight = header->frameHeight;
    }
    // A file that cannot be opened for reading (a folder, a file gone or
    // locked) cannot be decoded either; it fails as it is, holding nothing.
    if (SUCCEEDED(hr))
        hr = opened;
    // Every file the batch hands out passes here once, so that the next in
    // the listing can be admitted after it.
    if (admission && admission->budget)
        admission->admitted = AdmitFile(admission->budget, admission->order,
                                        ReservedForDecoding(context, path, hr, *header), &admission->reserved);
    if (SUCCEEDED(hr) && admission && admission->budget && !admission->admitted)
        hr = E_ABORT;
    if (SUCCEEDED(hr) && header->frameTooLarge)
        hr = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    return hr;
}

// Decodes frame 0 of a file whose header was read and admitted.
HRESULT DecodeInput(ImagingContext *context, const wchar_t *path, FileAdmission *admission, InputImage *input)
{
    IWICBitmapDecoder *decoder = NULL;
    IWICBitmapFrameDecode *frame = NULL;
    PhotoHeader header;
    GUID container;

    HRESULT hr = ReadHeaderAndAdmit(context, path, admission, &header, input);
    if (FAILED(hr))
        goto Cleanup;
    hr = context->factory->CreateDecoderFromFilename(path, NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr))
        goto Cleanup;
    hr = decoder->GetFrame(0, &frame);
    MarkStep(STEP_DECODE);
    if (FAILED(hr))
        goto Cleanup;
    input->decoded = true;
    frame->GetSize(&input->frameWidth, &input->frameHeight);
    // The platform's decoders hand over the pixels as stored; the tag says
    // how they are meant to be shown. What the photo knows beside its
    // pixels goes into the copy; a failure there only means less is carried,
    // but memory it could not have fails the file rather than lose it.
    if (SUCCEEDED(decoder->GetContainerFormat(&container)))
    {
        input->orientation = OrientationFor(header, container);
        hr = AnswerWithoutThrowing([&] {
            GatherPhotoMetadata(context->factory, container, frame, &header, &input->metadata);
            return S_OK;
        });
    }
    MarkStep(STEP_HEADER);
    if (FAILED(hr))
        goto Cleanup;
    input->hasAlpha = FrameHasAlpha(context->factory, frame);
    // Past 2 GiB the frame cannot be read in place (LargeFrame.h); the
    // preview and the full-size result then both come from its copy.
    hr = TakePixelSource(context->factory, &decoder, &frame, &input->pixels);
    MarkStep(STEP_DECODE);

Cleanup:
    SafeRelease(&frame);
    SafeRelease(&decoder);
    return hr;
}

HRESULT ShowPreview(HWND window, ImagingContext *context, const InputImage &input)
{
    IWICBitmapSource *preview = BuildPreviewSource(context, input.pixels, input.orientation, input.hasAlpha);
    if (!preview)
        return E_FAIL;
    const HRESULT hr = UpdatePreviewBitmap(context, preview);
    SafeRelease(&preview);
    if (SUCCEEDED(hr))
        RepaintPreview(window);
    return hr;
}

// A worker's preview, when the cadence asks for one: made in the worker's
// own context and handed to the window, which takes it when it paints.
void OfferPreview(HWND window, ImagingContext *context, const InputImage &input)
{
    if (!window || !ClaimPreviewTurn())
        return;
    IWICBitmapSource *preview = BuildPreviewSource(context, input.pixels, input.orientation, input.hasAlpha);
    if (preview && SUCCEEDED(UpdatePreviewBitmap(context, preview)))
        PublishPreview(window, &context->previewBitmap);
    else
        ReturnPreviewTurn();
    SafeRelease(&preview);
}

// The full-size result, scaled from the whole frame made the current
// source once more, turned upright and written with what the photo carries.
HRESULT WriteResizedCopy(ImagingContext *context, InputImage *input, const wchar_t *outputPath, HRESULT *written)
{
    IWICBitmapSource *scaled = NULL, *upright = NULL;
    UINT width = 0, height = 0, targetWidth = 0, targetHeight = 0;
    WICPixelFormatGUID format;
    const bool swaps = OrientationSwapsSides(input->orientation);
    const float scale = g_scaleFactor;

    HRESULT hr = SetCurrentSource(context, input->pixels, &width, &height);
    if (FAILED(hr))
        goto Cleanup;
    // The target size is the shown picture's; the scaler works on the
    // stored one, and the turn comes after it, on target-size pixels only.
    if (!ComputeTargetSide(swaps ? height : width, scale, &targetWidth) ||
        !ComputeTargetSide(swaps ? width : height, scale, &targetHeight))
    {
        hr = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
        goto Cleanup;
    }
    hr = CreateScaledSource(context, swaps ? targetHeight : targetWidth, swaps ? targetWidth : targetHeight,
                            input->hasAlpha, &scaled);
    if (FAILED(hr))
        goto Cleanup;
    hr = scaled->GetPixelFormat(&format);
    if (FAILED(hr))
        goto Cleanup;
    if (input->hasAlpha ? !IsPbgra32Format(format) : !IsBgr32Format(format))
    {
        hr = E_FAIL;
        goto Cleanup;
    }
    if (input->orientation != ORIENTATION_UPRIGHT)
    {
        hr = CreateOrientedSource(scaled, input->orientation, &upright);
        if (FAILED(hr))
            goto Cleanup;
    }
    // A picture this large would keep a closing program open for seconds;
    // it is given up between bands instead, and nothing of it is kept.
    if (static_cast<UINT64>(width) * height >= STOPPABLE_FRAME_PIXELS)
    {
        hr = CreateStoppableSource(upright ? &upright : &scaled);
        if (FAILED(hr))
            goto Cleanup;
    }
    // The write's own result does not end the batch; an output is complete
    // or absent either way.
    *written = WriteImageFile(context, upright ? upright : scaled, outputPath, &input->metadata);

Cleanup:
    SafeRelease(&upright);
    SafeRelease(&scaled);
    return hr;
}
// What became of the file, for the batch's report (FailureReport.h).
void NoteOutcome(const InputImage &input, HRESULT resized, HRESULT written, const wchar_t *outputPath,
                 FileOutcome *outcome)
{
    outcome->step = !input.decoded || !input.pixels ? OUTCOME_NOT_READ
                    : FAILED(resized)               ? OUTCOME_NOT_RESIZED
                    : FAILED(written)               ? OUTCOME_NOT_WRITTEN
                                                    : OUTCOME_WRITTEN;
    outcome->hr = FAILED(resized) ? resized : written;
    // A stop answers E_ABORT: at the budget's door or between two bands.
    if (outcome->hr == E_ABORT)
        outcome->step = OUTCOME_STOPPED;
    outcome->frameWidth = input.frameWidth;
    outcome->frameHeight = input.frameHeight;
    outcome->decoded = input.decoded;
    outcome->targetReadOnly = false;
    wchar_t writtenPath[MAX_PATH];
    if (outcome->step == OUTCOME_NOT_WRITTEN && SUCCEEDED(ComposeWrittenPath(outputPath, writtenPath)))
    {
        const DWORD attributes = GetFileAttributesW(writtenPath);
        outcome->targetReadOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    }
}
} // namespace

HRESULT ResizeImageFileIn(ImagingContext *context, HWND window, PreviewCadence cadence, FileAdmission *admission,
                          const wchar_t *fullPath, const wchar_t *outputPath, FileOutcome *outcome)
{
    InputImage input;
    input.pixels = NULL;
    input.orientation = ORIENTATION_UPRIGHT;
    input.hasAlpha = false;
    input.frameWidth = input.frameHeight = 0;
    input.decoded = false;
    InitPhotoMetadata(&input.metadata);

    // The previous frame is not needed any more; letting it go before the
    // next decode keeps two full-size frames from being alive at once.
    SafeRelease(&context->currentSource);
    StartStepClock();
    HRESULT hr = DecodeInput(context, fullPath, admission, &input);
    if (cadence == PREVIEW_WHEN_DUE)
    {
        if (SUCCEEDED(hr))
            OfferPreview(window, context, input);
    }
    else
    {
        if (SUCCEEDED(hr))
            hr = ShowPreview(window, context, input);
        // Whether or not the preview worked, the calling thread's queue is drained.
        PumpPendingMessages();
    }
    MarkStep(STEP_PREVIEW);
    HRESULT written = S_OK;
    if (SUCCEEDED(hr))
        hr = WriteResizedCopy(context, &input, outputPath, &written);
    if (outcome)
        NoteOutcome(input, hr, written, outputPath, outcome);
    SafeRelease(&input.pixels);
    return hr;
}

HRESULT ResizeImageFile(HWND window, const wchar_t *fullPath, const wchar_t *outputPath)
{
    return ResizeImageFileIn(g_imaging, window, PREVIEW_EVERY_FILE, NULL, fullPath, outputPath);
}
