// Bounded readers of the bytes that photo files carry beside their pixels:
// a JPEG file's header segments and TIFF structures (a TIFF file, or the
// Exif block inside a JPEG).
//
// They trust nothing they read. Every offset, count and length is checked
// against the bytes actually held before it is used; a reader that meets
// anything out of bounds answers false and reads no further.
#pragma once

#include <windows.h>

#include <stddef.h>

// The header of a JPEG file: every byte from the start of the file up to
// the start-of-scan marker (not included), read segment by segment and at
// most maxBytes in all. The caller frees *header with free(). Fails when
// the file does not start like a JPEG, is cut short before the scan, or
// its header is longer than maxBytes.
HRESULT ReadJpegHeader(const wchar_t *path, size_t maxBytes, BYTE **header, size_t *size);

// One marker segment of a JPEG header.
struct JpegSegment
{
    BYTE marker;          // the byte after 0xFF: 0xE1 for APP1, 0xE2 for APP2, ...
    size_t start;         // offset of the segment's 0xFF in the header
    size_t payload;       // offset of the first byte after the length field
    size_t payloadLength; // bytes of payload, within the header
};

// Steps *position through the header (start it at 0). False at the end of
// the header or at anything malformed.
bool NextJpegSegment(const BYTE *header, size_t size, size_t *position, JpegSegment *segment);

// True when the payload of segment starts with the signature bytes.
bool SegmentStartsWith(const BYTE *header, const JpegSegment &segment, const char *signature, size_t length);

// Bytes [base, base + size) of a TIFF structure whose header is at offset 0.
// Offsets inside a TIFF count from its header, so a view of one window of a
// large file reads with the file's own offsets.
struct TiffView
{
    const BYTE *data;
    size_t base;
    size_t size;
    bool bigEndian;
};

// One IFD entry: its tag, type and count, and where its value sits (the
// four bytes of the entry itself when they hold it, else the offset read
// from them). valueBytes is count x the type's size, 0 for unknown types.
struct TiffEntry
{
    WORD tag;
    WORD type;
    DWORD count;
    size_t valueOffset;
    size_t valueBytes;
};

// Reads the 8-byte TIFF header at offset 0 of data: byte order, magic 42
// and the offset of the first IFD. Fills *view with base 0 and all of data.
bool OpenTiffView(const BYTE *data, size_t size, TiffView *view, DWORD *firstIfd);

bool ReadTiffShort(const TiffView &view, size_t offset, WORD *value);
bool ReadTiffLong(const TiffView &view, size_t offset, DWORD *value);

// The bytes an IFD of `count` entries takes at ifdOffset: its count, its
// entries and the next-IFD offset. False when that does not fit the view.
bool ReadIfdCount(const TiffView &view, size_t ifdOffset, WORD *count);
size_t IfdBytes(WORD count);

// Entry `index` of the IFD at ifdOffset (whose count is known to fit).
bool ReadIfdEntry(const TiffView &view, size_t ifdOffset, WORD index, TiffEntry *entry);

// The first entry with this tag in the IFD at ifdOffset.
bool FindIfdEntry(const TiffView &view, size_t ifdOffset, WORD tag, TiffEntry *entry);

// The first value of an integer entry (BYTE, SHORT, LONG and their signed
// kinds; count at least 1), within the view.
bool ReadIntegerValue(const TiffView &view, const TiffEntry &entry, DWORD *value);

// Writer side, with the same bounds: data is writable memory laid out as
// the view's bytes (data[0] is the view's offset base).
bool WriteTiffShort(BYTE *data, const TiffView &view, size_t offset, WORD value);
bool WriteTiffLong(BYTE *data, const TiffView &view, size_t offset, DWORD value);

// Rewrites the IFD entry at entryOffset (its first byte, the tag) as one
// SHORT (type 3) or LONG (type 4) value held in the entry itself; the tag
// stays. Whatever the entry pointed to before is no longer referenced.
bool WriteIfdEntryInteger(BYTE *data, const TiffView &view, size_t entryOffset, WORD type, DWORD value);

// Offset of entry `index` of the IFD at ifdOffset.
size_t IfdEntryOffset(size_t ifdOffset, WORD index);

// Value `index` (from 0) of an integer entry (BYTE, SHORT, LONG and their
// signed kinds), within the view.
bool ReadIntegerValueAt(const TiffView &view, const TiffEntry &entry, DWORD index, DWORD *value);
