#include "Transparency.h"

#include "ImagingContext.h"

#include <string.h>

static bool IsIndexedFormat(REFGUID format)
{
    return IsEqualGUID(format, GUID_WICPixelFormat1bppIndexed) || IsEqualGUID(format, GUID_WICPixelFormat2bppIndexed) ||
           IsEqualGUID(format, GUID_WICPixelFormat4bppIndexed) || IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed);
}

bool FrameHasAlpha(IWICImagingFactory *factory, IWICBitmapSource *frame)
{
    IWICComponentInfo *info = NULL;
    IWICPixelFormatInfo2 *formatInfo = NULL;
    IWICPalette *palette = NULL;
    WICPixelFormatGUID format;
    BOOL transparency = FALSE;

    HRESULT hr = frame->GetPixelFormat(&format);
    if (FAILED(hr))
        goto Cleanup;
    hr = factory->CreateComponentInfo(format, &info);
    if (FAILED(hr))
        goto Cleanup;
    hr = info->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void **>(&formatInfo));
    if (FAILED(hr))
        goto Cleanup;
    hr = formatInfo->SupportsTransparency(&transparency);
    if (FAILED(hr) || !transparency || !IsIndexedFormat(format))
        goto Cleanup;
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
    SafeRelease(&formatInfo);
    SafeRelease(&info);
    return SUCCEEDED(hr) && transparency;
}

bool IsPbgra32Format(REFGUID format)
{
    return memcmp(&format, &GUID_WICPixelFormat32bppPBGRA, sizeof(GUID)) == 0;
}

HRESULT CreateStraightAlphaSource(IWICImagingFactory *factory, IWICBitmapSource *premultiplied,
                                  IWICBitmapSource **straight)
{
    IWICFormatConverter *converter = NULL;

    *straight = NULL;
    HRESULT hr = factory->CreateFormatConverter(&converter);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->Initialize(premultiplied, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, NULL, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr))
        goto Cleanup;
    hr = converter->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void **>(straight));
    if (FAILED(hr))
        *straight = NULL;

Cleanup:
    SafeRelease(&converter);
    return hr;
}
