#include "RowPull.h"

#include "ExceptionBoundary.h"
#include "ImagingContext.h"
#include "OwnBitmapSources.h"
#include "Transparency.h"

#include <new>

std::atomic<UINT> g_rowsPerPull(1);
std::atomic<bool> g_convertOnce(true);

namespace
{
class RowPullSource : public OwnBitmapSource
{
public:
    RowPullSource(UINT width, UINT height, REFWICPixelFormatGUID format, double dpiX, double dpiY,
                  IWICBitmapSource *inner, UINT rowsPerRequest)
        : OwnBitmapSource(width, height, format, dpiX, dpiY), m_inner(inner), m_rowsPerRequest(rowsPerRequest)
    {
        m_inner->AddRef();
    }
    ~RowPullSource() override { m_inner->Release(); }

    STDMETHODIMP CopyPalette(IWICPalette *palette) override { return m_inner->CopyPalette(palette); }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        return AnswerWithoutThrowing([&] { return PullBands(requested, stride, bufferSize, buffer); });
    }

private:
    HRESULT PullBands(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer)
    {
        if (m_rowsPerRequest == 0)
            return m_inner->CopyPixels(requested, stride, bufferSize, buffer);
        // Whole bytes per pixel are the inner source's to check; here the
        // rectangle lies inside the image and every row starts inside the
        // buffer, so no offset below can pass bufferSize.
        WICRect rect;
        HRESULT hr = CheckCopyRequest(requested, stride, bufferSize, buffer, 0, &rect);
        if (FAILED(hr))
            return hr;
        for (INT done = 0; done < rect.Height && SUCCEEDED(hr); done += static_cast<INT>(m_rowsPerRequest))
        {
            const INT left = rect.Height - done;
            const INT rows = left < static_cast<INT>(m_rowsPerRequest) ? left : static_cast<INT>(m_rowsPerRequest);
            const WICRect band = {rect.X, rect.Y + done, rect.Width, rows};
            const size_t offset = static_cast<size_t>(done) * stride;
            hr = m_inner->CopyPixels(&band, stride, bufferSize - static_cast<UINT>(offset), buffer + offset);
        }
        return hr;
    }

    IWICBitmapSource *const m_inner;
    const UINT m_rowsPerRequest;
};
} // namespace

HRESULT CreateRowPullSource(IWICBitmapSource *inner, IWICBitmapSource **pulled)
{
    SourceLayout layout;
    *pulled = NULL;
    const HRESULT hr = ReadSourceLayout(inner, &layout);
    if (FAILED(hr))
        return hr;
    RowPullSource *created = new (std::nothrow)
        RowPullSource(layout.width, layout.height, layout.format, layout.dpiX, layout.dpiY, inner, g_rowsPerPull);
    if (!created)
        return E_OUTOFMEMORY;
    *pulled = created;
    return S_OK;
}

HRESULT CreateConverterForEncoder(IWICImagingFactory *factory, IWICBitmapSource *source,
                                  REFWICPixelFormatGUID answered, IWICBitmapSource **converted)
{
    WICPixelFormatGUID format;

    *converted = NULL;
    const HRESULT hr = source->GetPixelFormat(&format);
    if (FAILED(hr))
        return hr;
    if (!g_convertOnce || IsEqualGUID(format, answered) || IsIndexedFormat(answered))
    {
        source->AddRef();
        *converted = source;
        return S_OK;
    }
    return CreateConvertedSource(factory, source, answered, converted);
}
