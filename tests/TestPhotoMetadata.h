// Test helpers for what photos carry beside their pixels: a camera's Exif
// block (IFD0, Exif and GPS IFDs, an IFD1 thumbnail), an XMP packet, an ICC
// profile in APP2 chunks, and a byte-level reader of JPEG segments that
// shares no code with the product's.
#pragma once

#include "TestPhotoBytes.h"

#include <windows.h>

#include <string>
#include <vector>

// The TIFF structure that follows "Exif\0\0", and where its parts sit.
struct CameraExif
{
    std::vector<BYTE> tiff;
    size_t ifd0Next;            // IFD0's next-IFD field
    size_t exifIfd, gpsIfd;     // the two sub-IFDs
    size_t ifd1Begin, ifd1End;  // IFD1 and its thumbnail, one run of bytes
};

// Make, Model, Orientation in IFD0; DateTimeOriginal, PixelXDimension
// (SHORT) and PixelYDimension (LONG) in the Exif IFD; latitude and
// longitude in the GPS IFD; an IFD1 with orientation and a 64-byte
// thumbnail, laid out last or right after IFD0.
CameraExif BuildCameraExif(bool bigEndian, bool thumbnailFirst, DWORD orientation, DWORD pixelX, DWORD pixelY);

// What a carried copy of that block must be byte for byte: orientation 1,
// the new pixel size, IFD0 linking no IFD1, and IFD1 with its thumbnail cut
// off where it ends the block, else zeroed.
std::vector<BYTE> ExpectedCarriedExif(bool bigEndian, bool thumbnailFirst, DWORD pixelX, DWORD pixelY);

// A profile of `size` bytes (a multiple of 4, at least 164) whose header
// declares that size and the given colour space ("RGB ", "GRAY", "CMYK").
std::vector<BYTE> MakeIccProfile(const char *space, size_t size);

// APP2 payloads "ICC_PROFILE\0", number, count, data: profile in `parts` pieces.
std::vector<std::vector<BYTE>> IccChunkPayloads(const std::vector<BYTE> &profile, size_t parts);

// An APP1 XMP payload whose tiff:Orientation, once as an attribute and
// once as an element, reads `orientation`; it also holds a GPS position.
std::vector<BYTE> XmpPayload(const char *orientation);

// APP1 and APP2 payloads of one photo.
struct PhotoSegments
{
    std::vector<BYTE> exif, xmp;
    std::vector<std::vector<BYTE>> icc;
};

// A camera's photo: BuildCameraExif (orientation 6, 640 x 480), XmpPayload
// ("6") and a 1200-byte RGB profile in two chunks.
PhotoSegments CameraSegments(bool bigEndian, bool thumbnailFirst);

// The JPEG with the segments after its SOI: Exif, XMP, then the ICC chunks
// in the order given. Empty payloads are left out.
std::vector<BYTE> AddPhotoSegments(const std::vector<BYTE> &jpeg, const PhotoSegments &segments);

// The marker segments of a JPEG up to its scan, in file order.
struct TestSegment
{
    BYTE marker;
    std::vector<BYTE> payload;
};
std::vector<TestSegment> ListJpegSegments(const std::vector<BYTE> &jpeg);

// The chunk types of a PNG file in order ("IHDR", "iCCP", ...).
std::vector<std::string> ListPngChunks(const std::vector<BYTE> &png);
