// Puts what a photo knows (PhotoMetadata) into its resized copy, while the
// copy is still the writer's temporary file.
//
// Promises: the encoded file changes only as a whole. The new version is
// written beside it and moved over it, so after any failure the encoded
// file is exactly as the encoder left it: the image, without what could not
// be carried. With nothing to carry into the container at hand, the file
// is not touched, and its bytes are the encoder's own.
#pragma once

#include "PhotoMetadata.h"

#include "photo/Splice.h"

#include <windows.h>
#include <wincodec.h>

// Offers the input's colour profile to the frame encoder when the output
// is written in the input's own container (PNG or TIFF). Call it before
// the pixels are written. S_FALSE when there is nothing to offer; a
// failure (an encoder that does not take profiles) leaves a PNG's profile
// to SpliceMetadataIntoFile.
HRESULT SetEncoderColorProfile(IWICImagingFactory *factory, IWICBitmapFrameEncode *frame, REFGUID container,
                               const PhotoMetadata *metadata);

// Rewrites encodedPath, a finished file of the given container whose image
// is width x height, with the metadata in it:
// - JPEG from a JPEG: the carried segments right after the encoder's APP0
//   (Exif, XMP, ICC), PixelXDimension and PixelYDimension set to the size;
// - PNG from a PNG: an iCCP chunk right after IHDR, unless the encoder
//   already wrote a profile (iCCP) or said sRGB.
// The new version is made as a temporary file named by tempPrefix in the
// same folder. S_FALSE when there was nothing to put in.
HRESULT SpliceMetadataIntoFile(const wchar_t *encodedPath, const wchar_t *tempPrefix, REFGUID container,
                               PhotoMetadata *metadata, UINT width, UINT height);

// Where the metadata goes into an encoded copy of the given container
// (photo/Splice.h). False when nothing goes in.
bool PlanMetadataSplice(const uint8_t *encoded, size_t size, REFGUID container, const PhotoMetadata *metadata,
                        UINT width, UINT height, SplicePlan *plan);
