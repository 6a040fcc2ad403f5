// Fuzz target: the size of frame 0 read from the headers of PNG, GIF, BMP
// and TIFF files, against references written here from the containers'
// layouts (a GIF's blocks walked to its first image descriptor). A reader
// that answers false leaves both sides 0.
#include "FuzzCheck.h"

#include "photo/FrameSize.h"
#include "photo/PhotoHeader.h"

#include <cstdint>
#include <cstring>

namespace
{
uint32_t Le16(const uint8_t *p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t *p) { return Le16(p) | Le16(p + 2) << 16; }
uint32_t Be32(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

struct Size
{
    bool found = false;
    uint32_t width = 0, height = 0;
};

Size ReferencePng(const uint8_t *d, size_t n)
{
    Size s;
    if (n >= 24 && std::memcmp(d + 12, "IHDR", 4) == 0 && Be32(d + 8) >= 13)
        s = {true, Be32(d + 16), Be32(d + 20)};
    return s;
}

Size ReferenceGif(const uint8_t *d, size_t n)
{
    Size s;
    if (n < 13)
        return s;
    s = {true, Le16(d + 6), Le16(d + 8)};
    size_t p = 13 + ((d[10] & 0x80) ? 3u << ((d[10] & 7) + 1) : 0);
    while (p < n && d[p] == 0x21)
    {
        p += 2; // introducer and label
        while (p < n && d[p] != 0)
            p += 1 + d[p];
        if (p >= n)
            return s;
        ++p;
    }
    if (p < n && d[p] == 0x2C && n - p >= 9)
    {
        const uint32_t right = Le16(d + p + 1) + Le16(d + p + 5), bottom = Le16(d + p + 3) + Le16(d + p + 7);
        s.width = right > s.width ? right : s.width;
        s.height = bottom > s.height ? bottom : s.height;
    }
    return s;
}

Size ReferenceBmp(const uint8_t *d, size_t n)
{
    Size s;
    if (n < 18)
        return s;
    const uint32_t info = Le32(d + 14);
    if (info == 12 && n >= 22)
        s = {true, Le16(d + 18), Le16(d + 20)};
    else if (info >= 16 && n >= 26 && static_cast<int32_t>(Le32(d + 18)) >= 0)
    {
        const int64_t h = static_cast<int32_t>(Le32(d + 22));
        s = {true, Le32(d + 18), static_cast<uint32_t>(h < 0 ? -h : h)};
    }
    return s;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryPhotoFile file(data, size);
    static PhotoHeader header;
    ReadPhotoHeader(&file, &header, 1 + (size ? data[size - 1] % 7 : 0));
    FUZZ_CHECK(header.frameFound || (header.frameWidth == 0 && header.frameHeight == 0));
    Size expected;
    if (IsPngSignature(data, size))
        expected = ReferencePng(data, size);
    else if (IsGifSignature(data, size))
        expected = ReferenceGif(data, size);
    else if (IsBmpSignature(data, size) && !(size >= 2 && data[0] == 0xFF))
        expected = ReferenceBmp(data, size);
    else
        return 0;
    FUZZ_CHECK(header.frameFound == expected.found);
    FUZZ_CHECK(header.frameWidth == expected.width && header.frameHeight == expected.height);
    return 0;
}
