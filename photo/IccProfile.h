// ICC profiles as photos carry them: the chunks of a JPEG's APP2 segments
// joined and checked, and the header check shared with profiles that come
// whole (from a PNG or TIFF frame).
//
// Promises: chunks are carried only when they number 1 to n exactly once,
// all say n, and join into an RGB profile whose size field agrees with
// them; anything else drops every chunk. At most 255 chunks of at most one
// segment each are ever held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// "ICC_PROFILE" with its terminator.
extern const char ICC_SIGNATURE[12];
const size_t ICC_HEADER_BYTES = 128;

// True when a profile of profileSize bytes (at least a header's) starts
// with these 20 bytes: its size field says profileSize, its colour space RGB.
bool IsRgbProfileStart(const uint8_t *start, size_t profileSize);

struct IccChunks
{
    std::vector<uint8_t> chunks[255]; // APP2 payloads, by sequence number less one
    unsigned total;                   // the count the chunks give
    unsigned found;
    bool broken;                      // something was wrong: nothing is carried
};

void StartIccChunks(IccChunks *icc);

// Takes one APP2 payload that starts with ICC_SIGNATURE.
void AddIccChunk(IccChunks *icc, const uint8_t *payload, size_t size);

// Checks the whole set; when it is not carried, empties it. True when carried.
bool FinishIccChunks(IccChunks *icc);
