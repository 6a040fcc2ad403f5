// Pictures for encoders that take only indexed pixels (GIF above all).
//
// Such an encoder, handed other pixels without a palette, makes its palette
// from the first band it is given, so a picture written in bands would be
// drawn in the colours of its top rows. Here the palette is made from the
// whole picture, given to the frame before any pixel, and the picture is
// converted to the frame's indexed format with that palette. Where the
// picture has alpha and the frame takes a transparent colour index, one
// palette entry is kept for the transparent pixels; otherwise the picture
// is laid onto white first, so a transparent area never shows the colour
// stored under it.
#pragma once

#include <windows.h>
#include <wincodec.h>

// Palette entries of an indexed pixel format (2, 4, 16 or 256), or 0 for a
// format that is not indexed.
UINT IndexedColorCount(REFWICPixelFormatGUID format);

// Builds the palette from the whole of picture (32bpp BGR, or 32bpp PBGRA
// when hasAlpha), hands it to frame with SetPalette, and returns in
// *indexed the picture in indexedFormat, as frame->WriteSource wants it.
// Fails, leaving the frame without a palette, when no palette can be made
// (an empty or one-pixel picture, a refused call).
HRESULT CreateIndexedSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *picture,
                            REFWICPixelFormatGUID indexedFormat, bool hasAlpha, IWICBitmapSource **indexed);

// An 8bpp indexed view of colours (an indexed source) in which every pixel
// of the 32bpp PBGRA alphaSource that is less than half covered takes
// transparentIndex. Holds its own references to both.
HRESULT CreateTransparentKeySource(IWICBitmapSource *colours, IWICBitmapSource *alphaSource, BYTE transparentIndex,
                                   IWICBitmapSource **keyed);
