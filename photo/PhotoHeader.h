// The one reading of a photo file's header: everything the program takes
// from a file's own bytes, read once, before any decoder opens it.
//
// Promises: a JPEG is walked from its start to its scan however long its
// header, in the reader's large reads; segments that are not carried are
// skipped unread, so what is held is bounded by what is carried (one Exif
// block, one XMP packet, at most 255 ICC chunks of one segment each). The
// orientation and the carried Exif come from the same block. A TIFF gives
// the orientation of its first IFD. The size of frame 0 is read from a
// JPEG's first frame header and from the headers of PNG, GIF, BMP and TIFF
// (FrameSize.h). Nothing outside the file is read, and every other file
// gives an empty record.
#pragma once

#include "PhotoFile.h"
#include "Splice.h"

#include <cstdint>

enum PhotoKind
{
    PHOTO_OTHER,
    PHOTO_JPEG,
    PHOTO_TIFF,
    PHOTO_PNG,
    PHOTO_GIF,
    PHOTO_BMP,
};

struct PhotoHeader
{
    PhotoKind kind;
    uint32_t orientation;       // 1 to 8; 1 when nothing says otherwise
    bool frameFound;            // the size of frame 0 was read (JPEG: a frame header lay before the scan)
    uint32_t frameWidth, frameHeight, frameComponents; // frame 0's; components from a JPEG's frame header only
    bool frameTooLarge;         // JPEG: some frame header before the scan promises too much (JpegFrameTooLarge)
    CarriedBlocks blocks;       // JPEG: what a JPEG copy carries
};

// True when a frame of width x height x components decoded bytes passes
// what one CopyPixels can be given (its buffer size is 32 bits). A decoder
// may decode the whole frame when it is created, into a buffer whose size
// wraps, so such a file must never reach one.
bool JpegFrameTooLarge(uint32_t width, uint32_t height, uint32_t components);

void ReadPhotoHeader(PhotoFile *file, PhotoHeader *header, size_t bufferBytes = READ_BUFFER_BYTES);
