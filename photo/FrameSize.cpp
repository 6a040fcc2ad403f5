#include "FrameSize.h"

#include "Bytes.h"
#include "Tiff.h"

#include <cstring>
#include <vector>

namespace
{
const uint16_t TAG_IMAGE_WIDTH = 256;
const uint16_t TAG_IMAGE_LENGTH = 257;
const uint8_t GIF_EXTENSION = 0x21;
const uint8_t GIF_IMAGE = 0x2C;

bool Answer(bool found, uint32_t w, uint32_t h, uint32_t *width, uint32_t *height)
{
    *width = found ? w : 0;
    *height = found ? h : 0;
    return found;
}

// Reads size bytes at offset when the file holds them.
bool ReadAt(PhotoFile *file, uint64_t offset, uint8_t *bytes, size_t size)
{
    return offset <= file->Size() && size <= file->Size() - offset && file->Read(offset, bytes, size);
}

uint32_t LittleEndian16(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0] | p[1] << 8);
}

uint32_t LittleEndian32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t BigEndian32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// Steps over a GIF's data sub-blocks up to their terminator.
bool SkipGifSubBlocks(BufferedReader *reader)
{
    uint8_t length = 0;
    while (ReadByte(reader, &length) && length != 0)
        if (!SkipBytes(reader, length))
            return false;
    return length == 0;
}
} // namespace

bool IsPngSignature(const uint8_t *start, size_t size)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return size >= 8 && std::memcmp(start, signature, 8) == 0;
}

bool IsGifSignature(const uint8_t *start, size_t size)
{
    return size >= 6 && (std::memcmp(start, "GIF87a", 6) == 0 || std::memcmp(start, "GIF89a", 6) == 0);
}

bool IsBmpSignature(const uint8_t *start, size_t size)
{
    return size >= 2 && start[0] == 'B' && start[1] == 'M';
}

bool ReadPngFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height)
{
    uint8_t head[24];
    const bool found = ReadAt(file, 0, head, sizeof(head)) && IsPngSignature(head, sizeof(head)) &&
                       std::memcmp(head + 12, "IHDR", 4) == 0 && BigEndian32(head + 8) >= 13;
    return Answer(found, found ? BigEndian32(head + 16) : 0, found ? BigEndian32(head + 20) : 0, width, height);
}

bool ReadGifFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height)
{
    uint8_t head[13];
    if (!ReadAt(file, 0, head, sizeof(head)) || !IsGifSignature(head, sizeof(head)))
        return Answer(false, 0, 0, width, height);
    uint32_t w = LittleEndian16(head + 6), h = LittleEndian16(head + 8);
    BufferedReader reader;
    StartReading(file, &reader);
    reader.position = sizeof(head);
    // A global colour table of 2^(n+1) entries, 3 bytes each.
    bool walking = (head[10] & 0x80) == 0 || SkipBytes(&reader, 3u << ((head[10] & 7) + 1));
    uint8_t block = 0;
    while (walking && ReadByte(&reader, &block) && block == GIF_EXTENSION)
        walking = SkipBytes(&reader, 1) && SkipGifSubBlocks(&reader);
    uint8_t image[8];
    if (walking && block == GIF_IMAGE && ReadBytes(&reader, image, sizeof(image)))
    {
        const uint32_t right = LittleEndian16(image) + LittleEndian16(image + 4);
        const uint32_t bottom = LittleEndian16(image + 2) + LittleEndian16(image + 6);
        w = right > w ? right : w;
        h = bottom > h ? bottom : h;
    }
    return Answer(true, w, h, width, height);
}

bool ReadBmpFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height)
{
    uint8_t head[26];
    if (!ReadAt(file, 0, head, 18) || !IsBmpSignature(head, 2))
        return Answer(false, 0, 0, width, height);
    const uint32_t infoSize = LittleEndian32(head + 14);
    // The old OS/2 header holds 16-bit sides; every later one 32-bit ones.
    if (infoSize == 12 && ReadAt(file, 0, head, 22))
        return Answer(true, LittleEndian16(head + 18), LittleEndian16(head + 20), width, height);
    if (infoSize < 16 || !ReadAt(file, 0, head, 26))
        return Answer(false, 0, 0, width, height);
    const int32_t w = static_cast<int32_t>(LittleEndian32(head + 18)), h = static_cast<int32_t>(LittleEndian32(head + 22));
    // The magnitude of a negative height, computed without overflow.
    const uint32_t rows = h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h);
    return Answer(w >= 0, static_cast<uint32_t>(w), rows, width, height);
}

bool ReadTiffFrameSize(PhotoFile *file, uint32_t *width, uint32_t *height)
{
    uint8_t head[8], countBytes[2];
    ByteView view;
    uint32_t firstIfd = 0;
    uint16_t count = 0;
    if (!ReadAt(file, 0, head, sizeof(head)) || !OpenTiff(head, sizeof(head), &view, &firstIfd) ||
        !ReadAt(file, firstIfd, countBytes, 2))
        return Answer(false, 0, 0, width, height);
    ReadU16({countBytes, firstIfd, 2, view.bigEndian}, firstIfd, &count);
    // Only the first IFD is read: at most 2 + 65535 x 12 + 4 bytes.
    std::vector<uint8_t> ifd(IfdBytes(count));
    if (!ReadAt(file, firstIfd, ifd.data(), ifd.size()))
        return Answer(false, 0, 0, width, height);
    const ByteView window = {ifd.data(), firstIfd, ifd.size(), view.bigEndian};
    TiffEntry entry;
    uint32_t w = 0, h = 0;
    const bool found = FindIfdEntry(window, firstIfd, TAG_IMAGE_WIDTH, &entry) && ReadIntegerValueAt(window, entry, 0, &w) &&
                       FindIfdEntry(window, firstIfd, TAG_IMAGE_LENGTH, &entry) && ReadIntegerValueAt(window, entry, 0, &h);
    return Answer(found, w, h, width, height);
}
