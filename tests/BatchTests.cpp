// Resize settings and the per-image pipeline against the real WIC.
#include "TestImages.h"

#include "batch/ResizePipeline.h"
#include "batch/ResizeSettings.h"
#include "imaging/ImagingContext.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <string.h>

namespace
{
UINT BitsOf(float value)
{
    UINT bits;
    memcpy(&bits, &value, sizeof(bits));
    return bits;
}

UINT Stripes(UINT x, UINT)
{
    return x % 2 ? 0xFF8000 : 0x0080FF;
}

class PipelineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"pipeline");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(TestFactory() != NULL);
    }
    void TearDown() override
    {
        ApplySizeChoice(ID_SIZE_25);
        RemoveTree(folder);
    }
    std::wstring MakeImage(const wchar_t *name, UINT width, UINT height, REFGUID container)
    {
        Com<IWICBitmap> bitmap;
        EXPECT_EQ(S_OK, MakeBgrBitmap(width, height, Stripes, &bitmap));
        std::wstring path = folder + L"\\" + name;
        HRESULT hr = EncodeToFile(bitmap, container, path);
        EXPECT_EQ(S_OK, hr) << Narrow(name) << ": " << Hex(hr);
        return path;
    }
    std::wstring folder;
};
} // namespace

TEST(ResizeSettings, StartsAt25PercentWithExactFactorBits)
{
    EXPECT_EQ(ID_SIZE_25, g_sizeChoiceId);
    EXPECT_EQ(0x3E800000u, BitsOf(g_scaleFactor));
}

TEST(ResizeSettings, EachChoiceStoresItsIdAndExactFactor)
{
    const struct
    {
        int id;
        const wchar_t *label;
        UINT bits;
    } rows[] = {{ID_SIZE_10, L"10%", 0x3DCCCCCD},  {ID_SIZE_25, L"25%", 0x3E800000},   {ID_SIZE_50, L"50%", 0x3F000000},
                {ID_SIZE_75, L"75%", 0x3F400000},  {ID_SIZE_125, L"125%", 0x3FA00000}, {ID_SIZE_150, L"150%", 0x3FC00000}};
    for (int i = 0; i < SIZE_CHOICE_COUNT; ++i)
    {
        EXPECT_EQ(rows[i].id, g_sizeChoices[i].id);
        EXPECT_STREQ(rows[i].label, g_sizeChoices[i].label);
        ASSERT_TRUE(ApplySizeChoice(rows[i].id));
        EXPECT_EQ(rows[i].id, g_sizeChoiceId);
        EXPECT_EQ(rows[i].bits, BitsOf(g_scaleFactor)) << Narrow(rows[i].label);
    }
    EXPECT_FALSE(ApplySizeChoice(1007));
    EXPECT_EQ(ID_SIZE_150, g_sizeChoiceId) << "an unknown id must change nothing";
    ApplySizeChoice(ID_SIZE_25);
}

TEST(TargetSize, MatchesTheWorkedTable)
{
    const struct
    {
        UINT width, height;
        float scale;
        UINT targetWidth, targetHeight;
    } rows[] = {
        {4000, 3000, 0.25f, 1000, 750}, {4000, 3000, 0.1f, 400, 300}, {4000, 3000, 1.5f, 6000, 4500},
        {4002, 3002, 0.25f, 1001, 751}, {1001, 333, 1.25f, 1251, 416}, {1001, 333, 0.75f, 751, 250},
        {3, 5, 1.5f, 5, 8},             {2, 2, 1.25f, 3, 3},           {15, 5, 0.1f, 2, 1},
        {4, 4, 0.1f, 0, 0},             {1, 1, 0.25f, 0, 0},           {1, 1, 0.5f, 1, 1},
        {1, 1, 1.5f, 2, 2},
    };
    for (const auto &row : rows)
    {
        UINT width = 99, height = 99;
        ASSERT_TRUE(ComputeTargetSide(row.width, row.scale, &width));
        ASSERT_TRUE(ComputeTargetSide(row.height, row.scale, &height));
        EXPECT_EQ(row.targetWidth, width) << row.width << " x " << row.height << " at " << row.scale;
        EXPECT_EQ(row.targetHeight, height) << row.width << " x " << row.height << " at " << row.scale;
    }
}

TEST(TargetSize, RefusesSidesThatDoNotFit32Bits)
{
    UINT side = 1;
    EXPECT_FALSE(ComputeTargetSide(0xFFFFFFFFu, 1.5f, &side));
    EXPECT_EQ(0u, side);
    EXPECT_TRUE(ComputeTargetSide(0xFFFFFFFFu, 0.5f, &side));
    EXPECT_EQ(2147483648u, side);
}

TEST(PixelFormat, OnlyThe32bppBgrGuidMatches)
{
    EXPECT_TRUE(IsBgr32Format(GUID_WICPixelFormat32bppBGR));
    EXPECT_FALSE(IsBgr32Format(GUID_WICPixelFormat32bppBGRA));
    EXPECT_FALSE(IsBgr32Format(GUID_WICPixelFormat32bppPBGRA));
    EXPECT_FALSE(IsBgr32Format(GUID_WICPixelFormat24bppBGR));
}

TEST_F(PipelineTest, WritesTheScaledImageInItsOwnContainer)
{
    ApplySizeChoice(ID_SIZE_150);
    const std::wstring input = MakeImage(L"in.png", 3, 5, GUID_ContainerFormatPng);
    const std::wstring output = folder + L"\\out.png";
    HRESULT hr = ResizeImageFile(NULL, input.c_str(), output.c_str());
    ASSERT_EQ(S_OK, hr) << Hex(hr);
    GUID container;
    UINT width = 0, height = 0;
    ASSERT_EQ(S_OK, ProbeImageFile(output, &container, &width, &height));
    EXPECT_TRUE(IsEqualGUID(GUID_ContainerFormatPng, container));
    EXPECT_EQ(5u, width);
    EXPECT_EQ(8u, height);
}

TEST_F(PipelineTest, LeavesPreviewAndCurrentSourceOfTheLastImage)
{
    const std::wstring input = MakeImage(L"wide.bmp", 3000, 1000, GUID_ContainerFormatBmp);
    ASSERT_EQ(S_OK, ResizeImageFile(NULL, input.c_str(), (folder + L"\\o.bmp").c_str()));
    BITMAP info;
    AcquireSRWLockShared(&g_previewLock);
    const int got = GetObjectW(g_imaging->previewBitmap, sizeof(info), &info);
    ReleaseSRWLockShared(&g_previewLock);
    ASSERT_EQ(static_cast<int>(sizeof(info)), got);
    EXPECT_EQ(284, info.bmWidth);
    EXPECT_EQ(95, abs(info.bmHeight));
    UINT width = 0, height = 0;
    ASSERT_TRUE(g_imaging->currentSource != NULL);
    ASSERT_EQ(S_OK, g_imaging->currentSource->GetSize(&width, &height));
    EXPECT_EQ(3000u, width);
    EXPECT_EQ(1000u, height);
}

TEST_F(PipelineTest, OnePixelAtQuarterSizeYieldsNoFile)
{
    const std::wstring input = MakeImage(L"dot.png", 1, 1, GUID_ContainerFormatPng);
    HRESULT hr = ResizeImageFile(NULL, input.c_str(), (folder + L"\\dot-out.png").c_str());
    EXPECT_TRUE(FAILED(hr)) << "a 0 x 0 target must fail, got " << Hex(hr);
    EXPECT_FALSE(FileExists(folder + L"\\dot-out.png"));
}

TEST_F(PipelineTest, MultiFrameFilesWriteFrameZeroOnly)
{
    Com<IWICBitmap> first, second;
    ASSERT_EQ(S_OK, MakeBgrBitmap(40, 20, Stripes, &first));
    ASSERT_EQ(S_OK, MakeBgrBitmap(12, 32, Stripes, &second));
    IWICBitmapSource *frames[] = {first, second};
    const std::wstring input = folder + L"\\pages.tif";
    ASSERT_EQ(S_OK, EncodeFramesToFile(frames, 2, GUID_ContainerFormatTiff, input));

    const std::wstring output = folder + L"\\pages-out.tif";
    ASSERT_EQ(S_OK, ResizeImageFile(NULL, input.c_str(), output.c_str()));
    Com<IWICBitmapDecoder> decoder;
    ASSERT_EQ(S_OK, TestFactory()->CreateDecoderFromFilename(output.c_str(), NULL, GENERIC_READ,
                                                             WICDecodeMetadataCacheOnDemand, &decoder));
    UINT count = 0;
    ASSERT_EQ(S_OK, decoder->GetFrameCount(&count));
    EXPECT_EQ(1u, count);
    GUID container;
    UINT width = 0, height = 0;
    ASSERT_EQ(S_OK, ProbeImageFile(output, &container, &width, &height));
    EXPECT_EQ(10u, width);
    EXPECT_EQ(5u, height);
}

TEST_F(PipelineTest, NonImagesFailAtTheDecoderAndWriteNothing)
{
    const std::wstring text = folder + L"\\notes.png";
    ASSERT_TRUE(WriteFileBytes(text, "just some text, not an image", 28));
    const std::wstring whole = MakeImage(L"cut.jpg", 64, 48, GUID_ContainerFormatJpeg);
    std::vector<BYTE> bytes = ReadFileBytes(whole);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\cut-half.jpg", bytes.data(), bytes.size() / 2));
    CreateDirectoryW((folder + L"\\sub.png").c_str(), NULL);

    const wchar_t *inputs[] = {L"notes.png", L"sub.png", L"missing.png"};
    for (const wchar_t *name : inputs)
    {
        const std::wstring output = folder + L"\\out-" + name;
        HRESULT hr = ResizeImageFile(NULL, (folder + L"\\" + name).c_str(), output.c_str());
        EXPECT_TRUE(FAILED(hr)) << Narrow(name) << " gave " << Hex(hr);
        EXPECT_FALSE(FileExists(output)) << Narrow(name);
    }
    // A truncated JPEG may decode partly; whatever happens, any output is complete.
    const std::wstring output = folder + L"\\out-cut.jpg";
    ResizeImageFile(NULL, (folder + L"\\cut-half.jpg").c_str(), output.c_str());
    if (FileExists(output))
    {
        GUID container;
        UINT width = 0, height = 0;
        ASSERT_EQ(S_OK, ProbeImageFile(output, &container, &width, &height));
        EXPECT_EQ(16u, width);
        EXPECT_EQ(12u, height);
    }
}

TEST_F(PipelineTest, PumpPendingMessagesDrainsTheCallersQueue)
{
    MSG message;
    PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE); // make sure this thread has a queue
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + i, 0, 0));
    PumpPendingMessages();
    EXPECT_FALSE(PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE));
}
