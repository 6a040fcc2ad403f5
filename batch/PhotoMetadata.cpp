#include "PhotoMetadata.h"

#include "imaging/ImagingContext.h"
#include "imaging/PhotoBytes.h"

#include <stdlib.h>
#include <string.h>

namespace
{
const BYTE MARKER_APP1 = 0xE1;
const BYTE MARKER_APP2 = 0xE2;

const WORD TAG_STRIP_OFFSETS = 0x0111;
const WORD TAG_ORIENTATION = 0x0112;
const WORD TAG_STRIP_BYTE_COUNTS = 0x0117;
const WORD TAG_THUMBNAIL_OFFSET = 0x0201;
const WORD TAG_THUMBNAIL_LENGTH = 0x0202;
const WORD TAG_EXIF_IFD = 0x8769;
const WORD TAG_GPS_IFD = 0x8825;
const WORD TAG_INTEROP_IFD = 0xA005;
const WORD TAG_PIXEL_X_DIMENSION = 0xA002;
const WORD TAG_PIXEL_Y_DIMENSION = 0xA003;
const WORD TYPE_SHORT = 3;

// Each with its terminator, which the segments carry too.
const char EXIF_SIGNATURE[] = "Exif\0";
const char XMP_SIGNATURE[] = "http://ns.adobe.com/xap/1.0/";
const char ICC_SIGNATURE[] = "ICC_PROFILE";
const size_t ICC_CHUNK_HEADER = sizeof(ICC_SIGNATURE) + 2; // signature, sequence number, chunk count
const size_t ICC_HEADER_BYTES = 128;
const size_t SEGMENT_HEADER = 4; // marker and length
const size_t MAX_SEGMENT_PAYLOAD = 65533;

// 255 full ICC chunks and the rest of a header fit in this.
const size_t MAX_JPEG_HEADER_BYTES = 24 * 1024 * 1024;
const size_t MAX_PROFILE_BYTES = 64 * 1024 * 1024;
const UINT MAX_COLOR_CONTEXTS = 8;
// IFD0, Exif, GPS, Interop and IFD1 are five; a block that links more is not
// one a camera wrote.
const size_t MAX_IFDS = 8;

// The Exif block being edited: its TIFF bytes (a copy the edit may change)
// and, per byte, how many kept and how many dropped structures use it, as
// running differences (+1 where a structure starts, -1 where it ends).
struct ExifEdit
{
    BYTE *tiff;
    TiffView view;
    int *kept;
    int *dropped;
    size_t ifds[MAX_IFDS];
    size_t ifdCount;
    size_t pixelX, pixelY;
};

bool Fits(const ExifEdit &edit, size_t offset, size_t bytes)
{
    return offset <= edit.view.size && bytes <= edit.view.size - offset;
}

void Mark(ExifEdit *edit, size_t offset, size_t bytes, bool kept)
{
    int *uses = kept ? edit->kept : edit->dropped;
    ++uses[offset];
    --uses[offset + bytes];
}

// A region the thumbnail takes: it must lie inside the block.
bool MarkThumbnail(ExifEdit *edit, DWORD offset, DWORD bytes)
{
    if (!Fits(*edit, offset, bytes))
        return false;
    Mark(edit, offset, bytes, false);
    return true;
}

bool MarkStrips(ExifEdit *edit, const TiffEntry &offsets, const TiffEntry &counts)
{
    if (offsets.count != counts.count)
        return false;
    for (DWORD i = 0; i < offsets.count; ++i)
    {
        DWORD offset = 0, bytes = 0;
        if (!ReadIntegerValueAt(edit->view, offsets, i, &offset) || !ReadIntegerValueAt(edit->view, counts, i, &bytes) ||
            !MarkThumbnail(edit, offset, bytes))
            return false;
    }
    return true;
}

// Walks the IFD at offset and, for a kept one, the IFDs it links to. A kept
// IFD's orientation becomes 1 and its pixel dimensions are noted; a dropped
// one (IFD1) marks its thumbnail. *nextAt gets where the next-IFD offset is.
bool WalkIfd(ExifEdit *edit, size_t offset, bool kept, size_t *nextAt)
{
    for (size_t i = 0; i < edit->ifdCount; ++i)
        if (edit->ifds[i] == offset)
            return false; // a loop
    WORD count = 0;
    if (edit->ifdCount == MAX_IFDS || !ReadIfdCount(edit->view, offset, &count))
        return false;
    edit->ifds[edit->ifdCount++] = offset;
    Mark(edit, offset, IfdBytes(count), kept);
    *nextAt = offset + IfdBytes(count) - 4;

    TiffEntry stripOffsets = {}, stripCounts = {}, entry;
    DWORD thumbnailOffset = 0, thumbnailBytes = 0, linked = 0;
    size_t unusedNext = 0;
    for (WORD i = 0; i < count; ++i)
    {
        if (!ReadIfdEntry(edit->view, offset, i, &entry))
            return false;
        if (entry.valueBytes > 4)
        {
            if (!Fits(*edit, entry.valueOffset, entry.valueBytes))
                return false;
            Mark(edit, entry.valueOffset, entry.valueBytes, kept);
        }
        const size_t at = IfdEntryOffset(offset, i);
        if (!kept)
        {
            if (entry.tag == TAG_STRIP_OFFSETS)
                stripOffsets = entry;
            else if (entry.tag == TAG_STRIP_BYTE_COUNTS)
                stripCounts = entry;
            else if (entry.tag == TAG_THUMBNAIL_OFFSET && !ReadIntegerValue(edit->view, entry, &thumbnailOffset))
                return false;
            else if (entry.tag == TAG_THUMBNAIL_LENGTH && !ReadIntegerValue(edit->view, entry, &thumbnailBytes))
                return false;
            continue;
        }
        switch (entry.tag)
        {
        case TAG_ORIENTATION:
            if (!WriteIfdEntryInteger(edit->tiff, edit->view, at, TYPE_SHORT, 1))
                return false;
            break;
        case TAG_PIXEL_X_DIMENSION:
            edit->pixelX = edit->pixelX ? edit->pixelX : at;
            break;
        case TAG_PIXEL_Y_DIMENSION:
            edit->pixelY = edit->pixelY ? edit->pixelY : at;
            break;
        case TAG_EXIF_IFD:
        case TAG_GPS_IFD:
        case TAG_INTEROP_IFD:
            if (!ReadIntegerValue(edit->view, entry, &linked) || !WalkIfd(edit, linked, true, &unusedNext))
                return false;
            break;
        }
    }
    if (!kept && thumbnailBytes && !MarkThumbnail(edit, thumbnailOffset, thumbnailBytes))
        return false;
    return kept || stripOffsets.count == 0 || MarkStrips(edit, stripOffsets, stripCounts);
}

// Edits the Exif TIFF structure in tiff[0, size) in place: orientation 1,
// IFD1 and its thumbnail gone (cut off where they end the block, else
// zeroed where nothing kept shares their bytes). *newSize is what is left.
// False for a malformed block or when memory runs out.
bool EditExif(BYTE *tiff, size_t size, size_t *newSize, size_t *pixelX, size_t *pixelY, bool *bigEndian)
{
    ExifEdit edit = {};
    DWORD firstIfd = 0, next = 0;
    size_t ifd0NextAt = 0, ifd1NextAt = 0, end = 0;
    bool ok = false;
    if (!OpenTiffView(tiff, size, &edit.view, &firstIfd))
        return false;
    edit.tiff = tiff;
    // size is at most a segment's payload, so the counts cannot overflow.
    edit.kept = static_cast<int *>(calloc(2 * (size + 1), sizeof(int)));
    if (!edit.kept)
        return false;
    edit.dropped = edit.kept + size + 1;
    Mark(&edit, 0, 8, true);
    if (!WalkIfd(&edit, firstIfd, true, &ifd0NextAt) || !ReadTiffLong(edit.view, ifd0NextAt, &next))
        goto Cleanup;
    if (next != 0 && !WalkIfd(&edit, next, false, &ifd1NextAt))
        goto Cleanup;
    WriteTiffLong(tiff, edit.view, ifd0NextAt, 0);
    {
        int kept = 0, dropped = 0;
        for (size_t i = 0; i < size; ++i)
        {
            kept += edit.kept[i];
            dropped += edit.dropped[i];
            if (kept == 0 && dropped > 0)
                tiff[i] = 0;
            else
                end = i + 1; // bytes nothing dropped uses stay, referenced or not
        }
    }
    *newSize = end;
    *pixelX = edit.pixelX;
    *pixelY = edit.pixelY;
    *bigEndian = edit.view.bigEndian;
    ok = true;
Cleanup:
    free(edit.kept);
    return ok;
}

bool IsXmlSpace(BYTE c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Sets every tiff:Orientation of an XMP packet, attribute or element, to 1.
// out has room for size + size / 16 + 1 bytes (each rewrite grows the
// packet by at most one byte and needs the 16 bytes of the name). False
// when a value cannot be delimited.
bool RewriteXmpOrientation(const BYTE *packet, size_t size, BYTE *out, size_t *outSize)
{
    static const char NAME[] = "tiff:Orientation";
    const size_t nameLength = sizeof(NAME) - 1;
    size_t p = 0, o = 0;
    while (p < size)
    {
        const bool named = size - p > nameLength && memcmp(packet + p, NAME, nameLength) == 0 &&
                           !(p > 0 && packet[p - 1] == '/');
        if (!named)
        {
            out[o++] = packet[p++];
            continue;
        }
        size_t q = p + nameLength;
        while (q < size && IsXmlSpace(packet[q]))
            ++q;
        size_t value = 0; // where the value starts; 0: nothing to set here
        BYTE close = 0;
        if (q < size && packet[q] == '=')
        {
            ++q;
            while (q < size && IsXmlSpace(packet[q]))
                ++q;
            if (q >= size || (packet[q] != '"' && packet[q] != '\''))
                return false;
            close = packet[q];
            value = q + 1;
        }
        else if (q < size && packet[q] == '>')
        {
            close = '<';
            value = q + 1;
        }
        else if (q == p + nameLength)
        {
            // A longer name, or an empty element: nothing to set.
            memcpy(out + o, packet + p, nameLength);
            o += nameLength;
            p += nameLength;
            continue;
        }
        else
            return false;
        const BYTE *end = value < size ? static_cast<const BYTE *>(memchr(packet + value, close, size - value)) : NULL;
        if (!end)
            return false;
        memcpy(out + o, packet + p, value - p);
        o += value - p;
        out[o++] = '1';
        p = static_cast<size_t>(end - packet);
    }
    *outSize = o;
    return true;
}

// True when the first 20 bytes of a profile of profileSize bytes (at least
// a header's) declare that size and the RGB colour space.
bool IsRgbProfileStart(const BYTE *start, size_t profileSize)
{
    const DWORD declared = static_cast<DWORD>(start[0]) << 24 | static_cast<DWORD>(start[1]) << 16 | start[2] << 8 | start[3];
    return profileSize >= ICC_HEADER_BYTES && declared == profileSize && memcmp(start + 16, "RGB ", 4) == 0;
}

// Writes a segment's marker and length; payloadLength is at most 65533.
BYTE *PutSegmentHeader(BYTE *at, BYTE marker, size_t payloadLength)
{
    at[0] = 0xFF;
    at[1] = marker;
    at[2] = static_cast<BYTE>((payloadLength + 2) >> 8);
    at[3] = static_cast<BYTE>(payloadLength + 2);
    return at + SEGMENT_HEADER;
}

// The ICC chunks of a header, indexed by sequence number less one, when they
// number 1 to n exactly once, all say n, and join into an RGB profile whose
// size field agrees with them. *count is n, or 0 when none are carried.
void FindIccChunks(const BYTE *header, size_t size, JpegSegment (&chunks)[255], UINT *count, size_t *bytes)
{
    size_t position = 0, profileSize = 0;
    UINT found = 0, total = 0;
    JpegSegment segment;
    *count = 0;
    *bytes = 0;
    while (NextJpegSegment(header, size, &position, &segment))
    {
        if (segment.marker != MARKER_APP2 || !SegmentStartsWith(header, segment, ICC_SIGNATURE, sizeof(ICC_SIGNATURE)))
            continue;
        if (segment.payloadLength < ICC_CHUNK_HEADER)
            return;
        const UINT sequence = header[segment.payload + ICC_CHUNK_HEADER - 2];
        const UINT chunkCount = header[segment.payload + ICC_CHUNK_HEADER - 1];
        if (found == 0)
            total = chunkCount;
        if (chunkCount != total || sequence == 0 || sequence > total || chunks[sequence - 1].payload != 0)
            return;
        chunks[sequence - 1] = segment;
        ++found;
        profileSize += segment.payloadLength - ICC_CHUNK_HEADER;
    }
    if (found == 0 || found != total)
        return;
    // The profile header's first 20 bytes may be spread over small chunks.
    BYTE start[20];
    size_t have = 0;
    for (UINT i = 0; i < total && have < sizeof(start); ++i)
    {
        const size_t data = chunks[i].payloadLength - ICC_CHUNK_HEADER;
        const size_t take = data < sizeof(start) - have ? data : sizeof(start) - have;
        memcpy(start + have, header + chunks[i].payload + ICC_CHUNK_HEADER, take);
        have += take;
    }
    if (have < sizeof(start) || !IsRgbProfileStart(start, profileSize))
        return;
    *count = total;
    for (UINT i = 0; i < total; ++i)
        *bytes += SEGMENT_HEADER + chunks[i].payloadLength;
}

HRESULT ReadFrameProfile(IWICImagingFactory *factory, IWICBitmapFrameDecode *frame, BYTE **profile, size_t *size)
{
    IWICColorContext *contexts[MAX_COLOR_CONTEXTS] = {};
    BYTE *bytes = NULL;
    UINT count = 0, returned = 0;

    HRESULT hr = frame->GetColorContexts(0, NULL, &count);
    if (FAILED(hr) || count == 0)
        goto Cleanup;
    count = count < MAX_COLOR_CONTEXTS ? count : MAX_COLOR_CONTEXTS;
    for (UINT i = 0; i < count; ++i)
    {
        hr = factory->CreateColorContext(&contexts[i]);
        if (FAILED(hr))
            goto Cleanup;
    }
    hr = frame->GetColorContexts(count, contexts, &returned);
    if (FAILED(hr))
        goto Cleanup;
    for (UINT i = 0; i < returned && i < count && !*profile; ++i)
    {
        WICColorContextType type = WICColorContextUninitialized;
        UINT length = 0, actual = 0;
        if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile ||
            FAILED(contexts[i]->GetProfileBytes(0, NULL, &length)) || length < ICC_HEADER_BYTES ||
            length > MAX_PROFILE_BYTES)
            continue;
        bytes = static_cast<BYTE *>(malloc(length));
        if (!bytes)
        {
            hr = E_OUTOFMEMORY;
            goto Cleanup;
        }
        if (SUCCEEDED(contexts[i]->GetProfileBytes(length, bytes, &actual)) && actual == length &&
            IsRgbProfileStart(bytes, length))
        {
            *profile = bytes;
            *size = length;
            bytes = NULL;
        }
        free(bytes);
        bytes = NULL;
    }

Cleanup:
    free(bytes);
    for (UINT i = 0; i < MAX_COLOR_CONTEXTS; ++i)
        SafeRelease(&contexts[i]);
    return hr;
}
} // namespace

void InitPhotoMetadata(PhotoMetadata *metadata)
{
    ZeroMemory(metadata, sizeof(*metadata));
}

void FreePhotoMetadata(PhotoMetadata *metadata)
{
    free(metadata->jpegSegments);
    free(metadata->profile);
    InitPhotoMetadata(metadata);
}

bool HasPhotoMetadata(const PhotoMetadata *metadata)
{
    return metadata && (metadata->jpegSegmentsSize > 0 || metadata->profileSize > 0);
}

HRESULT CollectJpegMetadata(const BYTE *header, size_t size, PhotoMetadata *metadata)
{
    JpegSegment exif = {}, xmp = {}, segment;
    JpegSegment chunks[255] = {};
    size_t position = 0, iccBytes = 0, xmpRoom = 0, length = 0, used = 0;
    UINT iccCount = 0;
    BYTE *out = NULL;

    while (NextJpegSegment(header, size, &position, &segment))
    {
        if (segment.marker != MARKER_APP1)
            continue;
        if (!exif.payload && SegmentStartsWith(header, segment, EXIF_SIGNATURE, sizeof(EXIF_SIGNATURE)))
            exif = segment;
        else if (!xmp.payload && SegmentStartsWith(header, segment, XMP_SIGNATURE, sizeof(XMP_SIGNATURE)))
            xmp = segment;
    }
    FindIccChunks(header, size, chunks, &iccCount, &iccBytes);
    if (!exif.payload && !xmp.payload && iccCount == 0)
        return S_OK;

    // Every piece is bounded by the header it comes from, at most a few
    // dozen MiB, so these sums cannot wrap.
    xmpRoom = xmp.payload ? SEGMENT_HEADER + xmp.payloadLength + xmp.payloadLength / 16 + 1 : 0;
    length = (exif.payload ? SEGMENT_HEADER + exif.payloadLength : 0) + xmpRoom + iccBytes;
    out = static_cast<BYTE *>(malloc(length));
    if (!out)
        return E_OUTOFMEMORY;

    if (exif.payload)
    {
        // Edited in place in the output; a malformed block is simply overwritten by what follows.
        BYTE *tiff = out + SEGMENT_HEADER + sizeof(EXIF_SIGNATURE);
        const size_t tiffSize = exif.payloadLength - sizeof(EXIF_SIGNATURE);
        size_t kept = 0, pixelX = 0, pixelY = 0;
        bool bigEndian = false;
        memcpy(tiff, header + exif.payload + sizeof(EXIF_SIGNATURE), tiffSize);
        if (EditExif(tiff, tiffSize, &kept, &pixelX, &pixelY, &bigEndian))
        {
            PutSegmentHeader(out, MARKER_APP1, sizeof(EXIF_SIGNATURE) + kept);
            memcpy(out + SEGMENT_HEADER, EXIF_SIGNATURE, sizeof(EXIF_SIGNATURE));
            metadata->exifTiff = SEGMENT_HEADER + sizeof(EXIF_SIGNATURE);
            metadata->exifTiffSize = kept;
            metadata->exifBigEndian = bigEndian;
            metadata->pixelXEntry = pixelX;
            metadata->pixelYEntry = pixelY;
            used = SEGMENT_HEADER + sizeof(EXIF_SIGNATURE) + kept;
        }
    }
    if (xmp.payload)
    {
        BYTE *payload = out + used + SEGMENT_HEADER;
        size_t rewritten = 0;
        memcpy(payload, XMP_SIGNATURE, sizeof(XMP_SIGNATURE));
        if (RewriteXmpOrientation(header + xmp.payload + sizeof(XMP_SIGNATURE), xmp.payloadLength - sizeof(XMP_SIGNATURE),
                                  payload + sizeof(XMP_SIGNATURE), &rewritten) &&
            sizeof(XMP_SIGNATURE) + rewritten <= MAX_SEGMENT_PAYLOAD)
        {
            PutSegmentHeader(out + used, MARKER_APP1, sizeof(XMP_SIGNATURE) + rewritten);
            used += SEGMENT_HEADER + sizeof(XMP_SIGNATURE) + rewritten;
        }
    }
    // The chunks byte for byte, in the order of their numbers.
    for (UINT i = 0; i < iccCount; ++i)
    {
        memcpy(out + used, header + chunks[i].start, SEGMENT_HEADER + chunks[i].payloadLength);
        used += SEGMENT_HEADER + chunks[i].payloadLength;
    }
    if (used == 0)
    {
        free(out);
        return S_OK;
    }
    metadata->jpegSegments = out;
    metadata->jpegSegmentsSize = used;
    return S_OK;
}

HRESULT GatherPhotoMetadata(IWICImagingFactory *factory, const wchar_t *path, REFGUID container,
                            IWICBitmapFrameDecode *frame, PhotoMetadata *metadata)
{
    BYTE *header = NULL;
    size_t size = 0;
    HRESULT hr = S_OK;

    InitPhotoMetadata(metadata);
    metadata->container = container;
    if (IsEqualGUID(container, GUID_ContainerFormatJpeg))
    {
        hr = ReadJpegHeader(path, MAX_JPEG_HEADER_BYTES, &header, &size);
        if (SUCCEEDED(hr))
            hr = CollectJpegMetadata(header, size, metadata);
        free(header);
    }
    else if (IsEqualGUID(container, GUID_ContainerFormatPng) || IsEqualGUID(container, GUID_ContainerFormatTiff))
        hr = ReadFrameProfile(factory, frame, &metadata->profile, &metadata->profileSize);
    return hr;
}
