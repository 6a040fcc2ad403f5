// Carried blocks and the splice (Splice.h).
#include "Splice.h"

#include "JpegWalk.h"
#include "PngChunks.h"

void StartCarriedBlocks(CarriedBlocks *blocks)
{
    blocks->exif = CarriedExif{};
    std::vector<uint8_t>().swap(blocks->xmp);
    StartIccChunks(&blocks->icc);
}

bool HasCarriedBlocks(const CarriedBlocks &blocks)
{
    return !blocks.exif.tiff.empty() || !blocks.xmp.empty() || blocks.icc.found > 0;
}

void PutCarriedSegments(const CarriedBlocks &blocks, uint32_t width, uint32_t height, std::vector<uint8_t> *out)
{
    PutExifSegment(blocks.exif, width, height, out);
    if (!blocks.xmp.empty())
    {
        PutSegmentHeader(JPEG_APP1, blocks.xmp.size(), out);
        out->insert(out->end(), blocks.xmp.begin(), blocks.xmp.end());
    }
    for (unsigned i = 0; i < blocks.icc.found; ++i)
    {
        PutSegmentHeader(JPEG_APP2, blocks.icc.chunks[i].size(), out);
        out->insert(out->end(), blocks.icc.chunks[i].begin(), blocks.icc.chunks[i].end());
    }
}

// Right after SOI and the APP0 segments the encoder wrote.
static bool FindJpegInsertion(const uint8_t *encoded, size_t size, size_t *insertAt)
{
    MemoryPhotoFile file(encoded, size);
    BufferedReader reader;
    StartReading(&file, &reader);
    if (!StartJpegWalk(&reader))
        return false;
    JpegMarker marker;
    *insertAt = 2;
    while (NextJpegMarker(&reader, &marker) && marker.marker == JPEG_APP0)
    {
        if (!SkipJpegPayload(&reader, marker))
            return false;
        *insertAt = static_cast<size_t>(reader.position);
    }
    return true;
}

bool PlanJpegSplice(const uint8_t *encoded, size_t size, const CarriedBlocks &blocks, uint32_t width,
                    uint32_t height, SplicePlan *plan)
{
    plan->inserted.clear();
    if (!HasCarriedBlocks(blocks) || !FindJpegInsertion(encoded, size, &plan->insertAt))
        return false;
    PutCarriedSegments(blocks, width, height, &plan->inserted);
    return true;
}

bool PlanPngSplice(const uint8_t *encoded, size_t size, const uint8_t *profile, size_t profileSize,
                   SplicePlan *plan)
{
    plan->inserted.clear();
    return profileSize > 0 && FindPngInsertion(encoded, size, &plan->insertAt) == PNG_INSERT_AFTER_IHDR &&
           BuildIccpChunk(profile, profileSize, &plan->inserted);
}

void ApplySplice(const uint8_t *encoded, size_t size, const SplicePlan &plan, std::vector<uint8_t> *out)
{
    const size_t at = plan.insertAt < size ? plan.insertAt : size;
    out->assign(encoded, encoded + at);
    out->insert(out->end(), plan.inserted.begin(), plan.inserted.end());
    out->insert(out->end(), encoded + at, encoded + size);
}
