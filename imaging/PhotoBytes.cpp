#include "PhotoBytes.h"

#include <stdlib.h>
#include <string.h>

namespace
{
const BYTE MARKER_SOI = 0xD8;
const BYTE MARKER_EOI = 0xD9;
const BYTE MARKER_SOS = 0xDA;

// Markers that stand alone, without a length: TEM and the restart markers.
bool IsStandaloneMarker(BYTE marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

bool ReadExactly(HANDLE file, void *buffer, DWORD bytes)
{
    DWORD read = 0;
    return ReadFile(file, buffer, bytes, &read, NULL) && read == bytes;
}

// A growing byte buffer that never passes its limit.
struct HeaderBuffer
{
    BYTE *data;
    size_t size;
    size_t capacity;
    size_t limit;
};

BYTE *Extend(HeaderBuffer *buffer, size_t bytes)
{
    if (bytes > buffer->limit - buffer->size)
        return NULL;
    if (buffer->size + bytes > buffer->capacity)
    {
        size_t capacity = buffer->capacity ? buffer->capacity : 65536;
        while (capacity < buffer->size + bytes)
            capacity = capacity > buffer->limit / 2 ? buffer->limit : capacity * 2;
        BYTE *grown = static_cast<BYTE *>(realloc(buffer->data, capacity));
        if (!grown)
            return NULL;
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    BYTE *end = buffer->data + buffer->size;
    buffer->size += bytes;
    return end;
}

// Reads the next marker byte, skipping the fill bytes (0xFF) that may pad
// the gap before it.
bool ReadMarker(HANDLE file, BYTE *marker)
{
    BYTE byte = 0;
    if (!ReadExactly(file, &byte, 1) || byte != 0xFF)
        return false;
    do
    {
        if (!ReadExactly(file, &byte, 1))
            return false;
    } while (byte == 0xFF);
    *marker = byte;
    return true;
}

HRESULT ReadSegments(HANDLE file, HeaderBuffer *buffer)
{
    BYTE start[2];
    if (!ReadExactly(file, start, 2) || start[0] != 0xFF || start[1] != MARKER_SOI)
        return E_FAIL;
    BYTE *soi = Extend(buffer, 2);
    if (!soi)
        return E_OUTOFMEMORY;
    memcpy(soi, start, 2);
    for (;;)
    {
        BYTE marker = 0, length[2];
        if (!ReadMarker(file, &marker) || marker == MARKER_EOI || marker == MARKER_SOI || IsStandaloneMarker(marker))
            return E_FAIL;
        if (marker == MARKER_SOS)
            return S_OK;
        if (!ReadExactly(file, length, 2))
            return E_FAIL;
        const DWORD segmentLength = static_cast<DWORD>(length[0]) << 8 | length[1];
        if (segmentLength < 2)
            return E_FAIL;
        BYTE *segment = Extend(buffer, 2 + static_cast<size_t>(segmentLength));
        if (!segment)
            return E_OUTOFMEMORY;
        segment[0] = 0xFF;
        segment[1] = marker;
        segment[2] = length[0];
        segment[3] = length[1];
        if (!ReadExactly(file, segment + 4, segmentLength - 2))
            return E_FAIL;
    }
}
} // namespace

HRESULT ReadJpegHeader(const wchar_t *path, size_t maxBytes, BYTE **header, size_t *size)
{
    *header = NULL;
    *size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    HeaderBuffer buffer = {NULL, 0, 0, maxBytes};
    HRESULT hr = ReadSegments(file, &buffer);
    CloseHandle(file);
    if (FAILED(hr))
    {
        free(buffer.data);
        return hr;
    }
    *header = buffer.data;
    *size = buffer.size;
    return S_OK;
}

bool NextJpegSegment(const BYTE *header, size_t size, size_t *position, JpegSegment *segment)
{
    size_t p = *position;
    if (p == 0)
    {
        if (size < 2 || header[0] != 0xFF || header[1] != MARKER_SOI)
            return false;
        p = 2;
    }
    // Fill bytes may pad the gap before a marker.
    while (p + 1 < size && header[p] == 0xFF && header[p + 1] == 0xFF)
        ++p;
    if (p >= size || size - p < 4 || header[p] != 0xFF)
        return false;
    const BYTE marker = header[p + 1];
    if (marker == MARKER_SOS || marker == MARKER_EOI || marker == MARKER_SOI || IsStandaloneMarker(marker))
        return false;
    const size_t length = static_cast<size_t>(header[p + 2]) << 8 | header[p + 3];
    if (length < 2 || length > size - p - 2)
        return false;
    segment->marker = marker;
    segment->start = p;
    segment->payload = p + 4;
    segment->payloadLength = length - 2;
    *position = p + 2 + length;
    return true;
}

bool SegmentStartsWith(const BYTE *header, const JpegSegment &segment, const char *signature, size_t length)
{
    return segment.payloadLength >= length && memcmp(header + segment.payload, signature, length) == 0;
}

bool OpenTiffView(const BYTE *data, size_t size, TiffView *view, DWORD *firstIfd)
{
    if (size < 8)
        return false;
    if (data[0] == 'I' && data[1] == 'I')
        view->bigEndian = false;
    else if (data[0] == 'M' && data[1] == 'M')
        view->bigEndian = true;
    else
        return false;
    view->data = data;
    view->base = 0;
    view->size = size;
    WORD magic = 0;
    return ReadTiffShort(*view, 2, &magic) && magic == 42 && ReadTiffLong(*view, 4, firstIfd);
}

// True when [offset, offset + bytes) lies inside the view.
static bool Holds(const TiffView &view, size_t offset, size_t bytes)
{
    return offset >= view.base && offset - view.base <= view.size && bytes <= view.size - (offset - view.base);
}

bool ReadTiffShort(const TiffView &view, size_t offset, WORD *value)
{
    if (!Holds(view, offset, 2))
        return false;
    const BYTE *p = view.data + (offset - view.base);
    *value = view.bigEndian ? static_cast<WORD>(p[0] << 8 | p[1]) : static_cast<WORD>(p[1] << 8 | p[0]);
    return true;
}

bool ReadTiffLong(const TiffView &view, size_t offset, DWORD *value)
{
    if (!Holds(view, offset, 4))
        return false;
    const BYTE *p = view.data + (offset - view.base);
    *value = view.bigEndian ? (static_cast<DWORD>(p[0]) << 24 | static_cast<DWORD>(p[1]) << 16 | p[2] << 8 | p[3])
                            : (static_cast<DWORD>(p[3]) << 24 | static_cast<DWORD>(p[2]) << 16 | p[1] << 8 | p[0]);
    return true;
}

size_t IfdBytes(WORD count)
{
    return 2 + static_cast<size_t>(count) * 12 + 4;
}

bool ReadIfdCount(const TiffView &view, size_t ifdOffset, WORD *count)
{
    return ReadTiffShort(view, ifdOffset, count) && Holds(view, ifdOffset, IfdBytes(*count));
}

// Bytes of one value of a TIFF field type, 0 for types this reader does not know.
static size_t TypeBytes(WORD type)
{
    static const BYTE sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < sizeof(sizes) ? sizes[type] : 0;
}

bool ReadIfdEntry(const TiffView &view, size_t ifdOffset, WORD index, TiffEntry *entry)
{
    const size_t at = IfdEntryOffset(ifdOffset, index);
    if (!ReadTiffShort(view, at, &entry->tag) || !ReadTiffShort(view, at + 2, &entry->type) ||
        !ReadTiffLong(view, at + 4, &entry->count))
        return false;
    const size_t typeBytes = TypeBytes(entry->type);
    // count x type size in 64 bits: a huge count must not wrap into a small size.
    const unsigned long long bytes = static_cast<unsigned long long>(entry->count) * typeBytes;
    if (bytes > 0xFFFFFFFFull)
        return false;
    entry->valueBytes = static_cast<size_t>(bytes);
    if (entry->valueBytes <= 4)
    {
        entry->valueOffset = at + 8;
        return true;
    }
    DWORD offset = 0;
    if (!ReadTiffLong(view, at + 8, &offset))
        return false;
    entry->valueOffset = offset;
    return true;
}

bool FindIfdEntry(const TiffView &view, size_t ifdOffset, WORD tag, TiffEntry *entry)
{
    WORD count = 0;
    if (!ReadIfdCount(view, ifdOffset, &count))
        return false;
    for (WORD i = 0; i < count; ++i)
    {
        if (!ReadIfdEntry(view, ifdOffset, i, entry))
            return false;
        if (entry->tag == tag)
            return true;
    }
    return false;
}

bool ReadIntegerValue(const TiffView &view, const TiffEntry &entry, DWORD *value)
{
    return ReadIntegerValueAt(view, entry, 0, value);
}

bool ReadIntegerValueAt(const TiffView &view, const TiffEntry &entry, DWORD index, DWORD *value)
{
    const size_t typeBytes = TypeBytes(entry.type);
    if (index >= entry.count || typeBytes == 0 || !Holds(view, entry.valueOffset, entry.valueBytes))
        return false;
    // index < count and count x typeBytes fits the view, so this stays inside it.
    const size_t at = entry.valueOffset + static_cast<size_t>(index) * typeBytes;
    WORD shortValue = 0;
    switch (entry.type)
    {
    case 1: // BYTE
    case 6: // SBYTE
        *value = view.data[at - view.base];
        return true;
    case 3: // SHORT
    case 8: // SSHORT
        if (!ReadTiffShort(view, at, &shortValue))
            return false;
        *value = shortValue;
        return true;
    case 4: // LONG
    case 9: // SLONG
        return ReadTiffLong(view, at, value);
    default:
        return false;
    }
}

bool WriteTiffShort(BYTE *data, const TiffView &view, size_t offset, WORD value)
{
    if (!Holds(view, offset, 2))
        return false;
    BYTE *p = data + (offset - view.base);
    p[view.bigEndian ? 0 : 1] = static_cast<BYTE>(value >> 8);
    p[view.bigEndian ? 1 : 0] = static_cast<BYTE>(value);
    return true;
}

bool WriteTiffLong(BYTE *data, const TiffView &view, size_t offset, DWORD value)
{
    if (!Holds(view, offset, 4))
        return false;
    BYTE *p = data + (offset - view.base);
    for (int i = 0; i < 4; ++i)
        p[view.bigEndian ? 3 - i : i] = static_cast<BYTE>(value >> (8 * i));
    return true;
}

size_t IfdEntryOffset(size_t ifdOffset, WORD index)
{
    return ifdOffset + 2 + static_cast<size_t>(index) * 12;
}

bool WriteIfdEntryInteger(BYTE *data, const TiffView &view, size_t entryOffset, WORD type, DWORD value)
{
    if ((type != 3 && type != 4) || (type == 3 && value > 0xFFFF) || !Holds(view, entryOffset, 12))
        return false;
    // A SHORT sits in the first two bytes of the value field; the rest is zero.
    return WriteTiffShort(data, view, entryOffset + 2, type) && WriteTiffLong(data, view, entryOffset + 4, 1) &&
           WriteTiffLong(data, view, entryOffset + 8, 0) &&
           (type == 4 ? WriteTiffLong(data, view, entryOffset + 8, value)
                      : WriteTiffShort(data, view, entryOffset + 8, static_cast<WORD>(value)));
}
