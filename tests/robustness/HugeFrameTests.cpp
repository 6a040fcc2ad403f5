// Frames past 2 GiB: which ones the pipeline copies or refuses, that the
// copy is exact, and what a 22500 x 33300 photo (2.25 GB decoded) does in
// each build: resized whole where the address space holds it, refused
// cleanly where it does not, and never a crash.
#include "RobustSupport.h"
#include "ResourceUsage.h"

#include "batch/ResizePipeline.h"
#include "imaging/ImagingContext.h"
#include "imaging/LargeFrame.h"
#include "imaging/OwnBitmapSources.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

namespace
{
const HRESULT OVERFLOW_HR = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
const double FRAME_MB = 22500.0 * 33300 * 3 / (1024 * 1024);
// Y 135, Cb 75, Cr 174, which JFIF's conversion makes about RGB 200, 120, 41.
const COLORREF FLAT_RGB = RGB(200, 120, 41);

void PutSegment(std::vector<BYTE> &out, BYTE marker, const std::vector<BYTE> &body)
{
    const size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<BYTE>(length >> 8), static_cast<BYTE>(length)});
    out.insert(out.end(), body.begin(), body.end());
}

std::vector<BYTE> FrameHeader(UINT width, UINT height, BYTE components)
{
    std::vector<BYTE> frame = {8, static_cast<BYTE>(height >> 8), static_cast<BYTE>(height),
                               static_cast<BYTE>(width >> 8), static_cast<BYTE>(width), components};
    for (BYTE c = 1; c <= components; ++c)
        frame.insert(frame.end(), {c, static_cast<BYTE>(c == 1 && components == 3 ? 0x22 : 0x11), 0});
    return frame;
}

// A baseline 4:2:0 JPEG of the flat colour, written directly: an encoder
// would have to be fed 2.25 GB of pixels. DC is quantised by 8 (so a
// coefficient is the level itself), the DC table codes categories 0, 3 and
// 6 as '0', '10' and '110', and every AC coefficient is 0 (end of block,
// '0'). The first 16 x 16 group sets the levels in four bytes; every later
// one repeats them in 12 zero bits, so 750 megapixels take about 4 MB.
std::vector<BYTE> MakeFlatJpeg(UINT width, UINT height)
{
    std::vector<BYTE> out = {0xFF, 0xD8};
    std::vector<BYTE> quant(65, 1);
    quant[0] = 0;
    quant[1] = 8;
    PutSegment(out, 0xDB, quant);
    PutSegment(out, 0xC0, FrameHeader(width, height, 3));
    PutSegment(out, 0xC4, {0x00, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 6});
    PutSegment(out, 0xC4, {0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    PutSegment(out, 0xDA, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});
    // Y +7, three Y blocks of 0, Cb -53, Cr +46.
    out.insert(out.end(), {0xB8, 0x0C, 0x53, 0x5C});
    const size_t groups = static_cast<size_t>((width + 15) / 16) * ((height + 15) / 16);
    const size_t zeroBits = (groups - 1) * 12;
    out.resize(out.size() + zeroBits / 8, 0);
    if (zeroBits % 8)
        out.push_back(0x0F); // the last four bits, padded with ones
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A source of any size that serves no pixels and counts what is asked of it.
class PixellessSource : public OwnBitmapSource
{
public:
    PixellessSource(UINT width, UINT height, REFWICPixelFormatGUID format)
        : OwnBitmapSource(width, height, format, 96.0, 96.0)
    {
    }
    STDMETHODIMP CopyPixels(const WICRect *, UINT, UINT, BYTE *) override
    {
        ++copies;
        return E_UNEXPECTED;
    }
    int copies = 0;
};

// Within a few levels: the writer's JPEG encoder rounds.
bool NearFlatColour(COLORREF colour)
{
    return abs(GetRValue(colour) - GetRValue(FLAT_RGB)) <= 4 && abs(GetGValue(colour) - GetGValue(FLAT_RGB)) <= 4 &&
           abs(GetBValue(colour) - GetBValue(FLAT_RGB)) <= 4;
}

// Every pixel of source, as 32bpp BGR.
std::vector<BYTE> ReadBgr(IWICBitmapSource *source)
{
    Com<IWICFormatConverter> converter;
    UINT width = 0, height = 0;
    std::vector<BYTE> pixels;
    if (FAILED(source->GetSize(&width, &height)) || FAILED(TestFactory()->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(source, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, NULL, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return pixels;
    pixels.resize(static_cast<size_t>(width) * height * 4);
    if (FAILED(converter->CopyPixels(NULL, width * 4, static_cast<UINT>(pixels.size()), pixels.data())))
        pixels.clear();
    return pixels;
}

COLORREF MiddlePixelOfFile(const std::wstring &path)
{
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICBitmapClipper> clipper;
    UINT width = 0, height = 0;
    if (FAILED(DecodeFrameFromFile(path, &frame)) || FAILED(frame->GetSize(&width, &height)) ||
        FAILED(TestFactory()->CreateBitmapClipper(&clipper)))
        return CLR_INVALID;
    const WICRect middle = {static_cast<INT>(width / 2), static_cast<INT>(height / 2), 1, 1};
    if (FAILED(clipper->Initialize(frame, &middle)))
        return CLR_INVALID;
    const std::vector<BYTE> bgr = ReadBgr(clipper);
    return bgr.size() == 4 ? RGB(bgr[2], bgr[1], bgr[0]) : CLR_INVALID;
}

UINT Pattern(UINT x, UINT y)
{
    return (x * 37 + y * 101) * 0x010203u & 0xFFFFFF;
}
} // namespace

TEST(LargeFrame, SpanCountsWholeWordsPerRowAndSaturates)
{
    const struct
    {
        UINT width, height, bitsPerPixel;
        unsigned long long bytes;
    } rows[] = {
        {1, 1, 24, 4}, {7, 5, 24, 120}, {0, 100, 32, 0}, {22500, 33300, 24, 2247750000ull},
        {16384, 32768, 32, 2147483648ull}, {UINT_MAX, 1, 1, 536870912ull}, {UINT_MAX, UINT_MAX, 128, ULLONG_MAX},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.bytes, ComputeFrameSpanBytes(row.width, row.height, row.bitsPerPixel))
            << row.width << " x " << row.height << " at " << row.bitsPerPixel << " bpp";
}

TEST(LargeFrame, FramesThatFitAreReadInPlaceAndUnsuitableOnesAreRefusedUnread)
{
    const struct
    {
        UINT width, height;
        const GUID *format;
        HRESULT expected;
    } rows[] = {
        {4000, 3000, &GUID_WICPixelFormat24bppBGR, S_OK},
        {16384, 32767, &GUID_WICPixelFormat32bppBGRA, S_OK}, // 2 GiB less one row
        {100000, 100000, &GUID_WICPixelFormatBlackWhite, S_OK},
        {46341, 46341, &GUID_WICPixelFormat8bppIndexed, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT},
        {200000, 100000, &GUID_WICPixelFormatBlackWhite, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT},
        {40000, 40000, &GUID_WICPixelFormat24bppBGR, OVERFLOW_HR}, // 4.8 GB: past one CopyPixels
        {UINT_MAX, UINT_MAX, &GUID_WICPixelFormat128bppRGBAFloat, OVERFLOW_HR},
    };
    for (const auto &row : rows)
    {
        PixellessSource *frame = new PixellessSource(row.width, row.height, *row.format);
        IWICBitmapSource *copy = reinterpret_cast<IWICBitmapSource *>(1);
        EXPECT_EQ(Hex(row.expected), Hex(CopyFrameIfTooLarge(TestFactory(), frame, &copy))) << row.width;
        EXPECT_EQ(NULL, copy) << row.width;
        EXPECT_EQ(0, frame->copies) << row.width << " x " << row.height << ": pixels were read";
        frame->Release();
    }
}

// No one block of 2 GiB or more where ptrdiff_t has 32 bits: refused as
// out of memory before anything is allocated or read.
TEST(LargeFrame, BlocksOfTwoGibAreRefusedUnreadWhereAddressesHaveThirtyTwoBits)
{
    const bool wide = sizeof(void *) == 8;
    const struct
    {
        UINT width, height, bytesPerPixel;
        bool fits;
    } rows[] = {
        {16384, 32767, 4, true}, {65535, 32768, 1, true}, {16384, 32768, 4, wide}, {46341, 46341, 1, wide},
        {22500, 33300, 3, wide}, {UINT_MAX, 2, 1, wide}, {UINT_MAX, UINT_MAX, 16, false},
    };
    for (const auto &row : rows)
    {
        size_t bytes = 0;
        EXPECT_EQ(row.fits, ComputeImageBytes(row.width, row.height, row.bytesPerPixel, &bytes))
            << row.width << " x " << row.height << " x " << row.bytesPerPixel;
    }
    if (wide)
        return;
    PixellessSource *frame = new PixellessSource(22500, 33300, GUID_WICPixelFormat24bppBGR);
    IWICBitmapSource *copy = reinterpret_cast<IWICBitmapSource *>(1);
    EXPECT_EQ(Hex(E_OUTOFMEMORY), Hex(CopyWholeFrame(TestFactory(), frame, &copy)));
    EXPECT_EQ(NULL, copy);
    EXPECT_EQ(0, frame->copies) << "pixels were read";
    frame->Release();
}

TEST(LargeFrame, WholeCopyHoldsTheFramesPixelsFormatAndResolution)
{
    const std::wstring folder = MakeTempFolder(L"wholecopy");
    ASSERT_FALSE(folder.empty());
    Com<IWICBitmap> bitmap;
    ASSERT_EQ(S_OK, MakeBgrBitmap(7, 5, Pattern, &bitmap)); // odd rows: not whole words
    const GUID *containers[] = {&GUID_ContainerFormatPng, &GUID_ContainerFormatJpeg, &GUID_ContainerFormatBmp,
                                &GUID_ContainerFormatTiff, &GUID_ContainerFormatGif};
    for (size_t i = 0; i < sizeof(containers) / sizeof(containers[0]); ++i)
    {
        const GUID *container = containers[i];
        const std::wstring path = folder + L"\\in" + std::to_wstring(i);
        ASSERT_EQ(S_OK, EncodeToFile(bitmap, *container, path));
        Com<IWICBitmapFrameDecode> frame;
        ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame));
        WICPixelFormatGUID frameFormat, copyFormat;
        ASSERT_EQ(S_OK, frame->GetPixelFormat(&frameFormat));
        Com<IWICBitmapSource> copy;
        const HRESULT hr = CopyWholeFrame(TestFactory(), frame, &copy);
        if (container == &GUID_ContainerFormatGif)
        {
            // A palette has nowhere to go in the copy: refused, not half made.
            EXPECT_EQ(Hex(WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT), Hex(hr));
            EXPECT_EQ(NULL, copy.p);
            continue;
        }
        ASSERT_EQ(S_OK, hr) << Narrow(path);
        ASSERT_EQ(S_OK, copy->GetPixelFormat(&copyFormat));
        EXPECT_TRUE(IsEqualGUID(frameFormat, copyFormat)) << Narrow(path);
        double frameDpi[2] = {0, 0}, copyDpi[2] = {1, 1};
        frame->GetResolution(&frameDpi[0], &frameDpi[1]);
        copy->GetResolution(&copyDpi[0], &copyDpi[1]);
        EXPECT_TRUE(frameDpi[0] == copyDpi[0] && frameDpi[1] == copyDpi[1]) << Narrow(path);
        const std::vector<BYTE> expected = ReadBgr(frame);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected, ReadBgr(copy)) << Narrow(path);
    }
    RemoveTestFolder(folder);
}

// The last rows of a 22500 x 33300 frame lie past 2 GiB. A process whose
// address space can hold it and its copy must resize it whole; any other
// must refuse it cleanly.
TEST(HugeFrame, PhotoPastTwoGibIsResizedWholeOrRefusedCleanlyAndTheBatchGoesOn)
{
    const std::wstring folder = MakeTempFolder(L"huge");
    ASSERT_FALSE(folder.empty());
    const std::wstring huge = folder + L"\\huge.jpg", small = folder + L"\\small.png";
    const std::wstring hugeOut = folder + L"\\huge-out.jpg", smallOut = folder + L"\\small-out.png";
    // The generated JPEG must really show the flat colour, or what follows proves nothing.
    std::vector<BYTE> bytes = MakeFlatJpeg(40, 24);
    ASSERT_TRUE(WriteFileBytes(huge, bytes.data(), bytes.size()));
    ASSERT_TRUE(NearFlatColour(MiddlePixelOfFile(huge))) << std::hex << MiddlePixelOfFile(huge);
    bytes = MakeFlatJpeg(22500, 33300);
    ASSERT_TRUE(WriteFileBytes(huge, bytes.data(), bytes.size()));
    ASSERT_TRUE(WriteImage(small, 64, 48, GUID_ContainerFormatPng));

    MEMORYSTATUSEX memory;
    memory.dwLength = sizeof(memory);
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
    const bool roomForTwoFrames = memory.ullTotalVirtual / (1024.0 * 1024) > 3 * FRAME_MB;

    ScaleGuard scale(0.1f);
    const ResourceUsage before = MeasureResourceUsage();
    double peakKb = 0;
    const DWORD start = timeGetTime();
    HRESULT hr;
    {
        PeakMemorySampler sampler;
        hr = ResizeImageFile(NULL, huge.c_str(), hugeOut.c_str());
        peakKb = sampler.PeakKb();
    }
    const DWORD elapsed = timeGetTime() - start;
    const double peakMb = peakKb / 1024 - before.privateKb / 1024;
    const double keptMb = MeasureResourceUsage().privateKb / 1024 - before.privateKb / 1024;
    printf("[huge] 22500 x 33300 JPEG (%u KB) at 10 %%: %s in %lu ms; committed MB beyond the start: peak %.0f, "
           "afterwards %.0f\n", static_cast<unsigned>(bytes.size() / 1024), Hex(hr).c_str(),
           static_cast<unsigned long>(elapsed), peakMb, keptMb);
    RecordProperty("huge_ms", static_cast<int>(elapsed));

    if (roomForTwoFrames)
    {
        EXPECT_EQ(S_OK, hr);
        const DecodedImage written = DecodeCompletely(hugeOut);
        EXPECT_EQ(S_OK, written.hr) << "the output is cut off or unreadable";
        EXPECT_EQ(2250u, written.width);
        EXPECT_EQ(3330u, written.height);
        EXPECT_TRUE(NearFlatColour(MiddlePixelOfFile(hugeOut))) << std::hex << MiddlePixelOfFile(hugeOut);
        BITMAP preview;
        ASSERT_EQ(static_cast<int>(sizeof(preview)), GetObjectW(g_imaging->previewBitmap, sizeof(preview), &preview));
        EXPECT_EQ(108, preview.bmWidth);
        EXPECT_EQ(160, preview.bmHeight);
        EXPECT_TRUE(NearFlatColour(BitmapPixel(g_imaging->previewBitmap, 54, 80)));
        // The decoder's frame and the copy live together only while the copy
        // is made; afterwards the copy alone stays, as the current source.
        EXPECT_LT(peakMb, 2 * FRAME_MB + 400);
        EXPECT_LT(keptMb, FRAME_MB + 200) << "the decoder's frame was kept";
    }
    else
    {
        EXPECT_TRUE(FAILED(hr)) << Hex(hr);
        EXPECT_FALSE(FileExists(hugeOut));
    }
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left behind";

    // The next image of the batch goes through as usual.
    EXPECT_EQ(S_OK, ResizeImageFile(NULL, small.c_str(), smallOut.c_str()));
    const DecodedImage next = DecodeCompletely(smallOut);
    EXPECT_EQ(S_OK, next.hr);
    EXPECT_EQ(6u, next.width);
    EXPECT_EQ(5u, next.height);
    RemoveTestFolder(folder);
}
