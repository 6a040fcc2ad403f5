// Photo orientation: which way up a frame's stored pixels are meant to be
// shown (the Exif Orientation tag, 1 to 8), read from the file's own bytes,
// and the program's own turning of a small image into that position.
//
// Promises: a missing, malformed or out-of-range tag reads as 1; nothing
// outside the bytes read is ever looked at. Turning keeps exactly one
// extra image's worth of memory, and only when the orientation is not 1.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <stddef.h>

const UINT ORIENTATION_UPRIGHT = 1;

// The orientation in the Exif block (APP1 "Exif\0\0", IFD0 tag 0x0112) of
// a JPEG header as ReadJpegHeader gives it.
UINT ParseJpegOrientation(const BYTE *header, size_t size);

// The orientation in IFD0 of a TIFF structure held whole in memory.
UINT ParseTiffOrientation(const BYTE *tiff, size_t size);

// The orientation a file of the given container asks for: read from a JPEG
// file's header or a TIFF file's first IFD; 1 for every other container.
UINT ReadFileOrientation(const wchar_t *path, REFGUID container);

// True for the orientations (5 to 8) that show the stored width as height.
bool OrientationSwapsSides(UINT orientation);

// A copy of source (32 bits per pixel) turned and mirrored as orientation
// says, so that it shows upright with no tag. Sides and resolutions swap
// for orientations 5 to 8. The source is read in bands of rows.
HRESULT CreateOrientedSource(IWICBitmapSource *source, UINT orientation, IWICBitmapSource **oriented);
