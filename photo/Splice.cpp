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

// Right after SOI and the APP0 segments the encoder wrote: known once the
// marker after them has been read.
static SpliceAnswer FindJpegInsertion(const uint8_t *encoded, size_t size, bool complete, size_t *insertAt)
{
    MemoryPhotoFile file(encoded, size);
    BufferedReader reader;
    StartReading(&file, &reader);
    if (!StartJpegWalk(&reader))
        return size < 2 && !complete ? SPLICE_NEEDS_MORE : SPLICE_NOTHING;
    JpegMarker marker;
    *insertAt = 2;
    for (;;)
    {
        // Bytes that end before a next marker: a whole copy ends there, a
        // copy still being written may go on with another APP0.
        if (!NextJpegMarker(&reader, &marker))
            return complete ? SPLICE_PLANNED : SPLICE_NEEDS_MORE;
        if (marker.marker != JPEG_APP0)
            return SPLICE_PLANNED;
        if (!SkipJpegPayload(&reader, marker))
            return complete ? SPLICE_NOTHING : SPLICE_NEEDS_MORE;
        *insertAt = static_cast<size_t>(reader.position);
    }
}

SpliceAnswer PlanJpegSplice(const uint8_t *encoded, size_t size, bool complete, const CarriedBlocks &blocks,
                            uint32_t width, uint32_t height, SplicePlan *plan)
{
    plan->inserted.clear();
    if (!HasCarriedBlocks(blocks))
        return SPLICE_NOTHING;
    const SpliceAnswer answer = FindJpegInsertion(encoded, size, complete, &plan->insertAt);
    if (answer == SPLICE_PLANNED)
        PutCarriedSegments(blocks, width, height, &plan->inserted);
    return answer;
}

SpliceAnswer PlanPngSplice(const uint8_t *encoded, size_t size, bool complete, const uint8_t *profile,
                           size_t profileSize, SplicePlan *plan)
{
    plan->inserted.clear();
    if (profileSize == 0)
        return SPLICE_NOTHING;
    switch (FindPngInsertion(encoded, size, &plan->insertAt))
    {
    case PNG_INSERT_AFTER_IHDR:
        return BuildIccpChunk(profile, profileSize, &plan->inserted) ? SPLICE_PLANNED : SPLICE_NOTHING;
    case PNG_NEEDS_MORE:
        return complete ? SPLICE_NOTHING : SPLICE_NEEDS_MORE;
    default:
        return SPLICE_NOTHING;
    }
}

void ApplySplice(const uint8_t *encoded, size_t size, const SplicePlan &plan, std::vector<uint8_t> *out)
{
    const size_t at = plan.insertAt < size ? plan.insertAt : size;
    out->assign(encoded, encoded + at);
    out->insert(out->end(), plan.inserted.begin(), plan.inserted.end());
    out->insert(out->end(), encoded + at, encoded + size);
}
