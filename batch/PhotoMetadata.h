// What a photo knows beside its pixels, gathered from the input so that the
// resized copy can keep it: for a JPEG, its Exif block, XMP packet and ICC
// profile as segments ready to go into the output; for a PNG or TIFF, its
// ICC profile.
//
// Promises: every block is read with the bounded readers of PhotoBytes and
// nothing outside the bytes loaded is looked at. A block that is malformed
// in any way the reader can see (offsets or counts outside its segment, an
// IFD loop, ICC chunks that do not number 1 to n exactly once, a profile
// whose size disagrees with its chunks) is left out whole; so is a profile
// whose colour space is not RGB, since every output is RGB. The carried
// Exif block says orientation 1 (the pixels are written upright) and has
// no thumbnail; the XMP packet says orientation 1. Everything else stays
// as the photo had it, the location included.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <stddef.h>

struct PhotoMetadata
{
    GUID container;           // the input's container
    // JPEG only: whole APPn segments (marker, length, payload) in the order
    // they go into a JPEG output: Exif, XMP, ICC chunks. NULL when none.
    BYTE *jpegSegments;
    size_t jpegSegmentsSize;
    // The Exif block's TIFF structure inside jpegSegments (size 0: no Exif),
    // and where its PixelXDimension and PixelYDimension entries sit, as
    // offsets in that structure (0: absent). The writer sets them to the
    // output's size.
    size_t exifTiff;
    size_t exifTiffSize;
    bool exifBigEndian;
    size_t pixelXEntry;
    size_t pixelYEntry;
    // PNG and TIFF only: the frame's RGB ICC profile, or NULL.
    BYTE *profile;
    size_t profileSize;
};

// Empties *metadata (nothing to carry).
void InitPhotoMetadata(PhotoMetadata *metadata);
void FreePhotoMetadata(PhotoMetadata *metadata);

// True when there is anything to carry.
bool HasPhotoMetadata(const PhotoMetadata *metadata);

// The segments to carry from a JPEG header as ReadJpegHeader gives it.
// Fails only when memory runs out; blocks that are malformed are left out.
HRESULT CollectJpegMetadata(const BYTE *header, size_t size, PhotoMetadata *metadata);

// Gathers from the input file at path, decoded as container, whose frame 0
// is frame: a JPEG's header segments, a PNG's or TIFF's colour profile (as
// the frame's own decoder reports it). Any failure leaves *metadata empty
// or partly filled, never invalid; the caller frees it either way.
HRESULT GatherPhotoMetadata(IWICImagingFactory *factory, const wchar_t *path, REFGUID container,
                            IWICBitmapFrameDecode *frame, PhotoMetadata *metadata);
