// Bounded access to bytes held in memory, in either byte order.
//
// Promises: every read and write is checked against the bytes the view
// holds before it touches them; one that would pass them answers false and
// changes nothing. Offsets count from the start of the structure being
// read (base), so a view of one window of a larger structure reads with
// the structure's own offsets. Portable: no platform header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ByteView
{
    const uint8_t *data; // the byte at offset `base`
    size_t base;         // offset of data[0] in the structure
    size_t size;         // bytes held from base on
    bool bigEndian;
};

ByteView MakeByteView(const uint8_t *data, size_t size, bool bigEndian);

// True when [offset, offset + bytes) lies inside the view.
bool ViewHolds(const ByteView &view, size_t offset, size_t bytes);

bool ReadU8(const ByteView &view, size_t offset, uint8_t *value);
bool ReadU16(const ByteView &view, size_t offset, uint16_t *value);
bool ReadU32(const ByteView &view, size_t offset, uint32_t *value);

// Writers into data, writable memory laid out as the view's bytes.
bool WriteU16(uint8_t *data, const ByteView &view, size_t offset, uint16_t value);
bool WriteU32(uint8_t *data, const ByteView &view, size_t offset, uint32_t value);

// Appends a 16- or 32-bit value in the given byte order.
void AppendU16(std::vector<uint8_t> *out, bool bigEndian, uint16_t value);
void AppendU32(std::vector<uint8_t> *out, bool bigEndian, uint32_t value);

// True when the size bytes at data start with the signature bytes.
bool StartsWith(const uint8_t *data, size_t size, const char *signature, size_t length);
