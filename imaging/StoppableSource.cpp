#include "StoppableSource.h"

#include "ExceptionBoundary.h"
#include "OwnBitmapSources.h"
#include "SharedFlags.h"

#include <new>

namespace
{
class StoppableSource : public OwnBitmapSource
{
public:
    StoppableSource(const SourceLayout &layout, IWICBitmapSource *inner)
        : OwnBitmapSource(layout.width, layout.height, layout.format, layout.dpiX, layout.dpiY), m_inner(inner)
    {
        m_inner->AddRef();
    }
    ~StoppableSource() override { m_inner->Release(); }

    STDMETHODIMP CopyPalette(IWICPalette *palette) override
    {
        return AnswerWithoutThrowing([&] { return m_inner->CopyPalette(palette); });
    }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        return AnswerWithoutThrowing([&] {
            if (g_quitRequested)
                return E_ABORT;
            return m_inner->CopyPixels(requested, stride, bufferSize, buffer);
        });
    }

private:
    IWICBitmapSource *const m_inner;
};
} // namespace

HRESULT CreateStoppableSource(IWICBitmapSource **source)
{
    SourceLayout layout;
    const HRESULT hr = ReadSourceLayout(*source, &layout);
    if (FAILED(hr))
        return hr;
    StoppableSource *created = new (std::nothrow) StoppableSource(layout, *source);
    if (!created)
        return E_OUTOFMEMORY;
    (*source)->Release();
    *source = created;
    return S_OK;
}
