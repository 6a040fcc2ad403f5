// Hostile files in a folder batch: empty, cut off, mislabelled, random, and
// headers that promise impossible sizes. Each is followed in the same walk
// by a good image; the batch must neither crash nor hang, must write for
// the hostile file either nothing or a whole image of the promised size, and
// must still resize the good image after it.
#include "RobustSupport.h"

#include "batch/ResizePipeline.h"
#include "imaging/Win32PhotoFile.h"
#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace
{
const DWORD WALK_LIMIT_MS = 60000;
const UINT GOOD_WIDTH = 40, GOOD_HEIGHT = 30;

void PutBigEndian32(BYTE *at, uint32_t value)
{
    at[0] = static_cast<BYTE>(value >> 24);
    at[1] = static_cast<BYTE>(value >> 16);
    at[2] = static_cast<BYTE>(value >> 8);
    at[3] = static_cast<BYTE>(value);
}

std::vector<BYTE> FirstHalf(std::vector<BYTE> bytes)
{
    bytes.resize(bytes.size() / 2);
    return bytes;
}

// IHDR is always the first chunk: length at 8, "IHDR" at 12, width at 16,
// height at 20, its CRC (over type and data) at 29.
std::vector<BYTE> PngClaiming(UINT width, UINT height)
{
    std::vector<BYTE> bytes = MakeImageBytes(GOOD_WIDTH, GOOD_HEIGHT, GUID_ContainerFormatPng);
    if (bytes.size() < 33 || memcmp(&bytes[12], "IHDR", 4) != 0)
        return std::vector<BYTE>();
    PutBigEndian32(&bytes[16], width);
    PutBigEndian32(&bytes[20], height);
    PutBigEndian32(&bytes[29], Crc32(&bytes[12], 17));
    return bytes;
}

// Walks the JPEG's marker segments up to the frame header (SOF0 or SOF2)
// and writes the claimed height and width into it.
std::vector<BYTE> JpegClaiming(UINT width, UINT height)
{
    std::vector<BYTE> bytes = MakeImageBytes(GOOD_WIDTH, GOOD_HEIGHT, GUID_ContainerFormatJpeg);
    size_t p = 2;
    while (p + 9 <= bytes.size() && bytes[p] == 0xFF)
    {
        const BYTE marker = bytes[p + 1];
        if (marker == 0xC0 || marker == 0xC2)
        {
            bytes[p + 5] = static_cast<BYTE>(height >> 8);
            bytes[p + 6] = static_cast<BYTE>(height);
            bytes[p + 7] = static_cast<BYTE>(width >> 8);
            bytes[p + 8] = static_cast<BYTE>(width);
            return bytes;
        }
        p += 2 + (bytes[p + 2] << 8 | bytes[p + 3]);
    }
    return std::vector<BYTE>();
}

// Keeps the GIF's block structure but scrambles the LZW data of the first
// image, so that the decoder meets impossible codes.
std::vector<BYTE> GifWithScrambledData()
{
    std::vector<BYTE> bytes = MakeImageBytes(64, 48, GUID_ContainerFormatGif);
    if (bytes.size() < 13)
        return std::vector<BYTE>();
    size_t p = 13;
    if (bytes[10] & 0x80)
        p += 3u << ((bytes[10] & 7) + 1);
    while (p < bytes.size() && bytes[p] == 0x21) // extensions: label, then sub-blocks
    {
        p += 2;
        while (p < bytes.size() && bytes[p])
            p += bytes[p] + 1;
        ++p;
    }
    if (p + 10 >= bytes.size() || bytes[p] != 0x2C)
        return std::vector<BYTE>();
    const BYTE flags = bytes[p + 9];
    p += 10;
    if (flags & 0x80)
        p += 3u << ((flags & 7) + 1);
    ++p; // LZW minimum code size
    Random random(7);
    size_t scrambled = 0;
    while (p < bytes.size() && bytes[p])
    {
        const size_t length = bytes[p];
        for (size_t i = p + 1; i <= p + length && i < bytes.size(); ++i, ++scrambled)
            bytes[i] = static_cast<BYTE>(random.Next());
        p += length + 1;
    }
    return scrambled ? bytes : std::vector<BYTE>();
}

std::vector<BYTE> RandomBytes(size_t size, uint32_t seed, const char *prefix = "")
{
    Random random(seed);
    std::vector<BYTE> bytes(prefix, prefix + strlen(prefix));
    while (bytes.size() < size)
        bytes.push_back(static_cast<BYTE>(random.Next()));
    return bytes;
}

struct Hostile
{
    std::wstring name;
    std::vector<BYTE> bytes;
    UINT claimedWidth, claimedHeight; // the size an output must have; 0: whatever the decoder reports
};

bool WriteInput(const std::wstring &path, const std::vector<BYTE> &bytes)
{
    static const BYTE nothing = 0;
    return WriteFileBytes(path, bytes.empty() ? &nothing : bytes.data(), bytes.size());
}

// Puts every hostile file into one folder, each followed by a good PNG,
// walks it once and checks everything the batch promises.
void ExpectBatchSurvives(const std::vector<Hostile> &files)
{
    ASSERT_FALSE(g_quitRequested.load());
    ScaleGuard scale(0.25f);
    const std::wstring folder = MakeTempFolder(L"hostile");
    ASSERT_FALSE(folder.empty());
    const std::vector<BYTE> good = MakeImageBytes(GOOD_WIDTH, GOOD_HEIGHT, GUID_ContainerFormatPng);
    ASSERT_FALSE(good.empty());
    for (size_t i = 0; i < files.size(); ++i)
    {
        // Listings come sorted without regard to case: the number keeps
        // each hostile file directly before its good partner.
        wchar_t prefix[8];
        swprintf(prefix, 8, L"%02u_", static_cast<unsigned>(i));
        ASSERT_FALSE(files[i].bytes.empty() && files[i].name.find(L"zero") == std::wstring::npos)
            << "could not make " << Narrow(files[i].name);
        ASSERT_TRUE(WriteInput(folder + L"\\" + prefix + L"a_" + files[i].name, files[i].bytes));
        ASSERT_TRUE(WriteInput(folder + L"\\" + prefix + L"b_good.png", good));
    }
    const std::map<std::wstring, uint64_t> before = HashFiles(folder);

    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed)) << "the walk took longer than " << WALK_LIMIT_MS << " ms";

    EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
    const std::wstring output = OutputFolderOf(folder);
    const std::wstring scratch = folder + L"\\Resized\\direct";
    ASSERT_TRUE(CreateDirectoryW(scratch.c_str(), NULL));
    for (size_t i = 0; i < files.size(); ++i)
    {
        wchar_t prefix[8];
        swprintf(prefix, 8, L"%02u_", static_cast<unsigned>(i));
        const std::wstring goodOut = output + L"\\" + prefix + L"b_good.png";
        DecodedImage image = DecodeCompletely(goodOut);
        EXPECT_EQ(S_OK, image.hr) << "the good image after " << Narrow(files[i].name)
                                  << " must be resized; decoding its output gave " << Hex(image.hr);
        EXPECT_EQ(ExpectedSide(GOOD_WIDTH, 0.25f), image.width);
        EXPECT_EQ(ExpectedSide(GOOD_HEIGHT, 0.25f), image.height);

        const std::wstring hostileOut = output + L"\\" + prefix + L"a_" + files[i].name;
        std::string outcome = "no output";
        if (FileExists(hostileOut))
        {
            UINT width = files[i].claimedWidth, height = files[i].claimedHeight;
            if (width == 0)
            {
                // Nothing is promised: the size the decoder reports counts.
                GUID container;
                HRESULT hr = ProbeImageFile(folder + L"\\" + prefix + L"a_" + files[i].name, &container, &width, &height);
                EXPECT_EQ(S_OK, hr) << Narrow(files[i].name) << ": an output exists, yet the input does not decode";
            }
            image = DecodeCompletely(hostileOut);
            EXPECT_EQ(S_OK, image.hr) << Narrow(files[i].name) << ": an output exists but does not decode: "
                                      << Hex(image.hr);
            EXPECT_EQ(ExpectedSide(width, 0.25f), image.width) << Narrow(files[i].name);
            EXPECT_EQ(ExpectedSide(height, 0.25f), image.height) << Narrow(files[i].name);
            outcome = "whole output " + std::to_string(image.width) + " x " + std::to_string(image.height);
        }
        // For the record: how far the platform's decoder gets with the file
        // on its own, and what the pipeline answers for it.
        GUID container;
        UINT width = 0, height = 0;
        const std::wstring input = folder + L"\\" + prefix + L"a_" + files[i].name;
        // A JPEG promising more than 4 GiB of pixels is not handed to the
        // decoder here either: Wine's decodes it when created and crashes.
        PhotoHeader header;
        ReadPhotoFileHeader(input.c_str(), &header);
        const bool handedOver = !header.frameTooLarge;
        HRESULT probe = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
        if (handedOver)
            probe = ProbeImageFile(input, &container, &width, &height);
        HRESULT verdict = ResizeImageFile(NULL, input.c_str(), (scratch + L"\\" + files[i].name).c_str());
        if (SUCCEEDED(probe))
            outcome += ", decoder opens it as " + std::to_string(width) + " x " + std::to_string(height);
        else
            outcome += (handedOver ? ", decoder refuses it: " : ", too large for any decoder: ") + Hex(probe);
        outcome += ", pipeline " + Hex(verdict);
        printf("[hostile] %-16s %s\n", Narrow(files[i].name).c_str(), outcome.c_str());
        ::testing::Test::RecordProperty(Narrow(files[i].name), outcome);
    }
    for (const std::wstring &name : ListFolder(scratch))
    {
        DecodedImage image = DecodeCompletely(scratch + L"\\" + name);
        EXPECT_EQ(S_OK, image.hr) << "a direct call left an output that does not decode: " << Narrow(name);
    }
    for (const std::wstring &leftover : FindLeftovers(folder))
        ADD_FAILURE() << "partial file left behind: " << Narrow(leftover);
    for (const std::wstring &name : ListFolder(output))
    {
        const bool expected = name.find(L"_b_good.png") != std::wstring::npos ||
                              name.find(L"_a_") != std::wstring::npos || name == L"direct";
        EXPECT_TRUE(expected) << "unexpected file in Resized: " << Narrow(name);
    }
    printf("[hostile] walk over %u files: %lu ms, hangs: %d\n", static_cast<unsigned>(2 * files.size()),
           static_cast<unsigned long>(elapsed), elapsed >= WALK_LIMIT_MS ? 1 : 0);
    RemoveTestFolder(folder);
}

Hostile ZeroBytes() { return {L"zero.jpg", std::vector<BYTE>(), 0, 0}; }
Hostile HalfJpeg()
{
    return {L"half.jpg", FirstHalf(MakeImageBytes(64, 48, GUID_ContainerFormatJpeg)), 64, 48};
}
Hostile HalfPng() { return {L"half.png", FirstHalf(MakeImageBytes(64, 48, GUID_ContainerFormatPng)), 64, 48}; }
Hostile TextAsPng()
{
    const char text[] = "This is a shopping list, not a picture.\r\nMilk\r\nBread\r\n";
    return {L"notes.png", std::vector<BYTE>(text, text + sizeof(text) - 1), 0, 0};
}
Hostile HugePng() { return {L"huge.png", PngClaiming(60000, 60000), 60000, 60000}; }
Hostile HugeJpeg() { return {L"huge.jpg", JpegClaiming(65500, 65500), 65500, 65500}; }
// A restart marker, which carries no length, right after SOI: a reader that
// takes the next marker's bytes for its length steps over the frame header.
Hostile HugeJpegBehindRestartMarker()
{
    std::vector<BYTE> bytes = JpegClaiming(65500, 65500);
    const BYTE restart[2] = {0xFF, 0xD0};
    if (!bytes.empty())
        bytes.insert(bytes.begin() + 2, restart, restart + 2);
    return {L"huge-rst.jpg", bytes, 65500, 65500};
}
Hostile ScrambledGif() { return {L"scrambled.gif", GifWithScrambledData(), 64, 48}; }
} // namespace

TEST(HostileInput, ZeroByteFile)
{
    ExpectBatchSurvives({ZeroBytes()});
}

TEST(HostileInput, JpegCutInHalf)
{
    ExpectBatchSurvives({HalfJpeg()});
}

TEST(HostileInput, PngCutInHalf)
{
    ExpectBatchSurvives({HalfPng()});
}

TEST(HostileInput, TextFileNamedPng)
{
    ExpectBatchSurvives({TextAsPng()});
}

TEST(HostileInput, RandomBytesNamedBmp)
{
    // With and without a bitmap signature, so that the BMP decoder itself
    // reads the nonsense in the second case.
    ExpectBatchSurvives({{L"random.bmp", RandomBytes(4096, 1), 0, 0}, {L"random-bm.bmp", RandomBytes(4096, 2, "BM"), 0, 0}});
}

TEST(HostileInput, PngHeaderClaims60000By60000)
{
    ExpectBatchSurvives({HugePng()});
}

TEST(HostileInput, GifWithScrambledImageData)
{
    ExpectBatchSurvives({ScrambledGif()});
}

TEST(HostileInput, JpegFrameHeaderClaims65500By65500)
{
    ExpectBatchSurvives({HugeJpeg()});
}

TEST(HostileInput, JpegFrameHeaderClaims65500By65500BehindARestartMarker)
{
    ExpectBatchSurvives({HugeJpegBehindRestartMarker()});
}

TEST(HostileInput, AllTogetherInOneWalk)
{
    ExpectBatchSurvives({ZeroBytes(), HalfJpeg(), HalfPng(), TextAsPng(), HugePng(), ScrambledGif(), HugeJpeg(),
                         HugeJpegBehindRestartMarker()});
}
