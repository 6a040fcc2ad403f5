// The one reading of a photo file's header, natively: orientation from
// Exif blocks good and bad, the frame-size decision past markers without a
// length, headers of any length in large reads, and TIFF files.
#include "PhotoTestBytes.h"

#include "photo/PhotoHeader.h"
#include "photo/Tiff.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
// A file in memory that counts its reads and their largest size.
struct CountingFile : MemoryPhotoFile
{
    CountingFile(const Bytes &bytes) : MemoryPhotoFile(bytes.data(), bytes.size()) {}
    bool Read(uint64_t offset, void *buffer, size_t size) override
    {
        ++reads;
        largest = std::max(largest, size);
        return MemoryPhotoFile::Read(offset, buffer, size);
    }
    unsigned reads = 0;
    size_t largest = 0;
};

PhotoHeader ReadHeader(const Bytes &bytes)
{
    MemoryPhotoFile file(bytes.data(), bytes.size());
    PhotoHeader header;
    ReadPhotoHeader(&file, &header);
    return header;
}

Bytes JpegHeaderWithExif(const Bytes &tiffBlock)
{
    return InsertJpegSegment({0xFF, 0xD8}, 0xE1, ExifPayload(tiffBlock));
}

Bytes FrameHeader(uint32_t width, uint32_t height, uint8_t components)
{
    Bytes fields = {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                    static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), components};
    for (uint8_t c = 0; c < components; ++c)
        fields.insert(fields.end(), {static_cast<uint8_t>(c + 1), 0x11, 0});
    return fields;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
} // namespace

TEST(OrientationParser, MalformedBlocksReadAsUpright)
{
    const bool le = false, be = true;
    Bytes valid = BuildTiffBlock(le, {IntegerTag(le, 0x0112, 3, 6)});
    Bytes cut = valid;
    cut.resize(14);
    Bytes farIfd = valid, hugeCount = valid, loop = valid, selfNext = valid, wrongMagic = valid;
    farIfd[4] = 0xF0;                    // IFD0 past the block
    hugeCount[8] = hugeCount[9] = 0xFF;  // 65535 entries in a 26-byte block
    loop[4] = 0;                         // IFD0 at offset 0: the header read as an IFD
    selfNext[22] = 8;                    // next IFD is IFD0 again: only IFD0 is read
    wrongMagic[2] = 43;
    Bytes byteType = BuildTiffBlock(be, {{0x0112, 1, 1, {5}}});
    Bytes counted0 = BuildTiffBlock(le, {{0x0112, 3, 0, TiffValue(le, 2, {6})}});
    Bytes farValue = BuildTiffBlock(be, {{0x0112, 3, 3, TiffValue(be, 2, {6, 6, 6})}});
    farValue[18 + 3] = 0xFF; // the three values' offset points past the block
    const struct
    {
        const char *what;
        Bytes header;
        uint32_t expected;
    } cases[] = {
        {"valid, little-endian", JpegHeaderWithExif(valid), 6},
        {"valid, big-endian LONG", JpegHeaderWithExif(BuildTiffBlock(be, {IntegerTag(be, 0x0112, 4, 8)})), 8},
        {"BYTE type", JpegHeaderWithExif(byteType), 5},
        {"value 0", JpegHeaderWithExif(BuildTiffBlock(le, {IntegerTag(le, 0x0112, 3, 0)})), 1},
        {"value 9", JpegHeaderWithExif(BuildTiffBlock(be, {IntegerTag(be, 0x0112, 3, 9)})), 1},
        {"value 0x10006 as LONG", JpegHeaderWithExif(BuildTiffBlock(le, {IntegerTag(le, 0x0112, 4, 0x10006)})), 1},
        {"count 0", JpegHeaderWithExif(counted0), 1},
        {"value offset out of range", JpegHeaderWithExif(farValue), 1},
        {"truncated IFD", JpegHeaderWithExif(cut), 1},
        {"IFD offset out of range", JpegHeaderWithExif(farIfd), 1},
        {"huge entry count", JpegHeaderWithExif(hugeCount), 1},
        {"IFD0 on the header", JpegHeaderWithExif(loop), 1},
        {"next IFD loops to IFD0", JpegHeaderWithExif(selfNext), 6},
        {"wrong magic", JpegHeaderWithExif(wrongMagic), 1},
        {"no Exif signature", InsertJpegSegment({0xFF, 0xD8}, 0xE1, valid), 1},
        {"rotation tag in APP2", InsertJpegSegment({0xFF, 0xD8}, 0xE2, ExifPayload(valid)), 1},
        {"behind a restart marker and fill bytes", Concat({{0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xFF}, JpegSegment(0xE1, ExifPayload(valid))}), 6},
    };
    for (const auto &c : cases)
    {
        // An exact-size copy, so nothing past the end is ever there to read.
        EXPECT_EQ(c.expected, ReadHeader(c.header).orientation) << c.what;
        // Every cut of the segment reads as upright or as the whole; never beyond.
        for (size_t size = 0; size + 1 < c.header.size(); ++size)
            EXPECT_EQ(1u, ReadHeader(Bytes(c.header.begin(), c.header.begin() + size)).orientation)
                << c.what << " cut to " << size << " bytes";
    }
}

TEST(FrameSize, JpegPromisingMoreThanOneCopyPixelsCanTakeIsRefusedWhereverItsFrameHeaderIs)
{
    const Bytes soi = {0xFF, 0xD8};
    // Behind an APP1 full of 0xFF bytes, which must be skipped by length.
    const Bytes app1 = JpegSegment(0xE1, Bytes(300, 0xFF));
    const struct
    {
        const char *what;
        Bytes before; // what lies between SOI and the frame header
        uint32_t width, height;
        uint8_t components, marker;
        bool refused;
    } rows[] = {
        {"131,070 bytes short of 4 GiB", app1, 65535, 21845, 3, 0xC0, false},
        {"65,535 bytes past 4 GiB", app1, 65535, 21846, 3, 0xC0, true},
        {"progressive", app1, 65500, 65500, 3, 0xC2, true},
        {"grey: one byte a pixel", app1, 65500, 65500, 1, 0xC0, false},
        {"CMYK, exactly 4 GiB", app1, 32768, 32768, 4, 0xC1, true},
        {"behind a restart marker", {0xFF, 0xD0}, 65500, 65500, 3, 0xC0, true},
        {"behind every restart marker and TEM", {0xFF, 0xD3, 0xFF, 0xD7, 0xFF, 0x01}, 65500, 65500, 3, 0xC0, true},
        {"behind a second SOI and fill bytes", {0xFF, 0xFF, 0xFF, 0xD8, 0xFF}, 65500, 65500, 3, 0xC2, true},
        {"behind stray bytes and FF 00", {0x00, 0x12, 0xFF, 0x00, 0x34}, 65500, 65500, 3, 0xC0, true},
        {"behind a length of 0", {0xFF, 0xE3, 0x00, 0x00}, 65500, 65500, 3, 0xC0, true},
    };
    for (const auto &row : rows)
    {
        const Bytes jpeg = Concat({soi, row.before, JpegSegment(row.marker, FrameHeader(row.width, row.height, row.components))});
        const PhotoHeader header = ReadHeader(jpeg);
        EXPECT_EQ(PHOTO_JPEG, header.kind) << row.what;
        EXPECT_EQ(row.refused, header.frameTooLarge) << row.what;
        EXPECT_TRUE(header.frameFound && header.frameWidth == row.width && header.frameHeight == row.height)
            << row.what << ": read " << header.frameWidth << " x " << header.frameHeight;
    }
    // What is not a JPEG, or holds no frame header before its scan, is for the decoders to judge.
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(PHOTO_PNG, ReadHeader(png).kind);
    EXPECT_FALSE(ReadHeader(png).frameFound) << "a PNG cut off before its IHDR";
    EXPECT_FALSE(ReadHeader(Bytes()).frameTooLarge) << "an empty or unreadable file";
    EXPECT_FALSE(ReadHeader(Concat({soi, JpegSegment(0xDA, {1, 2}), JpegSegment(0xC0, FrameHeader(65500, 65500, 3))})).frameTooLarge);
}

TEST(PhotoHeader, HeaderOfAnyLengthIsWalkedInLargeReadsAndOnlyTheCarriedBlocksAreHeld)
{
    // 30 MiB of other segments between the Exif block and the frame header,
    // as phones write depth maps and previews.
    const Bytes exif = ExifPayload(BuildCameraExif(true, false, 6, 640, 480).tiff);
    Bytes jpeg = InsertJpegSegment({0xFF, 0xD8}, 0xE1, exif);
    const Bytes filler = JpegSegment(0xE3, Bytes(65533, 0x5A));
    while (jpeg.size() < 30u * 1024 * 1024)
        jpeg.insert(jpeg.end(), filler.begin(), filler.end());
    jpeg = Concat({jpeg, JpegSegment(0xC0, FrameHeader(4000, 3000, 3)), JpegSegment(0xDA, {1, 2})});
    CountingFile file(jpeg);
    PhotoHeader header;
    ReadPhotoHeader(&file, &header);
    EXPECT_EQ(6u, header.orientation);
    EXPECT_FALSE(header.blocks.exif.tiff.empty()) << "the Exif block was not carried";
    EXPECT_TRUE(header.frameFound && header.frameWidth == 4000 && header.frameHeight == 3000);
    EXPECT_LE(file.largest, READ_BUFFER_BYTES);
    // Each 64 KiB read lands in a different segment: at most one read per segment, plus a few.
    EXPECT_LE(file.reads, jpeg.size() / filler.size() + 4) << "read in " << file.reads << " reads";
}

TEST(PhotoHeader, TiffFileGivesTheOrientationOfItsFirstIfd)
{
    const bool be = true;
    const Bytes tiff = BuildTiffBlock(be, {IntegerTag(be, 256, 3, 4), IntegerTag(be, 0x0112, 3, 8)});
    Bytes ifdLast = TiffHeader(false);
    ifdLast.resize(100, 0x77); // pixels before the IFD
    ifdLast[4] = 100;
    AppendIfd(ifdLast, false, {IntegerTag(false, 0x0112, 4, 7)}, 0);
    EXPECT_EQ(PHOTO_TIFF, ReadHeader(tiff).kind);
    EXPECT_EQ(8u, ReadHeader(tiff).orientation);
    EXPECT_EQ(7u, ReadHeader(ifdLast).orientation);
    EXPECT_EQ(1u, ReadHeader(Bytes(ifdLast.begin(), ifdLast.end() - 1)).orientation) << "IFD cut short";
}

TEST(PhotoHeader, CameraBlocksAreCarriedEditedAndInOrder)
{
    for (int layout = 0; layout < 4; ++layout)
    {
        const bool bigEndian = layout & 1, thumbnailFirst = (layout & 2) != 0;
        const PhotoSegments input = CameraSegments(bigEndian, thumbnailFirst);
        const PhotoHeader header = ReadHeader(AddPhotoSegments({0xFF, 0xD8}, input));
        Bytes segments;
        PutCarriedSegments(header.blocks, 20, 12, &segments);
        const Bytes expected = Concat({JpegSegment(0xE1, ExifPayload(ExpectedCarriedExif(bigEndian, thumbnailFirst, 20, 12))),
                                       JpegSegment(0xE1, XmpPayload("1")), JpegSegment(0xE2, input.icc[0]),
                                       JpegSegment(0xE2, input.icc[1])});
        EXPECT_TRUE(segments == expected) << "layout " << layout << ": " << segments.size() << " bytes, expected "
                                          << expected.size();
        EXPECT_EQ(6u, header.orientation) << "layout " << layout;
    }
}

// What a decode will take is known from the header of every container the
// platform decodes, before any decoder opens the file.
TEST(PhotoHeader, FrameSizeIsReadFromTheHeadersOfPngGifBmpAndTiff)
{
    const bool be = true;
    const Bytes tiffIfdLast = [] {
        Bytes tiff = TiffHeader(false);
        tiff.resize(64, 0x55); // pixels before the IFD
        tiff[4] = 64;
        AppendIfd(tiff, false, {IntegerTag(false, 256, 4, 70000), IntegerTag(false, 257, 3, 9)}, 0);
        return tiff;
    }();
    const Bytes comment = {0x21, 0xFE, 2, 'h', 'i', 1, '!', 0}, control = {0x21, 0xF9, 4, 1, 0, 0, 0, 0};
    const struct
    {
        const char *what;
        Bytes file;
        PhotoKind kind;
        bool found;
        uint32_t width, height;
    } rows[] = {
        {"PNG", TestPngHeader(100000, 3), PHOTO_PNG, true, 100000, 3},
        {"PNG whose first chunk is not IHDR", [] { Bytes p = TestPngHeader(5, 5); p[12] = 'X'; return p; }(), PHOTO_PNG, false, 0, 0},
        {"PNG cut inside IHDR", [] { Bytes p = TestPngHeader(5, 5); p.resize(22); return p; }(), PHOTO_PNG, false, 0, 0},
        {"GIF", TestGif({}, 640, 480, 640, 480), PHOTO_GIF, true, 640, 480},
        {"GIF whose image passes its screen, behind extensions", TestGif({comment, control}, 64, 48, 700, 30), PHOTO_GIF, true, 700, 48},
        {"GIF cut inside an extension", [&] { Bytes g = TestGif({comment}, 64, 48, 700, 500); g.resize(20); return g; }(), PHOTO_GIF, true, 64, 48},
        {"GIF cut inside its header", Bytes({'G', 'I', 'F', '8', '9', 'a', 1, 0}), PHOTO_GIF, false, 0, 0},
        {"BMP", TestBmpHeader(40, 320, 200), PHOTO_BMP, true, 320, 200},
        {"BMP top-down", TestBmpHeader(124, 320, -200), PHOTO_BMP, true, 320, 200},
        {"BMP with the most negative height", TestBmpHeader(40, 1, INT32_MIN), PHOTO_BMP, true, 1, 0x80000000u},
        {"BMP with a negative width", TestBmpHeader(40, -5, 5), PHOTO_BMP, false, 0, 0},
        {"BMP with the OS/2 header", TestBmpHeader(12, 64, 48), PHOTO_BMP, true, 64, 48},
        {"BMP cut inside its info header", [] { Bytes b = TestBmpHeader(40, 3, 3); b.resize(24); return b; }(), PHOTO_BMP, false, 0, 0},
        {"TIFF", BuildTiffBlock(be, {IntegerTag(be, 256, 3, 4000), IntegerTag(be, 257, 4, 3000)}), PHOTO_TIFF, true, 4000, 3000},
        {"TIFF with its IFD after the pixels", tiffIfdLast, PHOTO_TIFF, true, 70000, 9},
        {"TIFF without ImageLength", BuildTiffBlock(be, {IntegerTag(be, 256, 3, 4)}), PHOTO_TIFF, false, 0, 0},
        {"TIFF whose IFD is cut short", Bytes(tiffIfdLast.begin(), tiffIfdLast.end() - 1), PHOTO_TIFF, false, 0, 0},
    };
    for (const auto &row : rows)
    {
        const PhotoHeader header = ReadHeader(row.file);
        EXPECT_EQ(row.kind, header.kind) << row.what;
        EXPECT_TRUE(header.frameFound == row.found && header.frameWidth == row.width && header.frameHeight == row.height)
            << row.what << ": expected " << (row.found ? "" : "no size, ") << row.width << " x " << row.height << ", read "
            << (header.frameFound ? "" : "no size, ") << header.frameWidth << " x " << header.frameHeight;
    }
}
