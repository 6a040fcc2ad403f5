// What a resized copy carries of its photo, and the splice that puts it
// into the encoded copy, in memory.
//
// Promises: the splice changes nothing but inserting whole blocks at one
// place: into a JPEG the carried segments right after the encoder's SOI
// and APP0 segments (Exif, XMP, ICC chunks in their order, the Exif saying
// the copy's pixel size); into a PNG an iCCP chunk right after IHDR, unless
// the encoder already wrote a profile or said sRGB. An encoded file it
// cannot read is left untouched (no plan). The place is found from the
// copy's first bytes, as an encoder writes them: any answer but
// SPLICE_NEEDS_MORE given for the first bytes is the one the whole copy
// gives, so a writer need hold no more of the copy than the answer takes.
#pragma once

#include "ExifEdit.h"
#include "IccProfile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A JPEG photo's blocks to carry, each already edited (ExifEdit.h, XmpEdit.h).
struct CarriedBlocks
{
    CarriedExif exif;
    std::vector<uint8_t> xmp; // the APP1 payload; empty: none
    IccChunks icc;            // found == 0: none
};

void StartCarriedBlocks(CarriedBlocks *blocks);
bool HasCarriedBlocks(const CarriedBlocks &blocks);

// The carried blocks as whole JPEG segments, the Exif one saying width x height.
void PutCarriedSegments(const CarriedBlocks &blocks, uint32_t width, uint32_t height, std::vector<uint8_t> *out);

// Where bytes go into an encoded file, and which.
struct SplicePlan
{
    size_t insertAt;
    std::vector<uint8_t> inserted;
};

enum SpliceAnswer
{
    SPLICE_PLANNED,    // *plan says where and what
    SPLICE_NOTHING,    // nothing to insert, or an encoded file that cannot take it: the bytes stay as written
    SPLICE_NEEDS_MORE, // the bytes at hand end before the place is known; never when complete
};

// encoded holds the copy's first size bytes; complete says they are all
// of it.
SpliceAnswer PlanJpegSplice(const uint8_t *encoded, size_t size, bool complete, const CarriedBlocks &blocks,
                            uint32_t width, uint32_t height, SplicePlan *plan);
SpliceAnswer PlanPngSplice(const uint8_t *encoded, size_t size, bool complete, const uint8_t *profile,
                           size_t profileSize, SplicePlan *plan);

// The encoded bytes with the plan applied.
void ApplySplice(const uint8_t *encoded, size_t size, const SplicePlan &plan, std::vector<uint8_t> *out);
