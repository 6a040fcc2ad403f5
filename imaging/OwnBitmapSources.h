// Bitmap sources of the program's own, for what the platform's WIC cannot
// be relied on to do: hold pixels in memory with 64-bit offsets, and lay a
// premultiplied image onto white.
//
// Each is a plain reference-counted IWICBitmapSource; callers hold and
// release them like any other. They check every CopyPixels request (the
// rectangle inside the image, the stride and buffer large enough, all in
// 64-bit arithmetic) before touching a byte. WIC calls CopyPixels from
// inside its own frames (an encoder's WriteSource), so each one answers
// through AnswerWithoutThrowing (ExceptionBoundary.h): whatever is thrown
// beneath it comes back as a failed HRESULT.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <atomic>

// The fixed part of a source: identity, reference count, size, format and
// resolution. A derived source supplies CopyPixels.
class OwnBitmapSource : public IWICBitmapSource
{
public:
    OwnBitmapSource(UINT width, UINT height, REFWICPixelFormatGUID format, double dpiX, double dpiY);
    virtual ~OwnBitmapSource() {}

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetSize(UINT *width, UINT *height) override;
    STDMETHODIMP GetPixelFormat(WICPixelFormatGUID *format) override;
    STDMETHODIMP GetResolution(double *dpiX, double *dpiY) override;
    STDMETHODIMP CopyPalette(IWICPalette *palette) override;

protected:
    // Resolves a CopyPixels request: *rect becomes the requested rectangle
    // (NULL: the whole image) once it, the stride and the buffer size are
    // known to be sound for pixels of bytesPerPixel.
    HRESULT CheckCopyRequest(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer,
                             UINT bytesPerPixel, WICRect *rect) const;
    // CheckCopyRequest, then that rectangle copied from inner into buffer:
    // the first step of a source that reworks another's pixels.
    HRESULT CopyFromInner(IWICBitmapSource *inner, const WICRect *requested, UINT stride, UINT bufferSize,
                          BYTE *buffer, UINT bytesPerPixel, WICRect *rect) const;

    const UINT m_width, m_height;
    const WICPixelFormatGUID m_format;
    const double m_dpiX, m_dpiY;

private:
    std::atomic<ULONG> m_references;
};

// What any source says of itself: size, pixel format and resolution.
struct SourceLayout
{
    UINT width, height;
    WICPixelFormatGUID format;
    double dpiX, dpiY;
};
HRESULT ReadSourceLayout(IWICBitmapSource *source, SourceLayout *layout);

// The platform's converter of source to format, without dithering or a
// palette. On failure *converted is NULL.
HRESULT CreateConvertedSource(IWICImagingFactory *factory, IWICBitmapSource *source, REFWICPixelFormatGUID format,
                              IWICBitmapSource **converted);

// Bytes of a width x height image of bytesPerPixel, or false when no one
// block may be that large: past PTRDIFF_MAX, 2 GiB less a byte in the
// 32-bit build.
bool ComputeImageBytes(UINT width, UINT height, UINT bytesPerPixel, size_t *bytes);

// A width x height image in memory of the program's own, rows top first,
// bytesPerPixel x width bytes apart (whole bytes per pixel only). *pixels
// receives the memory, for the caller to fill before handing the source
// on. Fails with E_OUTOFMEMORY when the memory cannot be had or is more
// than one block may be (ComputeImageBytes), before allocating anything.
HRESULT CreateMemoryBitmapSource(UINT width, UINT height, REFWICPixelFormatGUID format, UINT bytesPerPixel,
                                 double dpiX, double dpiY, IWICBitmapSource **source, BYTE **pixels);

// A 32bpp BGR view of a 32bpp PBGRA source laid onto white: a fully
// transparent pixel comes out white, an opaque one as it is. Holds its own
// reference to premultiplied.
HRESULT CreateWhiteBackedSource(IWICBitmapSource *premultiplied, IWICBitmapSource **opaque);
