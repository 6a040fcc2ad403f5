// The TIFF view: a TIFF structure's header and IFDs (a TIFF file, or the
// Exif block inside a JPEG), read and edited in place, and the orientation
// tag read from its first IFD.
//
// Promises: every offset, count and length read from the structure is
// checked against the bytes held before it is used; a count times a type's
// size is computed without wrapping. A reader that meets anything out of
// bounds answers false (orientation: 1) and reads no further.
#pragma once

#include "Bytes.h"
#include "PhotoFile.h"

#include <cstddef>
#include <cstdint>

const uint16_t TIFF_TYPE_SHORT = 3;
const uint16_t TIFF_TYPE_LONG = 4;
const uint16_t TAG_ORIENTATION = 0x0112;
const uint32_t ORIENTATION_UPRIGHT = 1;

// One IFD entry: tag, type and count, and where its value sits (the entry's
// own four bytes when they hold it, else the offset read from them).
// valueBytes is count x the type's size, 0 for types this reader does not know.
struct TiffEntry
{
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    size_t valueOffset;
    size_t valueBytes;
};

// Reads the 8-byte header at offset 0: byte order, magic 42, first IFD.
// Fills *view with base 0 and all of data.
bool OpenTiff(const uint8_t *data, size_t size, ByteView *view, uint32_t *firstIfd);

// Bytes an IFD of `count` entries takes: its count, entries, next offset.
size_t IfdBytes(uint16_t count);
size_t IfdEntryOffset(size_t ifdOffset, uint16_t index);

// The entry count of the IFD at ifdOffset, when the whole IFD fits.
bool ReadIfdCount(const ByteView &view, size_t ifdOffset, uint16_t *count);
bool ReadIfdEntry(const ByteView &view, size_t ifdOffset, uint16_t index, TiffEntry *entry);
bool FindIfdEntry(const ByteView &view, size_t ifdOffset, uint16_t tag, TiffEntry *entry);

// Value `index` of an integer entry (BYTE, SHORT, LONG, their signed kinds).
bool ReadIntegerValueAt(const ByteView &view, const TiffEntry &entry, uint32_t index, uint32_t *value);

// Rewrites the entry at entryOffset as one SHORT or LONG value held in the
// entry itself; the tag stays.
bool WriteIfdEntryInteger(uint8_t *data, const ByteView &view, size_t entryOffset, uint16_t type, uint32_t value);

// The orientation (1 to 8) in the first IFD of a TIFF structure in memory;
// 1 when missing, malformed or out of range.
uint32_t ParseTiffOrientation(const uint8_t *tiff, size_t size);

// The same, read from a TIFF file: only its header and first IFD.
uint32_t ReadTiffFileOrientation(PhotoFile *file);
