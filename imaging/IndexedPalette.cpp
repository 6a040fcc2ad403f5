#include "IndexedPalette.h"

#include "ExceptionBoundary.h"
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

// A picture reduced to one transparent entry puts it last, after at most
// this many colours of its own: an entry that no opaque pixel can be
// matched to, whatever colour the file stores for it.
const UINT TRANSPARENT_INDEX = 255;

class TransparentKeySource : public OwnBitmapSource
{
public:
    TransparentKeySource(UINT width, UINT height, double dpiX, double dpiY, IWICBitmapSource *colours,
                         IWICBitmapSource *alphaSource, IWICPalette *palette)
        : OwnBitmapSource(width, height, GUID_WICPixelFormat8bppIndexed, dpiX, dpiY), m_colours(colours),
          m_alpha(alphaSource), m_palette(palette)
    {
        m_colours->AddRef();
        m_alpha->AddRef();
        m_palette->AddRef();
    }
    ~TransparentKeySource() override
    {
        m_palette->Release();
        m_alpha->Release();
        m_colours->Release();
    }

    // The frame's palette, transparent entry included, not the one the
    // colours were matched against.
    STDMETHODIMP CopyPalette(IWICPalette *palette) override
    {
        return AnswerWithoutThrowing([&] { return palette ? palette->InitializeFromPalette(m_palette) : E_INVALIDARG; });
    }

    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        return AnswerWithoutThrowing([&] { return CopyKeyedPixels(requested, stride, bufferSize, buffer); });
    }

private:
    HRESULT CopyKeyedPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) const
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
                    indices[x] = static_cast<BYTE>(TRANSPARENT_INDEX);
        }
        return S_OK;
    }

    IWICBitmapSource *const m_colours;
    IWICBitmapSource *const m_alpha;
    IWICPalette *const m_palette;
};

HRESULT CreateTransparentKeySource(IWICBitmapSource *colours, IWICBitmapSource *alphaSource, IWICPalette *palette,
                                   IWICBitmapSource **keyed)
{
    SourceLayout layout;
    *keyed = NULL;
    const HRESULT hr = ReadSourceLayout(colours, &layout);
    if (FAILED(hr))
        return hr;
    TransparentKeySource *created = new (std::nothrow)
        TransparentKeySource(layout.width, layout.height, layout.dpiX, layout.dpiY, colours, alphaSource, palette);
    if (!created)
        return E_OUTOFMEMORY;
    *keyed = created;
    return S_OK;
}

// The frame's 256 entries: the colours of matched (at most 255), opaque
// black for the ones it lacks, and the transparent entry last.
HRESULT MakeFramePalette(IWICImagingFactory *factory, IWICPalette *matched, IWICPalette **framePalette)
{
    WICColor entries[256];
    UINT count = 0;
    HRESULT hr = matched->GetColors(256, entries, &count);
    if (FAILED(hr))
        return hr;
    if (count > TRANSPARENT_INDEX)
        return E_UNEXPECTED;
    for (UINT i = count; i < TRANSPARENT_INDEX; ++i)
        entries[i] = 0xFF000000;
    entries[TRANSPARENT_INDEX] = 0x00000000;
    hr = factory->CreatePalette(framePalette);
    return SUCCEEDED(hr) ? (*framePalette)->InitializeCustom(entries, 256) : hr;
}

// Tells the frame that index is transparent: the index first, and the flag
// only once the index was taken, so that a refusal never leaves the flag
// pointing at whatever entry the frame's palette has there. *indexTaken
// says whether the index went in (an encoder without a writable graphic
// control extension refuses both, and the caller goes white).
HRESULT MarkTransparentIndex(IWICBitmapFrameEncode *frame, UINT index, bool *indexTaken)
{
    IWICMetadataQueryWriter *writer = NULL;
    PROPVARIANT value;
    PropVariantInit(&value);
    *indexTaken = false;

    HRESULT hr = frame->GetMetadataQueryWriter(&writer);
    if (FAILED(hr))
        goto Cleanup;
    value.vt = VT_UI1;
    value.bVal = static_cast<BYTE>(index);
    hr = writer->SetMetadataByName(L"/grctlext/TransparentColorIndex", &value);
    if (FAILED(hr))
        goto Cleanup;
    *indexTaken = true;
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    hr = writer->SetMetadataByName(L"/grctlext/TransparencyFlag", &value);

Cleanup:
    SafeRelease(&writer);
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

HRESULT CreateKeyedIndexedSource(IWICImagingFactory *factory, IWICBitmapSource *picture, IWICPalette **framePalette,
                                 IWICBitmapSource **keyed, IWICBitmapSource **unkeyed)
{
    IWICBitmapSource *opaque = NULL;
    IWICPalette *matched = NULL;
    IWICFormatConverter *converter = NULL;
    *framePalette = NULL;
    *keyed = NULL;
    *unkeyed = NULL;

    // Colours are matched on the picture as it looks on white, against a
    // palette without the transparent entry: no opaque pixel can land on it.
    HRESULT hr = CreateWhiteBackedSource(picture, &opaque);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreatePalette(&matched);
    if (FAILED(hr))
        goto Cleanup;
    hr = matched->InitializeFromBitmap(opaque, TRANSPARENT_INDEX, FALSE);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->Initialize(opaque, GUID_WICPixelFormat8bppIndexed, WICBitmapDitherTypeNone, matched, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        goto Cleanup;
    hr = MakeFramePalette(factory, matched, framePalette);
    if (FAILED(hr))
        goto Cleanup;
    hr = CreateTransparentKeySource(converter, picture, *framePalette, keyed);
    if (FAILED(hr))
        goto Cleanup;
    // Keyed by the picture on white, whose every pixel is fully covered:
    // the same indices and palette with no pixel on the transparent entry.
    hr = CreateTransparentKeySource(converter, opaque, *framePalette, unkeyed);

Cleanup:
    if (FAILED(hr))
    {
        SafeRelease(unkeyed);
        SafeRelease(keyed);
        SafeRelease(framePalette);
    }
    SafeRelease(&converter);
    SafeRelease(&matched);
    SafeRelease(&opaque);
    return hr;
}

// A palette of colours entries from the whole picture (laid onto white
// where it has alpha), given to frame, and the picture converted with it.
static HRESULT CreatePlainIndexedSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame,
                                        IWICBitmapSource *picture, REFWICPixelFormatGUID indexedFormat, UINT colours,
                                        bool hasAlpha, IWICBitmapSource **indexed)
{
    IWICBitmapSource *opaque = NULL;
    IWICPalette *palette = NULL;
    IWICFormatConverter *converter = NULL;

    // The colours come from the picture as it looks on white, so that no
    // entry is spent on what lies under transparent pixels.
    HRESULT hr = hasAlpha ? CreateWhiteBackedSource(picture, &opaque)
                          : picture->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(&opaque));
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreatePalette(&palette);
    if (FAILED(hr))
        goto Cleanup;
    hr = palette->InitializeFromBitmap(opaque, colours, FALSE);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->SetPalette(palette);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->Initialize(opaque, indexedFormat, WICBitmapDitherTypeNone, palette, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(indexed));

Cleanup:
    SafeRelease(&converter);
    SafeRelease(&palette);
    SafeRelease(&opaque);
    return hr;
}

HRESULT CreateIndexedSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *picture,
                            REFWICPixelFormatGUID indexedFormat, bool hasAlpha, IWICBitmapSource **indexed)
{
    IWICPalette *framePalette = NULL;
    IWICBitmapSource *keyed = NULL;
    IWICBitmapSource *unkeyed = NULL;
    bool indexTaken = false;
    bool flagged = false;
    const UINT colours = IndexedColorCount(indexedFormat);
    HRESULT hr = E_INVALIDARG;

    *indexed = NULL;
    if (!colours)
        return hr;
    // One transparent index, and the keying after it, work on whole bytes.
    if (hasAlpha && colours == 256 && SUCCEEDED(CreateKeyedIndexedSource(factory, picture, &framePalette, &keyed, &unkeyed)))
        hr = MarkTransparentIndex(frame, TRANSPARENT_INDEX, &indexTaken);
    if (!indexTaken)
    {
        // Nothing marked: the picture goes onto white, in colours of its own.
        hr = CreatePlainIndexedSource(factory, frame, picture, indexedFormat, colours, hasAlpha, indexed);
        goto Cleanup;
    }
    // The index went in. Where the flag did not, whatever the frame's
    // writer kept of the mark points at an entry that no pixel uses.
    flagged = SUCCEEDED(hr);
    hr = frame->SetPalette(framePalette);
    if (FAILED(hr))
        goto Cleanup;
    *indexed = flagged ? keyed : unkeyed;
    (*indexed)->AddRef();

Cleanup:
    SafeRelease(&unkeyed);
    SafeRelease(&keyed);
    SafeRelease(&framePalette);
    return hr;
}
