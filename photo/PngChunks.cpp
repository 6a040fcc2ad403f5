// PNG chunks (PngChunks.h).
#include "PngChunks.h"

#include "Bytes.h"

#include <cstring>

namespace
{
const char ICCP_KEYWORD[] = "ICC profile";
const size_t STORED_BLOCK_MAX = 65535;
// A chunk's data may not pass 2^31 - 1 bytes; profiles come nowhere near.
const size_t MAX_CHUNK_DATA = 0x7FFFFFFF;
const size_t MAX_ICCP_PROFILE = 0x7FFF0000;
const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void AppendStoredBlocks(const uint8_t *profile, size_t size, std::vector<uint8_t> *out)
{
    for (size_t done = 0; done < size;)
    {
        const size_t run = size - done < STORED_BLOCK_MAX ? size - done : STORED_BLOCK_MAX;
        out->push_back(done + run == size ? 1 : 0); // final flag, block type 00: stored
        AppendU16(out, false, static_cast<uint16_t>(run));
        AppendU16(out, false, static_cast<uint16_t>(~run));
        out->insert(out->end(), profile + done, profile + done + run);
        done += run;
    }
}
} // namespace

uint32_t Crc32(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t Adler32(const uint8_t *data, size_t size)
{
    uint32_t a = 1, b = 0;
    while (size > 0)
    {
        // 5552 bytes is the most that cannot overflow b before the modulo.
        const size_t run = size < 5552 ? size : 5552;
        for (size_t i = 0; i < run; ++i)
        {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
        data += run;
        size -= run;
    }
    return b << 16 | a;
}

bool BuildIccpChunk(const uint8_t *profile, size_t size, std::vector<uint8_t> *chunk)
{
    chunk->clear();
    if (size == 0 || size > MAX_ICCP_PROFILE)
        return false;
    const size_t blocks = (size + STORED_BLOCK_MAX - 1) / STORED_BLOCK_MAX;
    const size_t dataBytes = sizeof(ICCP_KEYWORD) + 1 + 2 + blocks * 5 + size + 4;
    chunk->reserve(12 + dataBytes);
    AppendU32(chunk, true, static_cast<uint32_t>(dataBytes));
    chunk->insert(chunk->end(), {'i', 'C', 'C', 'P'});
    chunk->insert(chunk->end(), ICCP_KEYWORD, ICCP_KEYWORD + sizeof(ICCP_KEYWORD));
    // Compression method deflate; zlib header: deflate, 32 KiB window, no
    // dictionary ((0x78 << 8 | 0x01) is a multiple of 31).
    chunk->insert(chunk->end(), {0, 0x78, 0x01});
    AppendStoredBlocks(profile, size, chunk);
    AppendU32(chunk, true, Adler32(profile, size));
    AppendU32(chunk, true, Crc32(chunk->data() + 4, 4 + dataBytes));
    return true;
}

PngInsertion FindPngInsertion(const uint8_t *png, size_t size, size_t *insertAt)
{
    if (size < 8)
        return std::memcmp(png, PNG_SIGNATURE, size) == 0 ? PNG_NEEDS_MORE : PNG_MALFORMED;
    if (std::memcmp(png, PNG_SIGNATURE, 8) != 0)
        return PNG_MALFORMED;
    const ByteView view = MakeByteView(png, size, true);
    uint32_t length = 0;
    for (size_t position = 8;;)
    {
        if (!ReadU32(view, position, &length) || !ViewHolds(view, position, 8))
            return PNG_NEEDS_MORE;
        const char *type = reinterpret_cast<const char *>(png + position + 4);
        const bool first = position == 8;
        // IHDR comes first and holds exactly 13 bytes; no chunk may pass 2^31 - 1.
        if (length > MAX_CHUNK_DATA || first != (std::memcmp(type, "IHDR", 4) == 0) || (first && length != 13))
            return PNG_MALFORMED;
        if (std::memcmp(type, "iCCP", 4) == 0 || std::memcmp(type, "sRGB", 4) == 0)
            return PNG_HAS_PROFILE;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            return PNG_INSERT_AFTER_IHDR;
        if (size - position - 8 < static_cast<size_t>(length) + 4)
            return PNG_NEEDS_MORE;
        position += 12 + static_cast<size_t>(length);
        if (first)
            *insertAt = position;
    }
}
