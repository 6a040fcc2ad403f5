// The TIFF view (Tiff.h).
#include "Tiff.h"

#include <vector>

bool OpenTiff(const uint8_t *data, size_t size, ByteView *view, uint32_t *firstIfd)
{
    if (size < 8 || data[0] != data[1] || (data[0] != 'I' && data[0] != 'M'))
        return false;
    *view = MakeByteView(data, size, data[0] == 'M');
    uint16_t magic = 0;
    return ReadU16(*view, 2, &magic) && magic == 42 && ReadU32(*view, 4, firstIfd);
}

size_t IfdBytes(uint16_t count)
{
    return 2 + static_cast<size_t>(count) * 12 + 4;
}

size_t IfdEntryOffset(size_t ifdOffset, uint16_t index)
{
    return ifdOffset + 2 + static_cast<size_t>(index) * 12;
}

bool ReadIfdCount(const ByteView &view, size_t ifdOffset, uint16_t *count)
{
    return ReadU16(view, ifdOffset, count) && ViewHolds(view, ifdOffset, IfdBytes(*count));
}

// Bytes of one value of a field type, 0 for types this reader does not know.
static size_t TypeBytes(uint16_t type)
{
    static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < sizeof(sizes) ? sizes[type] : 0;
}

bool ReadIfdEntry(const ByteView &view, size_t ifdOffset, uint16_t index, TiffEntry *entry)
{
    const size_t at = IfdEntryOffset(ifdOffset, index);
    if (!ReadU16(view, at, &entry->tag) || !ReadU16(view, at + 2, &entry->type) || !ReadU32(view, at + 4, &entry->count))
        return false;
    // In 64 bits: a huge count must not wrap into a small size.
    const uint64_t bytes = static_cast<uint64_t>(entry->count) * TypeBytes(entry->type);
    if (bytes > 0xFFFFFFFFull)
        return false;
    entry->valueBytes = static_cast<size_t>(bytes);
    if (entry->valueBytes <= 4)
    {
        entry->valueOffset = at + 8;
        return true;
    }
    uint32_t offset = 0;
    if (!ReadU32(view, at + 8, &offset))
        return false;
    entry->valueOffset = offset;
    return true;
}

bool FindIfdEntry(const ByteView &view, size_t ifdOffset, uint16_t tag, TiffEntry *entry)
{
    uint16_t count = 0;
    if (!ReadIfdCount(view, ifdOffset, &count))
        return false;
    for (uint16_t i = 0; i < count; ++i)
    {
        if (!ReadIfdEntry(view, ifdOffset, i, entry))
            return false;
        if (entry->tag == tag)
            return true;
    }
    return false;
}

bool ReadIntegerValueAt(const ByteView &view, const TiffEntry &entry, uint32_t index, uint32_t *value)
{
    const size_t typeBytes = TypeBytes(entry.type);
    if (index >= entry.count || typeBytes == 0 || !ViewHolds(view, entry.valueOffset, entry.valueBytes))
        return false;
    // index < count and count x typeBytes fits the view, so this stays inside it.
    const size_t at = entry.valueOffset + static_cast<size_t>(index) * typeBytes;
    uint8_t byteValue = 0;
    uint16_t shortValue = 0;
    switch (entry.type)
    {
    case 1: // BYTE
    case 6: // SBYTE
        if (!ReadU8(view, at, &byteValue))
            return false;
        *value = byteValue;
        return true;
    case 3: // SHORT
    case 8: // SSHORT
        if (!ReadU16(view, at, &shortValue))
            return false;
        *value = shortValue;
        return true;
    case 4: // LONG
    case 9: // SLONG
        return ReadU32(view, at, value);
    default:
        return false;
    }
}

bool WriteIfdEntryInteger(uint8_t *data, const ByteView &view, size_t entryOffset, uint16_t type, uint32_t value)
{
    if ((type != TIFF_TYPE_SHORT && type != TIFF_TYPE_LONG) || (type == TIFF_TYPE_SHORT && value > 0xFFFF) ||
        !ViewHolds(view, entryOffset, 12))
        return false;
    // A SHORT sits in the first two bytes of the value field; the rest is zero.
    return WriteU16(data, view, entryOffset + 2, type) && WriteU32(data, view, entryOffset + 4, 1) &&
           WriteU32(data, view, entryOffset + 8, 0) &&
           (type == TIFF_TYPE_LONG ? WriteU32(data, view, entryOffset + 8, value)
                                   : WriteU16(data, view, entryOffset + 8, static_cast<uint16_t>(value)));
}

static uint32_t ValidOrientation(const ByteView &view, size_t firstIfd)
{
    TiffEntry entry;
    uint32_t value = 0;
    if (!FindIfdEntry(view, firstIfd, TAG_ORIENTATION, &entry) || !ReadIntegerValueAt(view, entry, 0, &value))
        return ORIENTATION_UPRIGHT;
    return value >= 1 && value <= 8 ? value : ORIENTATION_UPRIGHT;
}

uint32_t ParseTiffOrientation(const uint8_t *tiff, size_t size)
{
    ByteView view;
    uint32_t firstIfd = 0;
    if (!OpenTiff(tiff, size, &view, &firstIfd))
        return ORIENTATION_UPRIGHT;
    return ValidOrientation(view, firstIfd);
}

uint32_t ReadTiffFileOrientation(PhotoFile *file)
{
    uint8_t header[8], countBytes[2];
    ByteView view;
    uint32_t firstIfd = 0;
    if (!file->Read(0, header, sizeof(header)) || !OpenTiff(header, sizeof(header), &view, &firstIfd) ||
        !file->Read(firstIfd, countBytes, 2))
        return ORIENTATION_UPRIGHT;
    const ByteView countView = {countBytes, firstIfd, 2, view.bigEndian};
    uint16_t count = 0;
    ReadU16(countView, firstIfd, &count);
    // The first IFD lies anywhere, often after the pixels; only it is read,
    // at most 2 + 65535 x 12 + 4 bytes.
    std::vector<uint8_t> ifd(IfdBytes(count));
    if (!file->Read(firstIfd, ifd.data(), ifd.size()))
        return ORIENTATION_UPRIGHT;
    const ByteView window = {ifd.data(), firstIfd, ifd.size(), view.bigEndian};
    return ValidOrientation(window, firstIfd);
}
