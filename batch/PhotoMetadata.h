// What a photo knows beside its pixels, gathered from the input so that the
// resized copy can keep it: for a JPEG, the blocks the one reading of its
// header carries (photo/PhotoHeader.h: Exif, XMP, ICC chunks, already
// edited); for a PNG or TIFF, the frame's RGB ICC profile as its own
// decoder reports it.
//
// Promises: a profile is carried only when its header declares its own
// size and the RGB colour space, since every output is RGB; anything else
// is left out whole. Everything carried stays as the photo had it, the
// location included.
#pragma once

#include "photo/PhotoHeader.h"

#include <windows.h>
#include <wincodec.h>

#include <vector>

struct PhotoMetadata
{
    GUID container;               // the input's container
    CarriedBlocks jpeg;           // JPEG only
    std::vector<uint8_t> profile; // PNG and TIFF only: the frame's RGB profile, or empty
};

// Empties *metadata (nothing to carry).
void InitPhotoMetadata(PhotoMetadata *metadata);

// True when there is anything to carry.
bool HasPhotoMetadata(const PhotoMetadata *metadata);

// Gathers for an input decoded as container, whose frame 0 is frame: a
// JPEG's blocks, taken from its header's reading (header->blocks is
// emptied), or a PNG's or TIFF's profile. Any failure leaves less carried,
// never anything invalid.
HRESULT GatherPhotoMetadata(IWICImagingFactory *factory, REFGUID container, IWICBitmapFrameDecode *frame,
                            PhotoHeader *header, PhotoMetadata *metadata);
