// Fuzz target: the one reading of a JPEG header (walker, frame header,
// orientation, the blocks carried). Promises checked: the same answers
// whatever the reader's buffer size; an orientation of 1 to 8; what is
// carried is whole segments that, read again, come out as themselves and
// say orientation 1, the Exif block linking no IFD1.
#include "FuzzCheck.h"

#include "photo/PhotoHeader.h"
#include "photo/Tiff.h"

#include <cstring>

static void CheckSameReading(const PhotoHeader &a, const PhotoHeader &b)
{
    FUZZ_CHECK(a.kind == b.kind && a.orientation == b.orientation && a.frameFound == b.frameFound);
    FUZZ_CHECK(a.frameWidth == b.frameWidth && a.frameHeight == b.frameHeight && a.frameTooLarge == b.frameTooLarge);
    std::vector<uint8_t> first, second;
    PutCarriedSegments(a.blocks, 300, 200, &first);
    PutCarriedSegments(b.blocks, 300, 200, &second);
    FUZZ_CHECK(first == second);
}

// Whole segments: each length runs exactly to the next one, none past the end.
static void CheckWholeSegments(const std::vector<uint8_t> &segments)
{
    size_t p = 0;
    while (p < segments.size())
    {
        FUZZ_CHECK(segments.size() - p >= 4 && segments[p] == 0xFF);
        const size_t length = static_cast<size_t>(segments[p + 2]) << 8 | segments[p + 3];
        FUZZ_CHECK(length >= 2 && length <= segments.size() - p - 2);
        p += 2 + length;
    }
}

static void CheckNoIfd1(const CarriedExif &exif)
{
    ByteView view;
    uint32_t firstIfd = 0, next = 1;
    uint16_t count = 0;
    FUZZ_CHECK(OpenTiff(exif.tiff.data(), exif.tiff.size(), &view, &firstIfd));
    FUZZ_CHECK(ReadIfdCount(view, firstIfd, &count) && ReadU32(view, firstIfd + IfdBytes(count) - 4, &next));
    FUZZ_CHECK(next == 0);
    FUZZ_CHECK(exif.pixelXEntry == 0 || exif.pixelXEntry + 12 <= exif.tiff.size());
    FUZZ_CHECK(exif.pixelYEntry == 0 || exif.pixelYEntry + 12 <= exif.tiff.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryPhotoFile file(data, size);
    static PhotoHeader header, small;
    ReadPhotoHeader(&file, &header);
    ReadPhotoHeader(&file, &small, 1 + (size ? data[size - 1] % 13 : 0));
    CheckSameReading(header, small);
    FUZZ_CHECK(header.orientation >= 1 && header.orientation <= 8);
    if (!HasCarriedBlocks(header.blocks))
        return 0;
    FUZZ_CHECK(header.kind == PHOTO_JPEG);
    std::vector<uint8_t> carried = {0xFF, 0xD8};
    PutCarriedSegments(header.blocks, 300, 200, &carried);
    CheckWholeSegments(std::vector<uint8_t>(carried.begin() + 2, carried.end()));
    if (!header.blocks.exif.tiff.empty())
        CheckNoIfd1(header.blocks.exif);
    MemoryPhotoFile again(carried.data(), carried.size());
    static PhotoHeader reread;
    ReadPhotoHeader(&again, &reread);
    FUZZ_CHECK(reread.orientation == 1);
    std::vector<uint8_t> second = {0xFF, 0xD8};
    PutCarriedSegments(reread.blocks, 300, 200, &second);
    FUZZ_CHECK(second == carried);
    return 0;
}
