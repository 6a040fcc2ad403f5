// The Exif edit: the block a resized copy carries, made from a photo's.
//
// Promises: the edited block says orientation 1 wherever IFD0, the Exif,
// GPS and Interop IFDs held an orientation; IFD0 links no IFD1, and IFD1
// and its thumbnail are cut off where they end the block, else zeroed where
// nothing kept shares their bytes. Every other byte stays as the photo had
// it, the location included. A block that is malformed in any way the
// reader can see (offsets or counts outside it, an IFD loop, more IFDs
// than a camera writes, an IFD that shares bytes with anything else kept)
// is refused whole. The edit owns where the pixel
// dimensions sit; only PutExifSegment writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// "Exif\0\0", with which the APP1 payload starts.
extern const char EXIF_SIGNATURE[6];

struct CarriedExif
{
    std::vector<uint8_t> tiff; // the edited TIFF structure; empty: no Exif carried
    bool bigEndian;
    size_t pixelXEntry;        // where PixelXDimension's entry sits in tiff; 0: absent
    size_t pixelYEntry;
};

// Edits a copy of the TIFF structure tiff[0, size). False, with *carried
// empty, for a malformed block.
bool EditExif(const uint8_t *tiff, size_t size, CarriedExif *carried);

// Appends the APP1 segment of the carried block with PixelXDimension and
// PixelYDimension set to width and height (kept SHORT where they were and
// the value fits, else LONG). Nothing when no Exif is carried.
void PutExifSegment(const CarriedExif &carried, uint32_t width, uint32_t height, std::vector<uint8_t> *out);

// Appends a JPEG segment's marker and length; payloadLength <= 65533.
void PutSegmentHeader(uint8_t marker, size_t payloadLength, std::vector<uint8_t> *out);
