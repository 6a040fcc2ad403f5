// The Exif edit (ExifEdit.h).
#include "ExifEdit.h"

#include "Tiff.h"

const char EXIF_SIGNATURE[6] = {'E', 'x', 'i', 'f', 0, 0};

namespace
{
const uint16_t TAG_STRIP_OFFSETS = 0x0111;
const uint16_t TAG_STRIP_BYTE_COUNTS = 0x0117;
const uint16_t TAG_THUMBNAIL_OFFSET = 0x0201;
const uint16_t TAG_THUMBNAIL_LENGTH = 0x0202;
const uint16_t TAG_EXIF_IFD = 0x8769;
const uint16_t TAG_GPS_IFD = 0x8825;
const uint16_t TAG_INTEROP_IFD = 0xA005;
const uint16_t TAG_PIXEL_X_DIMENSION = 0xA002;
const uint16_t TAG_PIXEL_Y_DIMENSION = 0xA003;
// IFD0, Exif, GPS, Interop and IFD1 are five; a block that links more is
// not one a camera wrote.
const size_t MAX_IFDS = 8;

// The block being edited and, per byte, how many kept structures, kept IFD
// tables and dropped structures use it, as running differences (+1 where a
// structure starts, -1 where it ends).
struct ExifWork
{
    std::vector<uint8_t> tiff;
    ByteView view;
    std::vector<int> kept, tables, dropped;
    size_t ifds[MAX_IFDS];
    size_t ifdCount;
    size_t pixelX, pixelY;
};

bool Mark(ExifWork *work, size_t offset, size_t bytes, bool kept)
{
    if (offset > work->tiff.size() || bytes > work->tiff.size() - offset)
        return false;
    std::vector<int> &uses = kept ? work->kept : work->dropped;
    ++uses[offset];
    --uses[offset + bytes];
    return true;
}

bool MarkStrips(ExifWork *work, const TiffEntry &offsets, const TiffEntry &counts)
{
    if (offsets.count != counts.count)
        return false;
    for (uint32_t i = 0; i < offsets.count; ++i)
    {
        uint32_t offset = 0, bytes = 0;
        if (!ReadIntegerValueAt(work->view, offsets, i, &offset) || !ReadIntegerValueAt(work->view, counts, i, &bytes) ||
            !Mark(work, offset, bytes, false))
            return false;
    }
    return true;
}

bool WalkIfd(ExifWork *work, size_t offset, bool kept, size_t *nextAt);

// One entry of a kept IFD: orientation set to 1, pixel sizes noted, linked
// IFDs walked.
bool KeepEntry(ExifWork *work, const TiffEntry &entry, size_t at)
{
    uint32_t linked = 0;
    size_t unusedNext = 0;
    switch (entry.tag)
    {
    case TAG_ORIENTATION:
        return WriteIfdEntryInteger(work->tiff.data(), work->view, at, TIFF_TYPE_SHORT, 1);
    case TAG_PIXEL_X_DIMENSION:
        work->pixelX = work->pixelX ? work->pixelX : at;
        return true;
    case TAG_PIXEL_Y_DIMENSION:
        work->pixelY = work->pixelY ? work->pixelY : at;
        return true;
    case TAG_EXIF_IFD:
    case TAG_GPS_IFD:
    case TAG_INTEROP_IFD:
        return ReadIntegerValueAt(work->view, entry, 0, &linked) && WalkIfd(work, linked, true, &unusedNext);
    default:
        return true;
    }
}

// Walks the IFD at offset and, for a kept one, the IFDs it links to; a
// dropped one (IFD1) marks its thumbnail. *nextAt gets where its next-IFD
// offset is.
bool WalkIfd(ExifWork *work, size_t offset, bool kept, size_t *nextAt)
{
    for (size_t i = 0; i < work->ifdCount; ++i)
        if (work->ifds[i] == offset)
            return false; // a loop
    uint16_t count = 0;
    if (work->ifdCount == MAX_IFDS || !ReadIfdCount(work->view, offset, &count))
        return false;
    work->ifds[work->ifdCount++] = offset;
    Mark(work, offset, IfdBytes(count), kept);
    if (kept)
    {
        ++work->tables[offset];
        --work->tables[offset + IfdBytes(count)];
    }
    *nextAt = offset + IfdBytes(count) - 4;

    TiffEntry stripOffsets = {}, stripCounts = {}, entry;
    uint32_t thumbnailOffset = 0, thumbnailBytes = 0;
    for (uint16_t i = 0; i < count; ++i)
    {
        if (!ReadIfdEntry(work->view, offset, i, &entry) ||
            (entry.valueBytes > 4 && !Mark(work, entry.valueOffset, entry.valueBytes, kept)))
            return false;
        if (kept)
        {
            if (!KeepEntry(work, entry, IfdEntryOffset(offset, i)))
                return false;
        }
        else if (entry.tag == TAG_STRIP_OFFSETS)
            stripOffsets = entry;
        else if (entry.tag == TAG_STRIP_BYTE_COUNTS)
            stripCounts = entry;
        else if (entry.tag == TAG_THUMBNAIL_OFFSET && !ReadIntegerValueAt(work->view, entry, 0, &thumbnailOffset))
            return false;
        else if (entry.tag == TAG_THUMBNAIL_LENGTH && !ReadIntegerValueAt(work->view, entry, 0, &thumbnailBytes))
            return false;
    }
    if (!kept && thumbnailBytes && !Mark(work, thumbnailOffset, thumbnailBytes, false))
        return false;
    return kept || stripOffsets.count == 0 || MarkStrips(work, stripOffsets, stripCounts);
}

// Zeroes what only dropped structures use and sets *end where the kept
// bytes end. False when a kept IFD table shares a byte with any other kept
// structure: the edit writes into those tables, and what it writes must
// change nothing else the block says.
bool ClearDropped(ExifWork *work, size_t *end)
{
    int kept = 0, tables = 0, dropped = 0;
    *end = 0;
    for (size_t i = 0; i < work->tiff.size(); ++i)
    {
        kept += work->kept[i];
        tables += work->tables[i];
        dropped += work->dropped[i];
        if (tables > 0 && kept > 1)
            return false;
        if (kept == 0 && dropped > 0)
            work->tiff[i] = 0;
        else
            *end = i + 1; // bytes nothing dropped uses stay, referenced or not
    }
    return true;
}
} // namespace

bool EditExif(const uint8_t *tiff, size_t size, CarriedExif *carried)
{
    ExifWork work = {};
    uint32_t firstIfd = 0, next = 0;
    size_t ifd0NextAt = 0, ifd1NextAt = 0, end = 0;
    *carried = CarriedExif{};
    work.tiff.assign(tiff, tiff + size);
    if (!OpenTiff(work.tiff.data(), size, &work.view, &firstIfd))
        return false;
    work.kept.assign(size + 1, 0);
    work.tables.assign(size + 1, 0);
    work.dropped.assign(size + 1, 0);
    Mark(&work, 0, 8, true);
    if (!WalkIfd(&work, firstIfd, true, &ifd0NextAt) || !ReadU32(work.view, ifd0NextAt, &next))
        return false;
    if (next != 0 && !WalkIfd(&work, next, false, &ifd1NextAt))
        return false;
    WriteU32(work.tiff.data(), work.view, ifd0NextAt, 0);
    if (!ClearDropped(&work, &end))
        return false;
    work.tiff.resize(end);
    carried->bigEndian = work.view.bigEndian;
    carried->pixelXEntry = work.pixelX;
    carried->pixelYEntry = work.pixelY;
    carried->tiff.swap(work.tiff);
    return true;
}

void PutSegmentHeader(uint8_t marker, size_t payloadLength, std::vector<uint8_t> *out)
{
    out->push_back(0xFF);
    out->push_back(marker);
    AppendU16(out, true, static_cast<uint16_t>(payloadLength + 2));
}

// One dimension entry set to a size: a SHORT where it was one and the
// size fits, else a LONG.
static void SetDimension(uint8_t *tiff, const ByteView &view, size_t entry, uint32_t value)
{
    uint16_t type = 0;
    if (entry == 0 || !ReadU16(view, entry + 2, &type))
        return;
    WriteIfdEntryInteger(tiff, view, entry,
                         type == TIFF_TYPE_SHORT && value <= 0xFFFF ? TIFF_TYPE_SHORT : TIFF_TYPE_LONG, value);
}

void PutExifSegment(const CarriedExif &carried, uint32_t width, uint32_t height, std::vector<uint8_t> *out)
{
    if (carried.tiff.empty())
        return;
    PutSegmentHeader(0xE1, sizeof(EXIF_SIGNATURE) + carried.tiff.size(), out);
    out->insert(out->end(), EXIF_SIGNATURE, EXIF_SIGNATURE + sizeof(EXIF_SIGNATURE));
    const size_t at = out->size();
    out->insert(out->end(), carried.tiff.begin(), carried.tiff.end());
    const ByteView view = {out->data() + at, 0, carried.tiff.size(), carried.bigEndian};
    SetDimension(out->data() + at, view, carried.pixelXEntry, width);
    SetDimension(out->data() + at, view, carried.pixelYEntry, height);
}
