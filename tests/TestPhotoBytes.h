// Test helpers for photos under the platform's codecs: the portable byte
// builders (native/PhotoTestBytes.h), and pixels written and read back with
// their alpha.
#pragma once

#include "native/PhotoTestBytes.h"

#include <windows.h>
#include <wincodec.h>

#include <string>
#include <vector>

// A 32bpp BGRA bitmap whose pixel (x, y) is colour(x, y) as 0xAARRGGBB.
typedef UINT (*AlphaPixelColour)(UINT x, UINT y);
HRESULT MakeBgraBitmap(UINT width, UINT height, AlphaPixelColour colour, IWICBitmap **bitmap);

// Frame 0 of an image file converted to 32bpp BGRA, as 0xAARRGGBB values,
// rows top first; empty on failure. *format receives the frame's own format.
std::vector<UINT> ReadBgraPixels(const std::wstring &path, UINT *width, UINT *height, GUID *format);
