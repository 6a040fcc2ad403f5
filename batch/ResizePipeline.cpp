#include "ResizePipeline.h"

#include "ImageWriter.h"
#include "PhotoMetadata.h"
#include "ResizeSettings.h"
#include "StepClock.h"
#include "imaging/ImagingContext.h"
#include "imaging/LargeFrame.h"
#include "imaging/Orientation.h"
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

HRESULT ResizeImageFile(HWND window, const wchar_t *fullPath, const wchar_t *outputPath)
{
    ImagingContext *context = g_imaging;
    IWICBitmapDecoder *decoder = NULL;
    IWICBitmapFrameDecode *frame = NULL;
    IWICBitmapSource *pixels = NULL;
    IWICBitmapSource *preview = NULL;
    IWICBitmapSource *scaled = NULL;
    IWICBitmapSource *upright = NULL;
    UINT width = 0, height = 0, targetWidth = 0, targetHeight = 0;
    UINT orientation = ORIENTATION_UPRIGHT;
    bool hasAlpha = false, swaps = false;
    GUID container;
    WICPixelFormatGUID format;
    float scale;
    PhotoMetadata metadata;

    InitPhotoMetadata(&metadata);

    // The previous frame is not needed any more; letting it go before the
    // next decode keeps two full-size frames from being alive at once.
    SafeRelease(&context->currentSource);
    StartStepClock();
    HRESULT hr = CheckJpegFrameSize(fullPath);
    MarkStep(STEP_HEADER);
    if (SUCCEEDED(hr))
        hr = context->factory->CreateDecoderFromFilename(fullPath, NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                         &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, &frame);
    MarkStep(STEP_DECODE);
    if (SUCCEEDED(hr))
    {
        // The platform's decoders hand over the pixels as stored; the tag
        // says how they are meant to be shown.
        if (SUCCEEDED(decoder->GetContainerFormat(&container)))
        {
            orientation = ReadFileOrientation(fullPath, container);
            // What the photo knows beside its pixels goes into the copy; a
            // failure here only means that less of it is carried.
            GatherPhotoMetadata(context->factory, fullPath, container, frame, &metadata);
        }
        MarkStep(STEP_HEADER);
        swaps = OrientationSwapsSides(orientation);
        hasAlpha = FrameHasAlpha(context->factory, frame);
        // Past 2 GiB the frame cannot be read in place (LargeFrame.h); the
        // preview and the full-size result then both come from its copy.
        hr = TakePixelSource(context->factory, &decoder, &frame, &pixels);
        MarkStep(STEP_DECODE);
    }
    if (SUCCEEDED(hr))
    {
        preview = BuildPreviewSource(context, pixels, orientation, hasAlpha);
        hr = preview ? S_OK : E_FAIL;
    }
    if (SUCCEEDED(hr))
    {
        hr = UpdatePreviewBitmap(context, preview);
        SafeRelease(&preview);
    }
    if (SUCCEEDED(hr))
        RepaintPreview(window);
    // Whether or not the preview worked, the worker's queue is drained.
    PumpPendingMessages();
    MarkStep(STEP_PREVIEW);
    if (FAILED(hr))
        goto Cleanup;

    // The full-size result is scaled from the whole frame, made the current
    // source once more.
    hr = SetCurrentSource(context, pixels, &width, &height);
    if (FAILED(hr))
        goto Cleanup;

    // The target size is the shown picture's; the scaler works on the
    // stored one, and the turn comes after it, on target-size pixels only.
    scale = g_scaleFactor;
    if (!ComputeTargetSide(swaps ? height : width, scale, &targetWidth) ||
        !ComputeTargetSide(swaps ? width : height, scale, &targetHeight))
    {
        hr = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
        goto Cleanup;
    }
    hr = CreateScaledSource(context, swaps ? targetHeight : targetWidth, swaps ? targetWidth : targetHeight,
                            hasAlpha, &scaled);
    if (FAILED(hr))
        goto Cleanup;
    hr = scaled->GetPixelFormat(&format);
    if (FAILED(hr))
        goto Cleanup;
    if (hasAlpha ? !IsPbgra32Format(format) : !IsBgr32Format(format))
    {
        hr = E_FAIL;
        goto Cleanup;
    }
    if (orientation != ORIENTATION_UPRIGHT)
    {
        hr = CreateOrientedSource(scaled, orientation, &upright);
        if (FAILED(hr))
            goto Cleanup;
        SafeRelease(&scaled);
        scaled = upright;
        upright = NULL;
    }
    // The write's own result does not end the batch; an output is complete
    // or absent either way.
    WriteImageFile(context, scaled, outputPath, &metadata);
    hr = S_OK;

Cleanup:
    SafeRelease(&upright);
    SafeRelease(&scaled);
    SafeRelease(&pixels);
    SafeRelease(&decoder);
    SafeRelease(&frame);
    FreePhotoMetadata(&metadata);
    return hr;
}
