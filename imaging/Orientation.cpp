#include "Orientation.h"

#include "OwnBitmapSources.h"

#include <stdlib.h>
#include <string.h>

namespace
{
// Rows of the source pulled per CopyPixels while turning.
const UINT TURN_BAND_ROWS = 64;

// Where the pixels of one source row land in the turned image: the first
// pixel's index and the step from one pixel to the next. The turned image
// is one block (ComputeImageBytes), so every index fits a ptrdiff_t.
void LocateTurnedRow(UINT orientation, UINT width, UINT height, UINT y, ptrdiff_t *first, ptrdiff_t *step)
{
    const ptrdiff_t w = width, h = height, row = y;
    switch (orientation)
    {
    case 2: *first = row * w + w - 1; *step = -1; break;            // mirrored left to right
    case 3: *first = (h - 1 - row) * w + w - 1; *step = -1; break;  // turned half round
    case 4: *first = (h - 1 - row) * w; *step = 1; break;           // mirrored top to bottom
    case 5: *first = row; *step = h; break;                         // mirrored along the diagonal
    case 6: *first = h - 1 - row; *step = h; break;                 // turned a quarter clockwise
    case 7: *first = (w - 1) * h + h - 1 - row; *step = -h; break;  // mirrored along the other diagonal
    case 8: *first = (w - 1) * h + row; *step = -h; break;          // turned a quarter anticlockwise
    default: *first = row * w; *step = 1; break;
    }
}
} // namespace

bool OrientationSwapsSides(UINT orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Copies the rows [y, y + rows) of band (the source's own rows, width
// pixels each) to where the turn puts them in pixels.
static void TurnBand(UINT orientation, const SourceLayout &layout, UINT y, UINT rows, const BYTE *band, BYTE *pixels)
{
    DWORD *to = reinterpret_cast<DWORD *>(pixels);
    for (UINT row = 0; row < rows; ++row)
    {
        ptrdiff_t first = 0, step = 0;
        LocateTurnedRow(orientation, layout.width, layout.height, y + row, &first, &step);
        const DWORD *from = reinterpret_cast<const DWORD *>(band + static_cast<size_t>(row) * layout.width * 4);
        for (UINT x = 0; x < layout.width; ++x)
            to[first + static_cast<ptrdiff_t>(x) * step] = from[x];
    }
}

HRESULT CreateOrientedSource(IWICBitmapSource *source, UINT orientation, IWICBitmapSource **oriented)
{
    IWICBitmapSource *turned = NULL;
    BYTE *pixels = NULL, *band = NULL;
    SourceLayout layout;
    size_t bandBytes = 0;
    const bool swaps = OrientationSwapsSides(orientation);

    *oriented = NULL;
    HRESULT hr = ReadSourceLayout(source, &layout);
    if (FAILED(hr))
        goto Cleanup;
    if (!ComputeImageBytes(layout.width, TURN_BAND_ROWS, 4, &bandBytes) || bandBytes > UINT32_MAX)
    {
        hr = E_OUTOFMEMORY;
        goto Cleanup;
    }
    hr = CreateMemoryBitmapSource(swaps ? layout.height : layout.width, swaps ? layout.width : layout.height,
                                  layout.format, 4, swaps ? layout.dpiY : layout.dpiX, swaps ? layout.dpiX : layout.dpiY,
                                  &turned, &pixels);
    if (FAILED(hr))
        goto Cleanup;
    band = static_cast<BYTE *>(malloc(bandBytes ? bandBytes : 1));
    if (!band)
    {
        hr = E_OUTOFMEMORY;
        goto Cleanup;
    }
    for (UINT y = 0; y < layout.height; y += TURN_BAND_ROWS)
    {
        const UINT rows = layout.height - y < TURN_BAND_ROWS ? layout.height - y : TURN_BAND_ROWS;
        const WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(layout.width), static_cast<INT>(rows)};
        hr = source->CopyPixels(&rect, layout.width * 4, static_cast<UINT>(bandBytes), band);
        if (FAILED(hr))
            goto Cleanup;
        TurnBand(orientation, layout, y, rows, band, pixels);
    }
    *oriented = turned;
    turned = NULL;

Cleanup:
    free(band);
    if (turned)
        turned->Release();
    return hr;
}
