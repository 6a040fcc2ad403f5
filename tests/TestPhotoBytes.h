// Test helpers for the bytes photos carry beside their pixels: TIFF
// structures and Exif blocks built by hand, JPEG segments spliced into a
// real encoder's output, and pixels read back with their alpha.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <initializer_list>
#include <string>
#include <vector>

// One IFD entry; value holds the entry's bytes in the block's byte order.
struct TestTiffTag
{
    WORD tag;
    WORD type;
    DWORD count;
    std::vector<BYTE> value;
};

// Integers of width 1, 2 or 4 bytes in the given byte order.
std::vector<BYTE> TiffValue(bool bigEndian, size_t width, std::initializer_list<DWORD> values);
// A SHORT (type 3) or LONG (type 4) tag of one value.
TestTiffTag IntegerTag(bool bigEndian, WORD tag, WORD type, DWORD value);

// A TIFF header and one IFD (tags in the order given, next-IFD offset 0),
// values longer than four bytes laid out after it; then `trailer`.
std::vector<BYTE> BuildTiffBlock(bool bigEndian, const std::vector<TestTiffTag> &ifd0,
                                 const std::vector<BYTE> &trailer = std::vector<BYTE>());

// "Exif\0\0" followed by the TIFF block: an APP1 payload.
std::vector<BYTE> ExifPayload(const std::vector<BYTE> &tiffBlock);

// The JPEG with one more marker segment right after its SOI.
std::vector<BYTE> InsertJpegSegment(const std::vector<BYTE> &jpeg, BYTE marker, const std::vector<BYTE> &payload);

// A 32bpp BGRA bitmap whose pixel (x, y) is colour(x, y) as 0xAARRGGBB.
typedef UINT (*AlphaPixelColour)(UINT x, UINT y);
HRESULT MakeBgraBitmap(UINT width, UINT height, AlphaPixelColour colour, IWICBitmap **bitmap);

// Frame 0 of an image file converted to 32bpp BGRA, as 0xAARRGGBB values,
// rows top first; empty on failure. *format receives the frame's own format.
std::vector<UINT> ReadBgraPixels(const std::wstring &path, UINT *width, UINT *height, GUID *format);
