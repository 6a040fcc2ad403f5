// What a resized copy carries of its photo, and the splice that puts it
// into the encoded copy, in memory.
//
// Promises: the splice changes nothing but inserting whole blocks at one
// place: into a JPEG the carried segments right after the encoder's SOI
// and APP0 segments (Exif, XMP, ICC chunks in their order, the Exif saying
// the copy's pixel size); into a PNG an iCCP chunk right after IHDR, unless
// the encoder already wrote a profile or said sRGB. An encoded file it
// cannot read is left untouched (no plan).
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

// False (nothing to insert, or an encoded file that cannot take it) leaves
// the encoded bytes as the encoder wrote them.
bool PlanJpegSplice(const uint8_t *encoded, size_t size, const CarriedBlocks &blocks, uint32_t width,
                    uint32_t height, SplicePlan *plan);
bool PlanPngSplice(const uint8_t *encoded, size_t size, const uint8_t *profile, size_t profileSize,
                   SplicePlan *plan);

// The encoded bytes with the plan applied.
void ApplySplice(const uint8_t *encoded, size_t size, const SplicePlan &plan, std::vector<uint8_t> *out);
