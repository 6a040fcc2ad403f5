// Frames too large to be read in place.
//
// A decoder may compute a row's byte offset in 32 bits (Wine's do, and so
// does Wine's own IWICBitmap): a rectangle that starts more than 2 GiB into
// the frame's pixels then reads from the wrong place and faults, while a
// rectangle that starts at the first row and covers the whole frame is
// copied correctly. A frame whose rows do not all lie within 2 GiB is
// therefore read once, whole, into memory of the program's own, whose
// source computes offsets in 64 bits, and every later pass (preview,
// scaling) reads from there. Smaller frames are read in place, band by
// band, as before.
#pragma once

#include <windows.h>
#include <wincodec.h>

// The largest frame, in bytes, whose every row lies within 2 GiB of its
// first byte.
const unsigned long long LARGEST_IN_PLACE_FRAME_BYTES = 0x7FFFFFFFull;

// The most bytes a width x height frame of bitsPerPixel spans in a
// decoder's memory: rows padded to whole 32-bit words, the widest any
// decoder lays them out. ULLONG_MAX when it does not fit 64 bits.
unsigned long long ComputeFrameSpanBytes(UINT width, UINT height, UINT bitsPerPixel);

// Reads frame whole, with one CopyPixels from its first row, into a
// source of the program's own of the same size, format and resolution.
// Refuses, without reading a pixel, a format that is indexed or whose
// pixels are not whole bytes (WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT) and a
// frame of more bytes than one CopyPixels can be given (its buffer size is
// a UINT; ERROR_ARITHMETIC_OVERFLOW) or than one block of this build may
// hold (2 GiB or more in the 32-bit build; E_OUTOFMEMORY). On failure
// *copy is NULL.
HRESULT CopyWholeFrame(IWICImagingFactory *factory, IWICBitmapSource *frame, IWICBitmapSource **copy);

// For a frame past LARGEST_IN_PLACE_FRAME_BYTES, CopyWholeFrame; for any
// other, S_OK with *copy NULL: the frame is read in place.
HRESULT CopyFrameIfTooLarge(IWICImagingFactory *factory, IWICBitmapSource *frame, IWICBitmapSource **copy);

// The source to read a decoded frame's pixels from: the frame itself, or
// its own copy when it is too large to be read in place. Once the copy is
// made, the frame and its decoder are released (both become NULL), so that
// two such frames are alive only while the copy is made. On failure
// *pixels is NULL.
HRESULT TakePixelSource(IWICImagingFactory *factory, IWICBitmapDecoder **decoder, IWICBitmapFrameDecode **frame,
                        IWICBitmapSource **pixels);
