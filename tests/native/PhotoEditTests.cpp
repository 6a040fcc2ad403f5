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
    EXPECT_FALSE(PlanJpegSplice(reinterpret_cast<const uint8_t *>(notJpeg), sizeof(notJpeg) - 1, header.blocks, 1, 1, &plan));
    const Bytes cutApp0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'};
    EXPECT_FALSE(PlanJpegSplice(cutApp0.data(), cutApp0.size(), header.blocks, 1, 1, &plan)) << "APP0 cut short";
    Bytes cutPng = Png({"IHDR"});
    cutPng.resize(cutPng.size() - 2);
    const struct
    {
        const char *what;
        Bytes png;
    } rows[] = {{"first chunk not IHDR", Png({"IDAT", "IHDR", "IEND"})},
                {"sRGB said", Png({"IHDR", "sRGB", "IDAT", "IEND"})},
                {"a profile of its own", Png({"IHDR", "iCCP", "IDAT", "IEND"})},
                {"cut inside a chunk", cutPng}};
    for (const auto &row : rows)
        EXPECT_FALSE(PlanPngSplice(row.png.data(), row.png.size(), profile.data(), profile.size(), &plan)) << row.what;
    const Bytes plain = Png({"IHDR", "IDAT", "IEND"});
    ASSERT_TRUE(PlanPngSplice(plain.data(), plain.size(), profile.data(), profile.size(), &plan));
    EXPECT_EQ(33u, plan.insertAt) << "right after IHDR";
}
