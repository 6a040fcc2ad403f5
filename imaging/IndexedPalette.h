// Pictures for encoders that take only indexed pixels (GIF above all).
//
// Such an encoder, handed other pixels without a palette, makes its palette
// from the first band it is given, so a picture written in bands would be
// drawn in the colours of its top rows. Here the palette is made from the
// whole picture, given to the frame before any pixel, and the picture is
// converted to the frame's indexed format with that palette. Where the
// picture has alpha and the frame takes a transparent colour index, the
// last of 256 entries is kept for the transparent pixels, and no opaque
// pixel is ever matched to it; otherwise the picture is laid onto white
// first, so a transparent area never shows the colour stored under it.
#pragma once

#include <windows.h>
#include <wincodec.h>

// Palette entries of an indexed pixel format (2, 4, 16 or 256), or 0 for a
// format that is not indexed.
UINT IndexedColorCount(REFWICPixelFormatGUID format);

// Builds the palette from the whole of picture (32bpp BGR, or 32bpp PBGRA
// when hasAlpha), hands it to frame with SetPalette, and returns in
// *indexed the picture in indexedFormat, as frame->WriteSource wants it.
// With alpha and 256 colours, the frame is told that its last entry is
// transparent, the index before the flag: where the frame refuses the
// index, nothing is marked and the picture goes onto white in 256 colours
// of its own; where it takes the index but refuses the flag, the picture
// goes onto white in the keyed palette, with no pixel on the last entry.
// Fails, leaving the frame without a palette, when no palette can be made
// (an empty or one-pixel picture, a refused call).
HRESULT CreateIndexedSource(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, IWICBitmapSource *picture,
                            REFWICPixelFormatGUID indexedFormat, bool hasAlpha, IWICBitmapSource **indexed);

// The keyed form of a picture with alpha (32bpp PBGRA) for a frame of 256
// colours: the picture on white converted with a palette of at most 255 of
// its own colours, then every pixel less than half covered put on index
// 255. *framePalette holds those colours, padded with opaque black to 255
// entries, and the transparent entry (0, 0, 0, alpha 0) last; both sources
// answer it. *unkeyed is the same conversion with no pixel keyed, so none
// lies on the last entry. On failure all three are NULL.
HRESULT CreateKeyedIndexedSource(IWICImagingFactory *factory, IWICBitmapSource *picture, IWICPalette **framePalette,
                                 IWICBitmapSource **keyed, IWICBitmapSource **unkeyed);
