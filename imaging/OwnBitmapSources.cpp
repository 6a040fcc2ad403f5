#include "OwnBitmapSources.h"

#include "ExceptionBoundary.h"
#include "ImagingContext.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <new>

HRESULT ReadSourceLayout(IWICBitmapSource *source, SourceLayout *layout)
{
    HRESULT hr = source->GetSize(&layout->width, &layout->height);
    if (SUCCEEDED(hr))
        hr = source->GetPixelFormat(&layout->format);
    if (SUCCEEDED(hr))
        hr = source->GetResolution(&layout->dpiX, &layout->dpiY);
    return hr;
}

HRESULT CreateConvertedSource(IWICImagingFactory *factory, IWICBitmapSource *source, REFWICPixelFormatGUID format,
                              IWICBitmapSource **converted)
{
    IWICFormatConverter *converter = NULL;

    *converted = NULL;
    HRESULT hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->Initialize(source, format, WICBitmapDitherTypeNone, NULL, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(converted));
    if (FAILED(hr))
        *converted = NULL;

Cleanup:
    SafeRelease(&converter);
    return hr;
}

// Hands out a pair of values, as GetSize and GetResolution do.
template <typename T> static HRESULT ReturnPair(T *first, T *second, T firstValue, T secondValue)
{
    if (!first || !second)
        return E_INVALIDARG;
    *first = firstValue;
    *second = secondValue;
    return S_OK;
}

OwnBitmapSource::OwnBitmapSource(UINT width, UINT height, REFWICPixelFormatGUID format, double dpiX, double dpiY)
    : m_width(width), m_height(height), m_format(format), m_dpiX(dpiX), m_dpiY(dpiY), m_references(1)
{
}

STDMETHODIMP OwnBitmapSource::QueryInterface(REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapSource))
    {
        *object = static_cast<IWICBitmapSource *>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) OwnBitmapSource::AddRef()
{
    return ++m_references;
}

STDMETHODIMP_(ULONG) OwnBitmapSource::Release()
{
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP OwnBitmapSource::GetSize(UINT *width, UINT *height)
{
    return ReturnPair(width, height, m_width, m_height);
}

STDMETHODIMP OwnBitmapSource::GetPixelFormat(WICPixelFormatGUID *format)
{
    if (!format)
        return E_INVALIDARG;
    *format = m_format;
    return S_OK;
}

STDMETHODIMP OwnBitmapSource::GetResolution(double *dpiX, double *dpiY)
{
    return ReturnPair(dpiX, dpiY, m_dpiX, m_dpiY);
}

STDMETHODIMP OwnBitmapSource::CopyPalette(IWICPalette *)
{
    return WINCODEC_ERR_PALETTEUNAVAILABLE;
}

HRESULT OwnBitmapSource::CopyFromInner(IWICBitmapSource *inner, const WICRect *requested, UINT stride,
                                       UINT bufferSize, BYTE *buffer, UINT bytesPerPixel, WICRect *rect) const
{
    const HRESULT hr = CheckCopyRequest(requested, stride, bufferSize, buffer, bytesPerPixel, rect);
    return FAILED(hr) ? hr : inner->CopyPixels(rect, stride, bufferSize, buffer);
}

HRESULT OwnBitmapSource::CheckCopyRequest(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer,
                                          UINT bytesPerPixel, WICRect *rect) const
{
    if (!buffer)
        return E_INVALIDARG;
    if (requested)
        *rect = *requested;
    else
    {
        rect->X = 0;
        rect->Y = 0;
        rect->Width = static_cast<INT>(m_width);
        rect->Height = static_cast<INT>(m_height);
    }
    if (rect->X < 0 || rect->Y < 0 || rect->Width < 0 || rect->Height < 0 ||
        static_cast<uint64_t>(rect->X) + static_cast<uint64_t>(rect->Width) > m_width ||
        static_cast<uint64_t>(rect->Y) + static_cast<uint64_t>(rect->Height) > m_height)
        return E_INVALIDARG;
    if (rect->Width == 0 || rect->Height == 0)
        return S_OK;
    const uint64_t rowBytes = static_cast<uint64_t>(rect->Width) * bytesPerPixel;
    if (stride < rowBytes)
        return E_INVALIDARG;
    if (static_cast<uint64_t>(rect->Height - 1) * stride + rowBytes > bufferSize)
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
    return S_OK;
}

bool ComputeImageBytes(UINT width, UINT height, UINT bytesPerPixel, size_t *bytes)
{
    // Two 32-bit factors cannot wrap 64 bits; the third is checked. One
    // block must stay within PTRDIFF_MAX, so that the difference of any two
    // addresses in it is defined: in the 32-bit build, large-address-aware,
    // a block of 2 GiB could be had, and that is refused.
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (bytesPerPixel == 0 || pixels > static_cast<uint64_t>(PTRDIFF_MAX) / bytesPerPixel)
        return false;
    *bytes = static_cast<size_t>(pixels * bytesPerPixel);
    return true;
}

namespace
{
class MemoryBitmapSource : public OwnBitmapSource
{
public:
    MemoryBitmapSource(UINT width, UINT height, REFWICPixelFormatGUID format, UINT bytesPerPixel, double dpiX,
                       double dpiY, BYTE *pixels)
        : OwnBitmapSource(width, height, format, dpiX, dpiY), m_bytesPerPixel(bytesPerPixel), m_pixels(pixels)
    {
    }
    ~MemoryBitmapSource() override { free(m_pixels); }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        return AnswerWithoutThrowing([&] { return CopyRows(requested, stride, bufferSize, buffer); });
    }

private:
    HRESULT CopyRows(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer)
    {
        WICRect rect;
        HRESULT hr = CheckCopyRequest(requested, stride, bufferSize, buffer, m_bytesPerPixel, &rect);
        if (FAILED(hr))
            return hr;
        // Offsets in size_t: rows past 2 GiB (or 4 GiB) are as reachable as the first.
        const size_t sourceStride = static_cast<size_t>(m_width) * m_bytesPerPixel;
        const size_t rowBytes = static_cast<size_t>(rect.Width) * m_bytesPerPixel;
        for (INT row = 0; row < rect.Height; ++row)
        {
            const BYTE *from = m_pixels + (static_cast<size_t>(rect.Y) + row) * sourceStride + static_cast<size_t>(rect.X) * m_bytesPerPixel;
            memcpy(buffer + static_cast<size_t>(row) * stride, from, rowBytes);
        }
        return S_OK;
    }

    const UINT m_bytesPerPixel;
    BYTE *const m_pixels;
};

class WhiteBackedSource : public OwnBitmapSource
{
public:
    WhiteBackedSource(UINT width, UINT height, double dpiX, double dpiY, IWICBitmapSource *inner)
        : OwnBitmapSource(width, height, GUID_WICPixelFormat32bppBGR, dpiX, dpiY), m_inner(inner)
    {
        m_inner->AddRef();
    }
    ~WhiteBackedSource() override { m_inner->Release(); }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        return AnswerWithoutThrowing([&] { return CopyOntoWhite(requested, stride, bufferSize, buffer); });
    }

private:
    HRESULT CopyOntoWhite(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer)
    {
        WICRect rect;
        const HRESULT hr = CopyFromInner(m_inner, requested, stride, bufferSize, buffer, 4, &rect);
        if (FAILED(hr))
            return hr;
        // Premultiplied over white: each channel gains what the pixel's
        // coverage leaves of white, c + (255 - a).
        for (INT row = 0; row < rect.Height; ++row)
        {
            BYTE *pixel = buffer + static_cast<size_t>(row) * stride;
            for (INT x = 0; x < rect.Width; ++x, pixel += 4)
            {
                const UINT uncovered = 255u - pixel[3];
                for (int channel = 0; channel < 3; ++channel)
                {
                    const UINT value = pixel[channel] + uncovered;
                    pixel[channel] = static_cast<BYTE>(value > 255 ? 255 : value);
                }
                pixel[3] = 255;
            }
        }
        return S_OK;
    }

    IWICBitmapSource *const m_inner;
};
} // namespace

HRESULT CreateMemoryBitmapSource(UINT width, UINT height, REFWICPixelFormatGUID format, UINT bytesPerPixel,
                                 double dpiX, double dpiY, IWICBitmapSource **source, BYTE **pixels)
{
    size_t bytes = 0;
    *source = NULL;
    *pixels = NULL;
    if (!ComputeImageBytes(width, height, bytesPerPixel, &bytes))
        return E_OUTOFMEMORY;
    BYTE *memory = static_cast<BYTE *>(malloc(bytes ? bytes : 1));
    if (!memory)
        return E_OUTOFMEMORY;
    MemoryBitmapSource *created = new (std::nothrow) MemoryBitmapSource(width, height, format, bytesPerPixel, dpiX, dpiY, memory);
    if (!created)
    {
        free(memory);
        return E_OUTOFMEMORY;
    }
    *source = created;
    *pixels = memory;
    return S_OK;
}

HRESULT CreateWhiteBackedSource(IWICBitmapSource *premultiplied, IWICBitmapSource **opaque)
{
    SourceLayout layout;
    *opaque = NULL;
    const HRESULT hr = ReadSourceLayout(premultiplied, &layout);
    if (FAILED(hr))
        return hr;
    if (!IsEqualGUID(layout.format, GUID_WICPixelFormat32bppPBGRA))
        return E_INVALIDARG;
    WhiteBackedSource *created =
        new (std::nothrow) WhiteBackedSource(layout.width, layout.height, layout.dpiX, layout.dpiY, premultiplied);
    if (!created)
        return E_OUTOFMEMORY;
    *opaque = created;
    return S_OK;
}
