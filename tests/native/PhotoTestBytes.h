// Photo file bytes built by hand for tests, shared by the native suite and
// the Windows suites (portable: no platform header). One TIFF/IFD builder
// makes every TIFF structure: Exif blocks, TIFF files, hostile variants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// One IFD entry; value holds the entry's bytes in the block's byte order.
struct TestTiffTag
{
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    Bytes value;
};

// Integers of width 1, 2 or 4 bytes in the given byte order.
Bytes TiffValue(bool bigEndian, size_t width, std::initializer_list<uint32_t> values);
// A SHORT (type 3) or LONG (type 4) tag of one value.
TestTiffTag IntegerTag(bool bigEndian, uint16_t tag, uint16_t type, uint32_t value);
TestTiffTag AsciiTag(uint16_t tag, const char *text);

// A TIFF header naming IFD0 at offset 8.
Bytes TiffHeader(bool bigEndian);
// Appends an IFD at the block's end (tags in the order given) with its
// values longer than four bytes after it, each padded to an even length.
void AppendIfd(Bytes &block, bool bigEndian, const std::vector<TestTiffTag> &tags, uint32_t next);
// The bytes AppendIfd adds for these tags.
size_t IfdSize(const std::vector<TestTiffTag> &tags);

// A TIFF header and one IFD (next-IFD offset 0), then `trailer`.
Bytes BuildTiffBlock(bool bigEndian, const std::vector<TestTiffTag> &ifd0, const Bytes &trailer = Bytes());

// "Exif\0\0" followed by the TIFF block: an APP1 payload.
Bytes ExifPayload(const Bytes &tiffBlock);

// A whole JPEG segment: FF, marker, length, payload.
Bytes JpegSegment(uint8_t marker, const Bytes &payload);
// The JPEG with one more marker segment right after its SOI.
Bytes InsertJpegSegment(const Bytes &jpeg, uint8_t marker, const Bytes &payload);

// The TIFF structure that follows "Exif\0\0", and where its parts sit.
struct CameraExif
{
    Bytes tiff;
    size_t ifd0Next;            // IFD0's next-IFD field
    size_t exifIfd, gpsIfd;     // the two sub-IFDs
    size_t ifd1Begin, ifd1End;  // IFD1 and its thumbnail, one run of bytes
};

// Make, Model, Orientation in IFD0; DateTimeOriginal, PixelXDimension
// (SHORT) and PixelYDimension (LONG) in the Exif IFD; latitude and
// longitude in the GPS IFD; an IFD1 with orientation and a 64-byte
// thumbnail, laid out last or right after IFD0.
CameraExif BuildCameraExif(bool bigEndian, bool thumbnailFirst, uint32_t orientation, uint32_t pixelX, uint32_t pixelY);

// What a carried copy of that block must be byte for byte: orientation 1,
// the new pixel size, IFD0 linking no IFD1, and IFD1 with its thumbnail cut
// off where it ends the block, else zeroed.
Bytes ExpectedCarriedExif(bool bigEndian, bool thumbnailFirst, uint32_t pixelX, uint32_t pixelY);

// A profile of `size` bytes (a multiple of 4, at least 164) whose header
// declares that size and the given colour space ("RGB ", "GRAY", "CMYK").
Bytes MakeIccProfile(const char *space, size_t size);

// APP2 payloads "ICC_PROFILE\0", number, count, data: profile in `parts` pieces.
std::vector<Bytes> IccChunkPayloads(const Bytes &profile, size_t parts);

// An APP1 XMP payload whose tiff:Orientation, once as an attribute and
// once as an element, reads `orientation`; it also holds a GPS position.
Bytes XmpPayload(const char *orientation);

// APP1 and APP2 payloads of one photo.
struct PhotoSegments
{
    Bytes exif, xmp;
    std::vector<Bytes> icc;
};

// A camera's photo: BuildCameraExif (orientation 6, 640 x 480), XmpPayload
// ("6") and a 1200-byte RGB profile in two chunks.
PhotoSegments CameraSegments(bool bigEndian, bool thumbnailFirst);

// The JPEG with the segments after its SOI: Exif, XMP, then the ICC chunks
// in the order given. Empty payloads are left out.
Bytes AddPhotoSegments(const Bytes &jpeg, const PhotoSegments &segments);

// The marker segments of a JPEG up to its scan, in file order, read by a
// reader that shares no code with the product's.
struct TestSegment
{
    uint8_t marker;
    Bytes payload;
};
std::vector<TestSegment> ListJpegSegments(const Bytes &jpeg);

// The chunk types of a PNG file in order ("IHDR", "iCCP", ...).
std::vector<std::string> ListPngChunks(const Bytes &png);

// The start of a GIF: its header with a logical screen of screenWidth x
// screenHeight and a global colour table of two entries, then blocks, then
// an image descriptor of imageWidth x imageHeight at (0, 0); no pixels.
Bytes TestGif(const std::vector<Bytes> &blocks, uint16_t screenWidth, uint16_t screenHeight, uint16_t imageWidth,
              uint16_t imageHeight);

// A bitmap's file header and an info header of infoSize bytes (12: the
// old OS/2 one, with 16-bit sides) saying width x height; no pixels.
Bytes TestBmpHeader(uint32_t infoSize, int32_t width, int32_t height);

// A PNG's signature and IHDR chunk saying width x height (its CRC zero).
Bytes TestPngHeader(uint32_t width, uint32_t height);
