// Fuzz target: the splice into an encoded JPEG (first byte even) or PNG
// (odd) of blocks made from a fixed camera photo. Promises checked: with a
// plan, the output is the input with exactly the planned bytes at one
// place, after SOI and APP0 for a JPEG (and read again, the JPEG's
// carried blocks are the ones put in), after IHDR for a PNG (which then
// says it has a profile); without one, the caller keeps the input as it is.
// Every start of the input answers as the whole input does, or asks for
// more, so a writer may decide before the encoder has finished.
#include "FuzzCheck.h"

#include "native/PhotoTestBytes.h"
#include "photo/PhotoHeader.h"
#include "photo/PngChunks.h"

#include <cstring>

namespace
{
const CarriedBlocks &CameraBlocks()
{
    static PhotoHeader header;
    static bool made = false;
    if (!made)
    {
        const Bytes photo = AddPhotoSegments({0xFF, 0xD8}, CameraSegments(true, false));
        MemoryPhotoFile file(photo.data(), photo.size());
        ReadPhotoHeader(&file, &header);
        made = true;
    }
    return header.blocks;
}

void CheckInsertedOnce(const uint8_t *data, size_t size, const SplicePlan &plan, const std::vector<uint8_t> &out)
{
    FUZZ_CHECK(plan.insertAt <= size && out.size() == size + plan.inserted.size());
    FUZZ_CHECK(std::memcmp(out.data(), data, plan.insertAt) == 0);
    FUZZ_CHECK(std::memcmp(out.data() + plan.insertAt, plan.inserted.data(), plan.inserted.size()) == 0);
    FUZZ_CHECK(std::memcmp(out.data() + plan.insertAt + plan.inserted.size(), data + plan.insertAt, size - plan.insertAt) == 0);
}

template <class Plan> void CheckStartsAnswerAsTheWhole(size_t size, Plan plan)
{
    SplicePlan whole, start;
    const SpliceAnswer answer = plan(size, true, &whole);
    FUZZ_CHECK(answer != SPLICE_NEEDS_MORE);
    for (size_t cut = 0; cut <= size; cut += size / 16 + 1)
    {
        const SpliceAnswer early = plan(cut, false, &start);
        FUZZ_CHECK(early == SPLICE_NEEDS_MORE || early == answer);
        FUZZ_CHECK(early != SPLICE_PLANNED || (start.insertAt == whole.insertAt && start.inserted == whole.inserted));
    }
}

void FuzzJpeg(const uint8_t *data, size_t size)
{
    const CarriedBlocks &blocks = CameraBlocks();
    CheckStartsAnswerAsTheWhole(size, [&](size_t cut, bool complete, SplicePlan *plan) {
        return PlanJpegSplice(data, cut, complete, blocks, 40, 30, plan);
    });
    SplicePlan plan;
    if (PlanJpegSplice(data, size, true, blocks, 40, 30, &plan) != SPLICE_PLANNED)
        return;
    std::vector<uint8_t> out, expected;
    ApplySplice(data, size, plan, &out);
    CheckInsertedOnce(data, size, plan, out);
    PutCarriedSegments(blocks, 40, 30, &expected);
    FUZZ_CHECK(plan.inserted == expected);
    MemoryPhotoFile file(out.data(), out.size());
    static PhotoHeader reread;
    ReadPhotoHeader(&file, &reread);
    std::vector<uint8_t> exif, again;
    PutExifSegment(blocks.exif, 40, 30, &exif);
    PutExifSegment(reread.blocks.exif, 40, 30, &again);
    FUZZ_CHECK(exif == again && reread.blocks.xmp == blocks.xmp && reread.orientation == 1);
}

void FuzzPng(const uint8_t *data, size_t size)
{
    static const Bytes profile = MakeIccProfile("RGB ", 400);
    CheckStartsAnswerAsTheWhole(size, [&](size_t cut, bool complete, SplicePlan *plan) {
        return PlanPngSplice(data, cut, complete, profile.data(), profile.size(), plan);
    });
    SplicePlan plan;
    if (PlanPngSplice(data, size, true, profile.data(), profile.size(), &plan) != SPLICE_PLANNED)
        return;
    std::vector<uint8_t> out;
    ApplySplice(data, size, plan, &out);
    CheckInsertedOnce(data, size, plan, out);
    size_t insertAt = 0;
    FUZZ_CHECK(plan.insertAt >= 33 && std::memcmp(data + 12, "IHDR", 4) == 0);
    FUZZ_CHECK(FindPngInsertion(out.data(), out.size(), &insertAt) == PNG_HAS_PROFILE);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        FuzzPng(data + 1, size - 1);
    else
        FuzzJpeg(data + 1, size - 1);
    return 0;
}
