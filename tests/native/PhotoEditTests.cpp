// The splice, natively: carried blocks go in at their place or the
// encoded bytes stay as they were.
#include "PhotoTestBytes.h"

#include "photo/PhotoHeader.h"
#include "photo/PngChunks.h"
#include "photo/Splice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
Bytes Png(std::initializer_list<const char *> chunks)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const char *type : chunks)
    {
        const uint32_t length = std::strcmp(type, "IHDR") == 0 ? 13 : 0;
        Bytes chunk = TiffValue(true, 4, {length});
        chunk.insert(chunk.end(), type, type + 4);
        chunk.resize(chunk.size() + length, 1);
        const uint32_t crc = Crc32(chunk.data() + 4, chunk.size() - 4);
        const Bytes crcBytes = TiffValue(true, 4, {crc});
        chunk.insert(chunk.end(), crcBytes.begin(), crcBytes.end());
        png.insert(png.end(), chunk.begin(), chunk.end());
    }
    return png;
}
} // namespace

TEST(Splice, EncodedFilesThatCannotTakeTheBlocksAreLeftAlone)
{
    const Bytes photo = AddPhotoSegments({0xFF, 0xD8}, CameraSegments(false, false));
    MemoryPhotoFile file(photo.data(), photo.size());
    PhotoHeader header;
    ReadPhotoHeader(&file, &header);
    ASSERT_TRUE(HasCarriedBlocks(header.blocks));
    const Bytes profile = MakeIccProfile("RGB ", 300);
    const char notJpeg[] = "GIF89a not a JPEG";
    SplicePlan plan;
    EXPECT_EQ(SPLICE_NOTHING, PlanJpegSplice(reinterpret_cast<const uint8_t *>(notJpeg), sizeof(notJpeg) - 1, true,
                                             header.blocks, 1, 1, &plan));
    const Bytes cutApp0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'};
    EXPECT_EQ(SPLICE_NOTHING, PlanJpegSplice(cutApp0.data(), cutApp0.size(), true, header.blocks, 1, 1, &plan))
        << "APP0 cut short";
    Bytes cutPng = Png({"IHDR"});
    cutPng.resize(cutPng.size() - 2);
    // The fuzzer's find: an IHDR that claims 3 bytes, not 13.
    Bytes shortIhdr = Png({"IHDR", "IDAT", "IEND"});
    shortIhdr[11] = 3;
    const struct
    {
        const char *what;
        Bytes png;
    } rows[] = {{"first chunk not IHDR", Png({"IDAT", "IHDR", "IEND"})},
                {"sRGB said", Png({"IHDR", "sRGB", "IDAT", "IEND"})},
                {"a profile of its own", Png({"IHDR", "iCCP", "IDAT", "IEND"})},
                {"cut inside a chunk", cutPng},
                {"IHDR not 13 bytes long", shortIhdr}};
    for (const auto &row : rows)
        EXPECT_EQ(SPLICE_NOTHING, PlanPngSplice(row.png.data(), row.png.size(), true, profile.data(), profile.size(), &plan))
            << row.what;
    const Bytes plain = Png({"IHDR", "IDAT", "IEND"});
    ASSERT_EQ(SPLICE_PLANNED, PlanPngSplice(plain.data(), plain.size(), true, profile.data(), profile.size(), &plan));
    EXPECT_EQ(33u, plan.insertAt) << "right after IHDR";
}

// A writer decides from the copy's first bytes: every shorter start of a
// copy either asks for more or answers as the whole copy does, and the
// answer comes once the encoder has written the first segment or chunk
// after the place.
TEST(Splice, TheFirstBytesOfACopyAnswerAsTheWholeCopy)
{
    const Bytes photo = AddPhotoSegments({0xFF, 0xD8}, CameraSegments(false, false));
    MemoryPhotoFile file(photo.data(), photo.size());
    PhotoHeader header;
    ReadPhotoHeader(&file, &header);
    const Bytes profile = MakeIccProfile("RGB ", 300);
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F', 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xDB, 0x00, 0x03, 7};
    const size_t jpegDecidedBy = 16; // the DQT marker and its length read
    const Bytes png = Png({"IHDR", "pHYs", "IDAT", "IEND"});
    const size_t pngDecidedBy = 33 + 12 + 8; // the IDAT chunk's length and type read
    for (int kind = 0; kind < 2; ++kind)
    {
        const Bytes &copy = kind == 0 ? jpeg : png;
        const size_t decidedBy = kind == 0 ? jpegDecidedBy : pngDecidedBy;
        auto plan = [&](size_t size, bool complete, SplicePlan *out) {
            return kind == 0 ? PlanJpegSplice(copy.data(), size, complete, header.blocks, 40, 30, out)
                             : PlanPngSplice(copy.data(), size, complete, profile.data(), profile.size(), out);
        };
        SplicePlan whole, start;
        ASSERT_EQ(SPLICE_PLANNED, plan(copy.size(), true, &whole)) << "kind " << kind;
        for (size_t size = 0; size <= copy.size(); ++size)
        {
            const SpliceAnswer answer = plan(size, false, &start);
            EXPECT_EQ(size >= decidedBy ? SPLICE_PLANNED : SPLICE_NEEDS_MORE, answer) << "kind " << kind << ", " << size << " bytes";
            if (answer == SPLICE_PLANNED)
                EXPECT_TRUE(start.insertAt == whole.insertAt && start.inserted == whole.inserted) << size << " bytes";
        }
    }
}
