// Photo orientation: the program's own turning of a small image into the
// position its file asks for (the Exif Orientation tag, 1 to 8, as the one
// reading of the file's header gives it: photo/PhotoHeader.h).
//
// Promises: turning keeps exactly one extra image's worth of memory, and
// only when the orientation is not 1.
#pragma once

#include "photo/Tiff.h"

#include <windows.h>
#include <wincodec.h>

#include <stddef.h>

// True for the orientations (5 to 8) that show the stored width as height.
bool OrientationSwapsSides(UINT orientation);

// A copy of source (32 bits per pixel) turned and mirrored as orientation
// says, so that it shows upright with no tag. Sides and resolutions swap
// for orientations 5 to 8. The source is read in bands of rows.
HRESULT CreateOrientedSource(IWICBitmapSource *source, UINT orientation, IWICBitmapSource **oriented);
