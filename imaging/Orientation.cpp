#include "Orientation.h"

#include "OwnBitmapSources.h"
#include "PhotoBytes.h"

#include <stdlib.h>
#include <string.h>

namespace
{
const WORD TAG_ORIENTATION = 0x0112;

// A JPEG header holds at most a few 64 KiB segments before its scan; this
// bounds what a damaged file can make the reader take.
const size_t MAX_JPEG_HEADER_BYTES = 16 * 1024 * 1024;

// Rows of the source pulled per CopyPixels while turning.
const UINT TURN_BAND_ROWS = 64;

UINT ValidOrientation(const TiffView &view, DWORD firstIfd)
{
    TiffEntry entry;
    DWORD value = 0;
    if (!FindIfdEntry(view, firstIfd, TAG_ORIENTATION, &entry) || !ReadIntegerValue(view, entry, &value))
        return ORIENTATION_UPRIGHT;
    return value >= 1 && value <= 8 ? value : ORIENTATION_UPRIGHT;
}

bool ReadAt(HANDLE file, DWORD offset, void *buffer, DWORD bytes)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD read = 0;
    return ReadFile(file, buffer, bytes, &read, &at) && read == bytes;
}

// A TIFF file's first IFD lies anywhere in the file, often after the
// pixels; only its header and that one IFD are read.
UINT ReadTiffFileOrientation(HANDLE file)
{
    BYTE header[8];
    TiffView view;
    DWORD firstIfd = 0;
    if (!ReadAt(file, 0, header, sizeof(header)) || !OpenTiffView(header, sizeof(header), &view, &firstIfd))
        return ORIENTATION_UPRIGHT;
    BYTE countBytes[2];
    if (!ReadAt(file, firstIfd, countBytes, 2))
        return ORIENTATION_UPRIGHT;
    const WORD count = view.bigEndian ? static_cast<WORD>(countBytes[0] << 8 | countBytes[1])
                                      : static_cast<WORD>(countBytes[1] << 8 | countBytes[0]);
    const size_t bytes = IfdBytes(count); // at most 2 + 65535 x 12 + 4
    BYTE *ifd = static_cast<BYTE *>(malloc(bytes));
    if (!ifd)
        return ORIENTATION_UPRIGHT;
    UINT orientation = ORIENTATION_UPRIGHT;
    if (ReadAt(file, firstIfd, ifd, static_cast<DWORD>(bytes)))
    {
        const TiffView window = {ifd, firstIfd, bytes, view.bigEndian};
        orientation = ValidOrientation(window, firstIfd);
    }
    free(ifd);
    return orientation;
}

// Where the pixels of one source row land in the turned image: the first
// pixel's index and the step from one pixel to the next.
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

UINT ParseTiffOrientation(const BYTE *tiff, size_t size)
{
    TiffView view;
    DWORD firstIfd = 0;
    if (!OpenTiffView(tiff, size, &view, &firstIfd))
        return ORIENTATION_UPRIGHT;
    return ValidOrientation(view, firstIfd);
}

UINT ParseJpegOrientation(const BYTE *header, size_t size)
{
    static const char EXIF_SIGNATURE[] = "Exif\0"; // with its terminator: "Exif\0\0"
    size_t position = 0;
    JpegSegment segment;
    while (NextJpegSegment(header, size, &position, &segment))
    {
        if (segment.marker == 0xE1 && SegmentStartsWith(header, segment, EXIF_SIGNATURE, sizeof(EXIF_SIGNATURE)))
            return ParseTiffOrientation(header + segment.payload + sizeof(EXIF_SIGNATURE),
                                        segment.payloadLength - sizeof(EXIF_SIGNATURE));
    }
    return ORIENTATION_UPRIGHT;
}

UINT ReadFileOrientation(const wchar_t *path, REFGUID container)
{
    UINT orientation = ORIENTATION_UPRIGHT;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg))
    {
        BYTE *header = NULL;
        size_t size = 0;
        if (SUCCEEDED(ReadJpegHeader(path, MAX_JPEG_HEADER_BYTES, &header, &size)))
            orientation = ParseJpegOrientation(header, size);
        free(header);
    }
    else if (IsEqualGUID(container, GUID_ContainerFormatTiff))
    {
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
        {
            orientation = ReadTiffFileOrientation(file);
            CloseHandle(file);
        }
    }
    return orientation;
}

bool OrientationSwapsSides(UINT orientation)
{
    return orientation >= 5 && orientation <= 8;
}

HRESULT CreateOrientedSource(IWICBitmapSource *source, UINT orientation, IWICBitmapSource **oriented)
{
    IWICBitmapSource *turned = NULL;
    BYTE *pixels = NULL, *band = NULL;
    UINT width = 0, height = 0;
    double dpiX = 0.0, dpiY = 0.0;
    size_t bandBytes = 0;
    WICPixelFormatGUID format;
    const bool swaps = OrientationSwapsSides(orientation);

    *oriented = NULL;
    HRESULT hr = source->GetSize(&width, &height);
    if (FAILED(hr))
        goto Cleanup;
    hr = source->GetPixelFormat(&format);
    if (FAILED(hr))
        goto Cleanup;
    hr = source->GetResolution(&dpiX, &dpiY);
    if (FAILED(hr))
        goto Cleanup;
    if (!ComputeImageBytes(width, TURN_BAND_ROWS, 4, &bandBytes) || bandBytes > UINT32_MAX)
    {
        hr = E_OUTOFMEMORY;
        goto Cleanup;
    }
    hr = CreateMemoryBitmapSource(swaps ? height : width, swaps ? width : height, format, 4, swaps ? dpiY : dpiX,
                                  swaps ? dpiX : dpiY, &turned, &pixels);
    if (FAILED(hr))
        goto Cleanup;
    band = static_cast<BYTE *>(malloc(bandBytes ? bandBytes : 1));
    if (!band)
    {
        hr = E_OUTOFMEMORY;
        goto Cleanup;
    }

    for (UINT y = 0; y < height; y += TURN_BAND_ROWS)
    {
        const UINT rows = height - y < TURN_BAND_ROWS ? height - y : TURN_BAND_ROWS;
        const WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        hr = source->CopyPixels(&rect, width * 4, static_cast<UINT>(bandBytes), band);
        if (FAILED(hr))
            goto Cleanup;
        for (UINT row = 0; row < rows; ++row)
        {
            ptrdiff_t first = 0, step = 0;
            LocateTurnedRow(orientation, width, height, y + row, &first, &step);
            const DWORD *from = reinterpret_cast<const DWORD *>(band + static_cast<size_t>(row) * width * 4);
            DWORD *to = reinterpret_cast<DWORD *>(pixels);
            for (UINT x = 0; x < width; ++x)
                to[first + static_cast<ptrdiff_t>(x) * step] = from[x];
        }
    }
    *oriented = turned;
    turned = NULL;

Cleanup:
    free(band);
    if (turned)
        turned->Release();
    return hr;
}
