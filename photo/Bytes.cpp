// Bounded byte access (Bytes.h).
#include "Bytes.h"

#include <cstring>

ByteView MakeByteView(const uint8_t *data, size_t size, bool bigEndian)
{
    return ByteView{data, 0, size, bigEndian};
}

bool ViewHolds(const ByteView &view, size_t offset, size_t bytes)
{
    return offset >= view.base && offset - view.base <= view.size && bytes <= view.size - (offset - view.base);
}

bool ReadU8(const ByteView &view, size_t offset, uint8_t *value)
{
    if (!ViewHolds(view, offset, 1))
        return false;
    *value = view.data[offset - view.base];
    return true;
}

bool ReadU16(const ByteView &view, size_t offset, uint16_t *value)
{
    if (!ViewHolds(view, offset, 2))
        return false;
    const uint8_t *p = view.data + (offset - view.base);
    *value = static_cast<uint16_t>(view.bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
    return true;
}

bool ReadU32(const ByteView &view, size_t offset, uint32_t *value)
{
    if (!ViewHolds(view, offset, 4))
        return false;
    const uint8_t *p = view.data + (offset - view.base);
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i)
        result = result << 8 | p[view.bigEndian ? i : 3 - i];
    *value = result;
    return true;
}

bool WriteU16(uint8_t *data, const ByteView &view, size_t offset, uint16_t value)
{
    if (!ViewHolds(view, offset, 2))
        return false;
    uint8_t *p = data + (offset - view.base);
    p[view.bigEndian ? 0 : 1] = static_cast<uint8_t>(value >> 8);
    p[view.bigEndian ? 1 : 0] = static_cast<uint8_t>(value);
    return true;
}

bool WriteU32(uint8_t *data, const ByteView &view, size_t offset, uint32_t value)
{
    if (!ViewHolds(view, offset, 4))
        return false;
    uint8_t *p = data + (offset - view.base);
    for (int i = 0; i < 4; ++i)
        p[view.bigEndian ? 3 - i : i] = static_cast<uint8_t>(value >> (8 * i));
    return true;
}

void AppendU16(std::vector<uint8_t> *out, bool bigEndian, uint16_t value)
{
    const uint8_t high = static_cast<uint8_t>(value >> 8), low = static_cast<uint8_t>(value);
    out->push_back(bigEndian ? high : low);
    out->push_back(bigEndian ? low : high);
}

void AppendU32(std::vector<uint8_t> *out, bool bigEndian, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? 3 - i : i))));
}

bool StartsWith(const uint8_t *data, size_t size, const char *signature, size_t length)
{
    return size >= length && std::memcmp(data, signature, length) == 0;
}
