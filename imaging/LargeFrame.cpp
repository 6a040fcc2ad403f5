#include "LargeFrame.h"

#include "ImagingContext.h"
#include "OwnBitmapSources.h"

#include <limits.h>

unsigned long long ComputeFrameSpanBytes(UINT width, UINT height, UINT bitsPerPixel)
{
    // A row is at most 2^64 - 2^33 bits, so rounding it up to words cannot
    // wrap; the whole frame can pass 64 bits and then saturates.
    const unsigned long long rowBits = static_cast<unsigned long long>(width) * bitsPerPixel;
    const unsigned long long rowBytes = (rowBits + 31) / 32 * 4;
    if (height != 0 && rowBytes > ULLONG_MAX / height)
        return ULLONG_MAX;
    return rowBytes * height;
}

// The bits per pixel of format and whether its pixels are palette indices.
static HRESULT ReadPixelLayout(IWICImagingFactory *factory, REFWICPixelFormatGUID format, UINT *bitsPerPixel,
                               bool *indexed)
{
    IWICComponentInfo *component = NULL;
    IWICPixelFormatInfo2 *info = NULL;
    WICPixelFormatNumericRepresentation representation = WICPixelFormatNumericRepresentationUnspecified;

    HRESULT hr = factory->CreateComponentInfo(format, &component);
    if (FAILED(hr))
        goto Cleanup;
    hr = component->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void **>(&info));
    if (FAILED(hr))
    {
        info = NULL;
        goto Cleanup;
    }
    hr = info->GetBitsPerPixel(bitsPerPixel);
    if (FAILED(hr))
        goto Cleanup;
    hr = info->GetNumericRepresentation(&representation);
    if (FAILED(hr))
        goto Cleanup;
    *indexed = representation == WICPixelFormatNumericRepresentationIndexed;

Cleanup:
    SafeRelease(&info);
    SafeRelease(&component);
    return hr;
}

HRESULT CopyWholeFrame(IWICImagingFactory *factory, IWICBitmapSource *frame, IWICBitmapSource **copy)
{
    IWICBitmapSource *created = NULL;
    BYTE *pixels = NULL;
    UINT bitsPerPixel = 0;
    bool indexed = false;
    SourceLayout layout;
    unsigned long long pixelCount = 0;
    WICRect whole;

    *copy = NULL;
    HRESULT hr = ReadSourceLayout(frame, &layout);
    if (FAILED(hr))
        goto Cleanup;
    hr = ReadPixelLayout(factory, layout.format, &bitsPerPixel, &indexed);
    if (FAILED(hr))
        goto Cleanup;
    // The own source holds whole bytes per pixel and no palette.
    if (indexed || bitsPerPixel == 0 || bitsPerPixel % 8 != 0)
    {
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
        goto Cleanup;
    }
    // One CopyPixels takes the whole frame, and its buffer size is a UINT;
    // the rectangle's sides are INTs.
    pixelCount = static_cast<unsigned long long>(layout.width) * layout.height;
    if (pixelCount > UINT_MAX / (bitsPerPixel / 8) || layout.width > INT_MAX || layout.height > INT_MAX)
    {
        hr = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
        goto Cleanup;
    }
    // A copy of 2 GiB or more is refused here (E_OUTOFMEMORY) where one
    // block cannot be that large, as in the 32-bit build.
    hr = CreateMemoryBitmapSource(layout.width, layout.height, layout.format, bitsPerPixel / 8, layout.dpiX,
                                  layout.dpiY, &created, &pixels);
    if (FAILED(hr))
        goto Cleanup;
    // From the first row, all of it: the one request that a decoder with
    // 32-bit row offsets still answers correctly. The size fits a UINT, so
    // the stride does too.
    whole.X = 0;
    whole.Y = 0;
    whole.Width = static_cast<INT>(layout.width);
    whole.Height = static_cast<INT>(layout.height);
    hr = frame->CopyPixels(&whole, layout.width * (bitsPerPixel / 8), static_cast<UINT>(pixelCount * (bitsPerPixel / 8)),
                           pixels);
    if (FAILED(hr))
        goto Cleanup;
    *copy = created;
    created = NULL;

Cleanup:
    SafeRelease(&created);
    return hr;
}

HRESULT CopyFrameIfTooLarge(IWICImagingFactory *factory, IWICBitmapSource *frame, IWICBitmapSource **copy)
{
    UINT width = 0, height = 0, bitsPerPixel = 0;
    bool indexed = false;
    WICPixelFormatGUID format;

    *copy = NULL;
    HRESULT hr = frame->GetSize(&width, &height);
    if (FAILED(hr))
        return hr;
    // No WIC pixel is wider than 128 bits: a frame that fits at that width
    // needs no look at its format (whose component information the
    // platform may keep cached long after).
    if (ComputeFrameSpanBytes(width, height, 128) <= LARGEST_IN_PLACE_FRAME_BYTES)
        return S_OK;
    hr = frame->GetPixelFormat(&format);
    if (FAILED(hr))
        return hr;
    hr = ReadPixelLayout(factory, format, &bitsPerPixel, &indexed);
    if (FAILED(hr))
        return hr;
    if (ComputeFrameSpanBytes(width, height, bitsPerPixel) <= LARGEST_IN_PLACE_FRAME_BYTES)
        return S_OK;
    return CopyWholeFrame(factory, frame, copy);
}

HRESULT TakePixelSource(IWICImagingFactory *factory, IWICBitmapDecoder **decoder, IWICBitmapFrameDecode **frame,
                        IWICBitmapSource **pixels)
{
    IWICBitmapSource *copy = NULL;

    *pixels = NULL;
    HRESULT hr = CopyFrameIfTooLarge(factory, *frame, &copy);
    if (FAILED(hr))
        return hr;
    if (!copy)
    {
        hr = (*frame)->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(pixels));
        if (FAILED(hr))
            *pixels = NULL;
        return hr;
    }
    SafeRelease(frame);
    SafeRelease(decoder);
    *pixels = copy;
    return S_OK;
}
