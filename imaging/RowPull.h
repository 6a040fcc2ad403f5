// How the program asks WIC's sources for pixels, so that each source does
// each row's work once.
//
// A scaler asked for a band of rows may first copy every source row that
// band spans; asked again for the next band, it copies them again. The
// row pull sits in front of such a source and serves any request, whatever
// its shape, from requests of a few full rows each, top to bottom: the
// contiguous horizontal bands in order that the platform's documentation
// recommends for its scaler. How many rows a request asks for was decided
// by measuring (tools/bench): one, under Wine 8.
//
// An encoder given pixels in another format than it answered converts
// them itself, with a new converter for every band handed to it; the
// writer instead makes one converter per file (CreateConverterForEncoder).
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <atomic>

extern std::atomic<UINT> g_rowsPerPull; // rows per request a row pull makes; 0 passes each request on whole. Written only before pipelines run (benchmark, tests)
extern std::atomic<bool> g_convertOnce; // the writer converts once per file; false leaves it to each band's WriteSource. Written only before pipelines run (benchmark, tests)

// A source with inner's size, format, resolution and palette whose
// CopyPixels asks inner for g_rowsPerPull rows at a time (read when it is
// made). Holds its own reference to inner.
HRESULT CreateRowPullSource(IWICBitmapSource *inner, IWICBitmapSource **pulled);

// Where the frame encoder answered SetPixelFormat with another format than
// source's, and an indexed one is not the answer (its palette is the
// encoder's affair), one converter from source to answered, made the way
// WriteSource makes its own so that the bytes written stay the same;
// otherwise source itself, with one more reference. Either way the caller
// releases *converted.
HRESULT CreateConverterForEncoder(IWICImagingFactory *factory, IWICBitmapSource *source,
                                  REFWICPixelFormatGUID answered, IWICBitmapSource **converted);
