// The size of frame 0 from the header of a PNG, GIF, BMP or TIFF file (a
// JPEG's comes from its marker walk, PhotoHeader.cpp), so that what a decode
// will take is known before any decoder opens the file: a file's own size
// says nothing (a PNG can compress a thousandfold).
//
// Promises: each reader reads only what its container puts first (a GIF:
// its blocks up to the first image descriptor; a TIFF: its header and
// first IFD), through reads that are checked against the file's size, and
// answers false, with both sides 0, for anything it cannot read or that
// is not its container. Sides are as stored, never negative.
#pragma once

#include "PhotoFile.h"

#include <cstdint>

// The first bytes a reader needs to recognise its container.
bool IsPngSignature(const uint8_t *start, size_t size);
bool IsGifSignature(const uint8_t *start, size_t size);
bool IsBmpSignature(const uint8_t *start, size_t size);

// IHDR, which a PNG must put first.
bool ReadPngFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height);

// The logical screen, widened to hold the first image's rectangle where
// it reaches past it.
bool ReadGifFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height);

// The info header's width and height (a top-down bitmap's negative height
// counts by its size).
bool ReadBmpFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height);

// ImageWidth and ImageLength of the first IFD.
bool ReadTiffFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height);
