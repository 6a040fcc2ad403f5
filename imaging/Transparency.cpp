#include "Transparency.h"

#include "IndexedPalette.h"

#include "ImagingContext.h"
#include "OwnBitmapSources.h"

#include <string.h>

bool IsIndexedFormat(REFGUID format)
{
    return IndexedColorCount(format) != 0;
}

// Every WIC pixel format that has an alpha channel. Asked by pixel format,
// not through component information, so no object outlives the question.
static bool IsAlphaFormat(REFGUID format)
{
    static const GUID *const formats[] = {
        &GUID_WICPixelFormat16bppBGRA5551,    &GUID_WICPixelFormat32bppBGRA,        &GUID_WICPixelFormat32bppPBGRA,
        &GUID_WICPixelFormat32bppRGBA,        &GUID_WICPixelFormat32bppPRGBA,       &GUID_WICPixelFormat64bppRGBA,
        &GUID_WICPixelFormat64bppBGRA,        &GUID_WICPixelFormat64bppPRGBA,       &GUID_WICPixelFormat64bppPBGRA,
        &GUID_WICPixelFormat64bppRGBAFixedPoint, &GUID_WICPixelFormat64bppBGRAFixedPoint,
        &GUID_WICPixelFormat64bppRGBAHalf,    &GUID_WICPixelFormat64bppPRGBAHalf,
        &GUID_WICPixelFormat128bppRGBAFloat,  &GUID_WICPixelFormat128bppPRGBAFloat,
        &GUID_WICPixelFormat128bppRGBAFixedPoint, &GUID_WICPixelFormat40bppCMYKAlpha,
        &GUID_WICPixelFormat80bppCMYKAlpha,
    };
    for (const GUID *candidate : formats)
        if (IsEqualGUID(format, *candidate))
            return true;
    return false;
}

bool FrameHasAlpha(IWICImagingFactory *factory, IWICBitmapSource *frame)
{
    IWICPalette *palette = NULL;
    WICPixelFormatGUID format;
    BOOL transparency = FALSE;

    HRESULT hr = frame->GetPixelFormat(&format);
    if (FAILED(hr))
        goto Cleanup;
    if (!IsIndexedFormat(format))
    {
        transparency = IsAlphaFormat(format);
        goto Cleanup;
    }
    // A palette format can hold transparency; whether this frame does is
    // its palette's affair.
    hr = factory->CreatePalette(&palette);
    if (FAILED(hr))
        goto Cleanup;
    hr = frame->CopyPalette(palette);
    if (FAILED(hr))
        goto Cleanup;
    hr = palette->HasAlpha(&transparency);

Cleanup:
    SafeRelease(&palette);
    return SUCCEEDED(hr) && transparency;
}

bool IsPbgra32Format(REFGUID format)
{
    return memcmp(&format, &GUID_WICPixelFormat32bppPBGRA, sizeof(GUID)) == 0;
}

HRESULT CreateStraightAlphaSource(IWICImagingFactory *factory, IWICBitmapSource *premultiplied,
                                  IWICBitmapSource **straight)
{
    return CreateConvertedSource(factory, premultiplied, GUID_WICPixelFormat32bppBGRA, straight);
}
