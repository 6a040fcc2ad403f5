#include "IndexedPalette.h"

#include "ImagingContext.h"
#include "OwnBitmapSources.h"

#include <propidl.h>

#include <new>
#include <vector>

namespace
{
struct IndexedFormatRow
{
    const GUID *format;
    UINT colours;
};

const IndexedFormatRow g_indexedFormats[] = {
    {&GUID_WICPixelFormat1bppIndexed, 2},
    {&GUID_WICPixelFormat2bppIndexed, 4},
    {&GUID_WICPixelFormat4bppIndexed, 16},
    {&GUID_WICPixelFormat8bppIndexed, 256},
};

// Alpha below this counts as transparent in a picture reduced to one
// transparent entry: the pixel shows less of itself than of what is behind.
const BYTE HALF_COVERED = 128;

class TransparentKeySource : public OwnBitmapSource
{
public:
    TransparentKeySource(UINT width, UINT height, double dpiX, double dpiY, IWICBitmapSource *colours,
                         IWICBitmapSource *alphaSource, BYTE transparentIndex)
        : OwnBitmapSource(width, height, GUID_WICPixelFormat8bppIndexed, dpiX, dpiY), m_colours(colours),
          m_alpha(alphaSource), m_transparentIndex(transparentIndex)
    {
        m_colours->AddRef();
        m_alpha->AddRef();
    }
    ~TransparentKeySource() override
    {
        m_alpha->Release();
        m_colours->Release();
    }

    STDMETHODIMP CopyPalette(IWICPalette *palette) override { return m_colours->CopyPalette(palette); }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        WICRect rect;
        HRESULT hr = CopyFromInner(m_colours, requested, stride, bufferSize, buffer, 1, &rect);
        if (FAILED(hr))
            return hr;
        // One row of alpha at a time: a row of the copy, not the picture.
        std::vector<BYTE> row;
        size_t rowBytes = 0;
        if (!ComputeImageBytes(static_cast<UINT>(rect.Width), 1, 4, &rowBytes) || rowBytes > UINT_MAX)
            return E_OUTOFMEMORY;
        row.resize(rowBytes);
        for (INT y = 0; y < rect.Height; ++y)
        {
            const WICRect line = {rect.X, rect.Y + y, rect.Width, 1};
            hr = m_alpha->CopyPixels(&line, rect.Width * 4, static_cast<UINT>(row.size()), row.data());
            if (FAILED(hr))
                return hr;
            BYTE *indices = buffer + static_cast<size_t>(y) * stride;
            for (INT x = 0; x < rect.Width; ++x)
                if (row[static_cast<size_t>(x) * 4 + 3] < HALF_COVERED)
                    indices[x] = m_transparentIndex;
        }
        return S_OK;
    }

private:
    IWICBitmapSource *const m_colours;
    IWICBitmapSource *const m_alpha;
    const BYTE m_transparentIndex;
};

// The index of the palette's fully transparent entry.
HRESULT FindTransparentEntry(IWICPalette *palette, UINT *index)
{
    WICColor colours[256];
    UINT count = 0;
    HRESULT hr = palette->GetColors(256, colours, &count);
    if (FAILED(hr))
        return hr;
    for (UINT i = 0; i < count; ++i)
    {
        if ((colours[i] >> 24) == 0)
        {
            *index = i;
            return S_OK;
        }
    }
    return E_FAIL;
}

// Tells the frame which index is transparent; an encoder without a
// writable graphic control extension refuses, and the caller goes white.
HRESULT MarkTransparentIndex(IWICBitmapFrameEncode *frame, UINT index)
{
    IWICMetadataQueryWriter *writer = NULL;
    PROPVARIANT value;
    PropVariantInit(&value);

    HRESULT hr = frame->GetMetadataQueryWriter(&writer);
    if (FAILED(hr))
        goto Cleanup;
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    hr = writer->SetMetadataByName(L"/grctlext/TransparencyFlag", &value);
    if (FAILED(hr))
        goto Cleanup;
    value.vt = VT_UI1;
    value.bVal = static_cast<BYTE>(index);
    hr = writer->SetMetadataByName(L"/grctlext/TransparentColorIndex", &value);

Cleanup:
    SafeRelease(&writer);
    return hr;
}

// A palette of the whole picture with one entry kept for transparency,
// marked in the frame.
HRESULT MakeKeyedPalette(IWICPalette *palette, IWICBitmapSource *opaque, IWICBitmapFrameEncode *frame, UINT *index)
{
    HRESULT hr = palette->InitializeFromBitmap(opaque, 256, TRUE);
    if (SUCCEEDED(hr))
        hr = FindTransparentEntry(palette, index);
    if (SUCCEEDED(hr))
        hr = MarkTransparentIndex(frame, *index);
    return hr;
}
} // namespace

UINT IndexedColorCount(REFWICPixelFormatGUID format)
{
    for (const IndexedFormatRow &row : g_indexedFormats)
        if (IsEqualGUID(format, *row.format))
            return row.colours;
    return 0;
}

HRESULT CreateTransparentKeySource(IWICBitmapSource *colours, IWICBitmapSource *alphaSource, BYTE transparentIndex,
                                   IWICBitmapSource **keyed)
{
    SourceLayout layout;
    *keyed = NULL;
    const HRESULT hr = ReadSourceLayout(colours, &layout);
    if (FAILED(hr))
        return hr;
    TransparentKeySource *created = new (std::nothrow)
        TransparentKeySource(layout.width, layout.height, layout.dpiX, layout.dpiY, colours, alphaSource, transparentIndex);
    if (!created)
        return E_OUTOFMEMORY;
    *keyed = created;
    return S_OK;
}

// A palette of the whole of opaque, given to frame: with one entry kept for
// transparency and marked in the frame where the picture has alpha and the
// frame takes the mark (*keyed), else colours entries of opaque alone.
static HRESULT GiveFramePalette(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *opaque,
                                UINT colours, bool hasAlpha, IWICPalette **palette, bool *keyed, UINT *transparentIndex)
{
    HRESULT hr = factory->CreatePalette(palette);
    if (FAILED(hr))
        return hr;
    // One transparent index, and the keying after it, work on whole bytes.
    *keyed = hasAlpha && colours == 256 && SUCCEEDED(MakeKeyedPalette(*palette, opaque, frame, transparentIndex));
    if (!*keyed)
        hr = (*palette)->InitializeFromBitmap(opaque, colours, FALSE);
    return SUCCEEDED(hr) ? frame->SetPalette(*palette) : hr;
}

HRESULT CreateIndexedSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *picture,
                            REFWICPixelFormatGUID indexedFormat, bool hasAlpha, IWICBitmapSource **indexed)
{
    IWICBitmapSource *opaque = NULL;
    IWICPalette *palette = NULL;
    IWICFormatConverter *converter = NULL;
    UINT transparentIndex = 0;
    bool keyed = false;
    const UINT colours = IndexedColorCount(indexedFormat);

    *indexed = NULL;
    if (!colours)
        return E_INVALIDARG;
    // The colours come from the picture as it looks on white, so that no
    // entry is spent on what lies under transparent pixels.
    HRESULT hr = hasAlpha ? CreateWhiteBackedSource(picture, &opaque)
                          : picture->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(&opaque));
    if (FAILED(hr))
        goto Cleanup;
    hr = GiveFramePalette(factory, frame, opaque, colours, hasAlpha, &palette, &keyed, &transparentIndex);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->Initialize(opaque, indexedFormat, WICBitmapDitherTypeNone, palette, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        goto Cleanup;
    if (keyed)
        hr = CreateTransparentKeySource(converter, picture, static_cast<BYTE>(transparentIndex), indexed);
    else
        hr = converter->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(indexed));

Cleanup:
    SafeRelease(&converter);
    SafeRelease(&palette);
    SafeRelease(&opaque);
    return hr;
}
