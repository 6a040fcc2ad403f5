// Puts what a photo knows (PhotoMetadata) into its resized copy: offered to
// the encoder where it takes it (a profile), else spliced into the encoded
// bytes in memory (photo/Splice.h) before the copy is written.
//
// Promises: the encoded bytes change only by whole blocks inserted at one
// place; with nothing to carry into the container at hand, or encoded
// bytes the splice cannot read, there is no plan and the copy is written
// as the encoder made it: the image, without what could not be carried.
#pragma once

#include "PhotoMetadata.h"

#include "photo/Splice.h"

#include <windows.h>
#include <wincodec.h>

// Offers the input's colour profile to the frame encoder when the output
// is written in the input's own container (PNG or TIFF). Call it before
// the pixels are written. S_FALSE when there is nothing to offer; a
// failure (an encoder that does not take profiles) leaves a PNG's profile
// to the splice.
HRESULT SetEncoderColorProfile(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, REFGUID container,
                               const PhotoMetadata *metadata);

// Where the metadata goes into an encoded copy of the given container whose
// image is width x height:
// - JPEG from a JPEG: the carried segments right after the encoder's APP0
//   (Exif, XMP, ICC), PixelXDimension and PixelYDimension set to the size;
// - PNG from a PNG: an iCCP chunk right after IHDR, unless the encoder
//   already wrote a profile (iCCP) or said sRGB.
// encoded holds the copy's first size bytes, complete says whether they
// are all of it (Splice.h). SPLICE_NOTHING when nothing goes in.
SpliceAnswer PlanMetadataSplice(const uint8_t *encoded, size_t size, bool complete, REFGUID container,
                                const PhotoMetadata *metadata, UINT width, UINT height, SplicePlan *plan);

// Whether a copy in container may get anything spliced into it at all;
// when not, its bytes can go straight to the file.
bool MayNeedMetadataSplice(REFGUID container, const PhotoMetadata *metadata);
