#include "ImagingContext.h"
#include "Orientation.h"
#include "OwnBitmapSources.h"
#include "RowPull.h"
#include "SharedFlags.h"

#include <math.h>
#include <stdint.h>
#include <stdlib.h>

ImagingContext *g_imaging = NULL;
std::atomic<bool> g_imagingPending(true);
SRWLOCK g_previewLock = SRWLOCK_INIT;

// 16/9 in single precision, 1.77777779102325439453125.
static const float WIDE_RATIO_THRESHOLD = 1.7777778f;

// Rows of the preview pulled through the scaler per CopyPixels call.
static const UINT PREVIEW_BAND_ROWS = 16;

void CreateImagingContext()
{
    if (!g_imagingPending)
        return;
    // Creation is tried once per process, whatever its outcome.
    g_imagingPending = false;

    g_imaging = static_cast<ImagingContext *>(calloc(1, sizeof(ImagingContext)));
    if (!g_imaging)
    {
        MessageBoxW(NULL, L"Failed creating class!", L"App Error", MB_OK);
        g_quitRequested = true;
        return;
    }

    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void **>(&g_imaging->factory));
    if (FAILED(hr))
    {
        g_imaging->factory = NULL;
        MessageBoxW(NULL, L"WIC initialization failed!", L"App Error", MB_OK);
        g_quitRequested = true;
    }
}

HRESULT CreateThreadImagingContext(ImagingContext **context)
{
    *context = static_cast<ImagingContext *>(calloc(1, sizeof(ImagingContext)));
    if (!*context)
        return E_OUTOFMEMORY;
    const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                        reinterpret_cast<void **>(&(*context)->factory));
    if (FAILED(hr))
    {
        free(*context);
        *context = NULL;
    }
    return hr;
}

void FreeImagingContext(ImagingContext *context)
{
    SafeRelease(&context->factory);
    SafeRelease(&context->currentSource);
    if (context->previewBitmap)
        DeleteObject(context->previewBitmap);
    free(context);
}

// Floors a non-negative double into a UINT; NaN (a 0 x 0 frame) gives 0.
static UINT FloorToUint(double value)
{
    if (!(value >= 0.0))
        return 0;
    if (value >= 4294967296.0)
        return UINT_MAX;
    return static_cast<UINT>(floor(value));
}

void ComputePreviewSize(UINT width, UINT height, UINT *previewWidth, UINT *previewHeight)
{
    const float ratio = static_cast<float>(static_cast<double>(width) / static_cast<double>(height));
    if (width < height || ratio <= WIDE_RATIO_THRESHOLD)
    {
        *previewHeight = PREVIEW_BOX_HEIGHT;
        *previewWidth = FloorToUint(static_cast<double>(ratio) * PREVIEW_BOX_HEIGHT + 0.5);
    }
    else
    {
        *previewWidth = PREVIEW_BOX_WIDTH;
        *previewHeight = FloorToUint(PREVIEW_BOX_WIDTH / static_cast<double>(ratio) + 0.5);
    }
}

HRESULT SetCurrentSource(ImagingContext *context, IWICBitmapSource *frame, UINT *width, UINT *height)
{
    SafeRelease(&context->currentSource);
    HRESULT hr = frame->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(&context->currentSource));
    if (FAILED(hr))
    {
        context->currentSource = NULL;
        return hr;
    }
    return context->currentSource->GetSize(width, height);
}

IWICBitmapSource *BuildPreviewSource(ImagingContext *context, IWICBitmapSource *frame, UINT orientation,
                                     bool hasAlpha)
{
    IWICBitmapSource *scaled = NULL;
    IWICBitmapSource *opaque = NULL;
    IWICBitmapSource *preview = NULL;
    UINT width = 0, height = 0, previewWidth = 0, previewHeight = 0;
    const bool swaps = OrientationSwapsSides(orientation);

    HRESULT hr = SetCurrentSource(context, frame, &width, &height);
    if (FAILED(hr))
        goto Cleanup;
    // The fit is for the picture as shown; the scaler works on it as stored.
    ComputePreviewSize(swaps ? height : width, swaps ? width : height, &previewWidth, &previewHeight);
    hr = CreateScaledSource(context, swaps ? previewHeight : previewWidth, swaps ? previewWidth : previewHeight,
                            hasAlpha, &scaled);
    if (FAILED(hr))
        goto Cleanup;
    if (hasAlpha)
    {
        // Transparent areas show the window's own white.
        hr = CreateWhiteBackedSource(scaled, &opaque);
        if (FAILED(hr))
            goto Cleanup;
    }
    else
    {
        opaque = scaled;
        scaled = NULL;
    }
    if (orientation != ORIENTATION_UPRIGHT)
        hr = CreateOrientedSource(opaque, orientation, &preview);
    else
    {
        preview = opaque;
        opaque = NULL;
    }

Cleanup:
    SafeRelease(&opaque);
    SafeRelease(&scaled);
    return SUCCEEDED(hr) ? preview : NULL;
}

HRESULT CreateScaledSource(ImagingContext *context, UINT width, UINT height, bool hasAlpha,
                           IWICBitmapSource **source)
{
    IWICBitmapSource *premultiplied = NULL, *converted = NULL;
    IWICBitmapScaler *scaler = NULL;
    HRESULT hr = S_OK;

    *source = NULL;
    // Averaging straight alpha would pull the colour of transparent pixels
    // into the edges; premultiplied pixels average correctly.
    if (hasAlpha)
        hr = CreateConvertedSource(context->factory, context->currentSource, GUID_WICPixelFormat32bppPBGRA,
                                   &premultiplied);
    if (FAILED(hr))
        goto Cleanup;
    // For an opaque image the scaler sits directly on the decoder's frame,
    // for the preview and the full-size result alike: only there can
    // Windows' scaler ask a JPEG decoder to decode at a half, a quarter or
    // an eighth of its size, which saves most of the decode. Anything put
    // between them (a converter, a source of our own) loses that.
    hr = context->factory->CreateBitmapScaler(&scaler);
    if (FAILED(hr))
        goto Cleanup;
    hr = scaler->Initialize(hasAlpha ? premultiplied : context->currentSource, width, height,
                            WICBitmapInterpolationModeFant);
    if (FAILED(hr))
        goto Cleanup;
    // Whoever pulls the result, in whatever bands, the scaler is asked for
    // rows the way it serves them (RowPull.h).
    if (hasAlpha)
    {
        hr = CreateRowPullSource(scaler, source);
        goto Cleanup;
    }
    hr = CreateConvertedSource(context->factory, scaler, GUID_WICPixelFormat32bppBGR, &converted);
    if (FAILED(hr))
        goto Cleanup;
    hr = CreateRowPullSource(converted, source);

Cleanup:
    if (FAILED(hr))
        *source = NULL;
    SafeRelease(&converted);
    SafeRelease(&scaler);
    SafeRelease(&premultiplied);
    return hr;
}

HBITMAP CreateTopDownDib(UINT width, UINT height, void **bits)
{
    size_t bytes = 0;
    *bits = NULL;
    // A DIB's sides are LONGs and its size in bytes a DWORD; refuse anything
    // that would wrap before GDI sees it, or that is more than one block may be.
    if (width > INT32_MAX || height > INT32_MAX || !ComputeImageBytes(width, height, 4, &bytes) || bytes > UINT32_MAX)
        return NULL;

    struct
    {
        BITMAPINFOHEADER header;
        RGBQUAD colors[1];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = static_cast<LONG>(width);
    info.header.biHeight = -static_cast<LONG>(height); // negative: first row in memory is the top row
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_RGB;

    HDC screen = GetDC(NULL);
    if (!screen)
        return NULL;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, bits, NULL, 0);
    ReleaseDC(NULL, screen);
    if (!bitmap)
        *bits = NULL;
    return bitmap;
}

// Swaps the published preview bitmap; the old one is deleted under the lock
// so that a paint can never be drawing it at that moment.
static void ReplacePreviewBitmap(ImagingContext *context, HBITMAP bitmap)
{
    AcquireSRWLockExclusive(&g_previewLock);
    if (context->previewBitmap)
        DeleteObject(context->previewBitmap);
    context->previewBitmap = bitmap;
    ReleaseSRWLockExclusive(&g_previewLock);
}

HRESULT UpdatePreviewBitmap(ImagingContext *context, IWICBitmapSource *previewSource)
{
    UINT width = 0, height = 0;
    void *bits = NULL;
    HBITMAP bitmap = NULL;

    HRESULT hr = previewSource->GetSize(&width, &height);
    if (FAILED(hr))
        return hr;

    ReplacePreviewBitmap(context, NULL);
    bitmap = CreateTopDownDib(width, height, &bits);
    if (!bitmap)
        return E_FAIL;

    // Filled before it is published: a paint never sees a half-filled bitmap
    // and never waits for the decoder. Pulled in bands, because a scaler
    // asked for the whole preview at once may first copy the whole source
    // area behind it, several bytes per pixel of the full-size frame.
    // CreateTopDownDib has bounded the size, so the products cannot wrap.
    const UINT stride = width * 4;
    for (UINT y = 0; y < height && SUCCEEDED(hr); y += PREVIEW_BAND_ROWS)
    {
        const UINT rows = height - y < PREVIEW_BAND_ROWS ? height - y : PREVIEW_BAND_ROWS;
        const WICRect band = {0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        hr = previewSource->CopyPixels(&band, stride, stride * rows, static_cast<BYTE *>(bits) + y * stride);
    }
    ReplacePreviewBitmap(context, bitmap);
    return hr;
}
