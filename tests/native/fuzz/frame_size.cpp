// Fuzz target: the frame-size decision against a reference reader written
// here as a decoder reads markers (stray bytes and FF 00 skipped, fill
// bytes, markers without a length stepped over, every other segment
// skipped by its length, the frame header's fields read whatever its
// length). The decision, and the first frame's size, must agree.
#include "FuzzCheck.h"

#include "photo/PhotoHeader.h"

#include <cstdint>

namespace
{
struct Reference
{
    bool found = false, tooLarge = false;
    uint32_t width = 0, height = 0;
};

bool NextMarker(const uint8_t *data, size_t size, size_t *p, uint8_t *marker)
{
    for (;;)
    {
        while (*p < size && data[*p] != 0xFF)
            ++*p;
        while (*p < size && data[*p] == 0xFF)
            ++*p;
        if (*p >= size)
            return false;
        *marker = data[(*p)++];
        if (*marker != 0)
            return true;
    }
}

Reference Decide(const uint8_t *data, size_t size)
{
    Reference r;
    size_t p = 2;
    uint8_t m = 0;
    while (NextMarker(data, size, &p, &m) && m != 0xDA && m != 0xD9)
    {
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD8))
            continue;
        if (size - p < 2)
            break;
        const size_t length = static_cast<size_t>(data[p]) << 8 | data[p + 1];
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame && size - p >= 8)
        {
            const uint32_t height = data[p + 3] << 8 | data[p + 4], width = data[p + 5] << 8 | data[p + 6];
            if (!r.found)
                r.width = width, r.height = height;
            r.found = true;
            r.tooLarge = r.tooLarge || static_cast<uint64_t>(width) * height * data[p + 7] > 0xFFFFFFFFull;
        }
        const size_t payload = length < 2 ? 0 : length - 2;
        if (payload > size - p - 2)
            break;
        p += 2 + payload;
    }
    return r;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    MemoryPhotoFile file(data, size);
    static PhotoHeader header;
    ReadPhotoHeader(&file, &header, 1 + data[size - 1] % 7);
    const Reference expected = Decide(data, size);
    FUZZ_CHECK(header.frameTooLarge == expected.tooLarge);
    FUZZ_CHECK(header.frameFound == expected.found);
    FUZZ_CHECK(header.frameWidth == expected.width && header.frameHeight == expected.height);
    return 0;
}
