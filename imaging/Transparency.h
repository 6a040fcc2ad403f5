// Transparency: which frames carry alpha, and the sources that keep it.
//
// A frame with alpha is scaled in premultiplied form (32bpp PBGRA), so that
// averaging never darkens or tints the edges; an encoder that keeps alpha
// is handed straight BGRA, and anything shown or written without alpha is
// laid onto white (OwnBitmapSources.h). A frame without alpha never comes
// near this path.
#pragma once

#include <windows.h>
#include <wincodec.h>

// True when the frame's pixel format has an alpha channel or, for a palette
// format, its palette really holds a colour that is not opaque.
bool FrameHasAlpha(IWICImagingFactory *factory, IWICBitmapSource *frame);

// True for the 1, 2, 4 and 8 bpp palette formats.
bool IsIndexedFormat(REFGUID format);

// True exactly when format is GUID_WICPixelFormat32bppPBGRA.
bool IsPbgra32Format(REFGUID format);

// A 32bpp BGRA (straight alpha) view of a 32bpp PBGRA source.
HRESULT CreateStraightAlphaSource(IWICImagingFactory *factory, IWICBitmapSource *premultiplied,
                                  IWICBitmapSource **straight);
