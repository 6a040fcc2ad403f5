// PNG chunks as the program writes them: the iCCP chunk that carries a
// colour profile (zlib stream of stored deflate blocks, Adler-32, CRC-32),
// and where it goes in an encoded PNG.
//
// Promises: the chunk is whole and valid by the PNG rules; the insertion
// point is found only in a PNG that starts with the signature and a whole
// IHDR chunk of its fixed 13 bytes, and whose chunks before the first one
// that decides (iCCP, sRGB, IDAT, IEND) each lie within its bytes; of the
// deciding chunk only its type is read. An answer other than
// PNG_NEEDS_MORE, found from the first bytes of a file, is the one the
// whole file gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

uint32_t Crc32(const uint8_t *data, size_t size);
uint32_t Adler32(const uint8_t *data, size_t size);

// A whole iCCP chunk (length, type, data, CRC) holding the profile. False
// for an empty profile or one too long for a chunk.
bool BuildIccpChunk(const uint8_t *profile, size_t size, std::vector<uint8_t> *chunk);

enum PngInsertion
{
    PNG_INSERT_AFTER_IHDR, // *insertAt is right after IHDR
    PNG_HAS_PROFILE,       // a profile (iCCP) or sRGB comes before the pixels
    PNG_MALFORMED,
    PNG_NEEDS_MORE,        // the bytes end before the answer is known
};

PngInsertion FindPngInsertion(const uint8_t *png, size_t size, size_t *insertAt);
