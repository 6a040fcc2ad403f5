// Frames past 2 GiB: when the pipeline reads a frame into memory of its
// own, that the copy is exact, and what a 22500 x 33300 photo (2.25 GB
// decoded) does in each build: resized whole where the address space
// holds it, refused cleanly where it does not, and never a crash.
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
#include <string.h>

namespace
{
// Appends bits most significant first, stuffing a zero byte after every
// 0xFF as entropy-coded data requires.
struct BitWriter
{
    std::vector<BYTE> &out;
    UINT pending = 0, count = 0;
    explicit BitWriter(std::vector<BYTE> &bytes) : out(bytes) {}
    void Put(UINT bits, UINT length)
    {
        for (UINT i = length; i-- > 0;)
        {
            pending = pending << 1 | ((bits >> i) & 1);
            if (++count == 8)
                Flush();
        }
    }
    void Flush()
    {
        out.push_back(static_cast<BYTE>(pending));
        if (pending == 0xFF)
            out.push_back(0);
        pending = count = 0;
    }
    void PadWithOnes()
    {
        while (count != 0)
            Put(1, 1);
    }
};

void PutSegment(std::vector<BYTE> &out, BYTE marker, const std::vector<BYTE> &body)
{
    const size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<BYTE>(length >> 8), static_cast<BYTE>(length)});
    out.insert(out.end(), body.begin(), body.end());
}

// The flat colour, as offsets from 128 of Y, Cb and Cr: 135, 75, 174,
// which JFIF's conversion turns into about RGB 200, 120, 41.
const int FLAT_Y = 7, FLAT_CB = -53, FLAT_CR = 46;
const COLORREF FLAT_RGB = RGB(200, 120, 41);

// One block: its DC difference (category 0 as '0', category 3 as '10',
// category 6 as '110', the only ones the levels above need), then the end
// of block at once, as every AC coefficient is 0.
void PutBlock(BitWriter &bits, int difference)
{
    UINT category = 0;
    for (int magnitude = abs(difference); magnitude; magnitude >>= 1)
        ++category;
    if (category == 0)
        bits.Put(0x0, 1);
    else
    {
        bits.Put(category == 3 ? 0x2 : 0x6, category == 3 ? 2 : 3);
        bits.Put(static_cast<UINT>(difference < 0 ? difference + (1 << category) - 1 : difference), category);
    }
    bits.Put(0, 1);
}

// A baseline 4:2:0 JPEG of the flat colour, built directly: every block
// after the first of each component repeats its DC, so each 16 x 16 pixels
// cost 12 bits and 750 megapixels stay about 4 MB. Encoding it through WIC
// would push 2.25 GB of pixels through the encoder.
std::vector<BYTE> MakeFlatJpeg(UINT width, UINT height)
{
    std::vector<BYTE> out = {0xFF, 0xD8};
    PutSegment(out, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    // DC quantised by 8, so that a coefficient is the level itself.
    std::vector<BYTE> quant(65, 1);
    quant[0] = 0;
    quant[1] = 8;
    PutSegment(out, 0xDB, quant);
    PutSegment(out, 0xC0, {8, static_cast<BYTE>(height >> 8), static_cast<BYTE>(height), static_cast<BYTE>(width >> 8),
                           static_cast<BYTE>(width), 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0});
    PutSegment(out, 0xC4, {0x00, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 6});
    PutSegment(out, 0xC4, {0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00});
    PutSegment(out, 0xDA, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0});

    const size_t mcus = static_cast<size_t>((width + 15) / 16) * ((height + 15) / 16);
    out.reserve(out.size() + mcus * 12 / 8 + 16);
    BitWriter bits(out);
    for (size_t mcu = 0; mcu < mcus; ++mcu)
    {
        const bool first = mcu == 0;
        for (int block = 0; block < 4; ++block)
            PutBlock(bits, first && block == 0 ? FLAT_Y : 0);
        PutBlock(bits, first ? FLAT_CB : 0);
        PutBlock(bits, first ? FLAT_CR : 0);
    }
    bits.PadWithOnes();
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}
} // namespace

namespace
{
// A source of any size that serves no pixels: whatever the decision reads
// of a frame it refuses is counted.
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

// Channels within a few levels: the writer's JPEG encoder rounds.
bool NearColour(COLORREF expected, BYTE red, BYTE green, BYTE blue)
{
    return abs(GetRValue(expected) - red) <= 4 && abs(GetGValue(expected) - green) <= 4 &&
           abs(GetBValue(expected) - blue) <= 4;
}

// The middle pixel of an image file, as 32bpp BGR.
HRESULT ReadMiddlePixel(const std::wstring &path, BYTE bgr[4])
{
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    UINT width = 0, height = 0;
    HRESULT hr = DecodeFrameFromFile(path, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr)) hr = TestFactory()->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, NULL, 0.0,
                                   WICBitmapPaletteTypeCustom);
    const WICRect middle = {static_cast<INT>(width / 2), static_cast<INT>(height / 2), 1, 1};
    if (SUCCEEDED(hr)) hr = converter->CopyPixels(&middle, 4, 4, bgr);
    return hr;
}

// Every pixel of a source, rows packed tight.
HRESULT ReadAllPixels(IWICBitmapSource *source, UINT bytesPerPixel, std::vector<BYTE> *pixels)
{
    UINT width = 0, height = 0;
    HRESULT hr = source->GetSize(&width, &height);
    if (FAILED(hr))
        return hr;
    pixels->assign(static_cast<size_t>(width) * height * bytesPerPixel, 0);
    return source->CopyPixels(NULL, width * bytesPerPixel, static_cast<UINT>(pixels->size()), pixels->data());
}

UINT Pattern(UINT x, UINT y)
{
    return (x * 37 + y * 101) * 0x010203u & 0xFFFFFF;
}

const double FRAME_MB = 22500.0 * 33300 * 3 / (1024 * 1024);

// The start of a JPEG up to its frame header, behind an APP1 segment full
// of 0xFF bytes that a reader must skip by its length.
std::vector<BYTE> JpegUpToFrameHeader(UINT width, UINT height, BYTE components, BYTE marker)
{
    std::vector<BYTE> out = {0xFF, 0xD8};
    PutSegment(out, 0xE1, std::vector<BYTE>(300, 0xFF));
    std::vector<BYTE> frame = {8, static_cast<BYTE>(height >> 8), static_cast<BYTE>(height),
                               static_cast<BYTE>(width >> 8), static_cast<BYTE>(width), components};
    for (BYTE c = 1; c <= components; ++c)
        frame.insert(frame.end(), {c, 0x11, 0});
    PutSegment(out, marker, frame);
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}
} // namespace

TEST(LargeFrame, JpegPromisingMoreThanOneCopyPixelsCanTakeIsRefusedUnopened)
{
    struct Row
    {
        UINT width, height;
        BYTE components, marker;
        HRESULT expected;
    };
    const HRESULT overflow = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    const Row rows[] = {
        {65535, 21845, 3, 0xC0, S_OK},     // 131,070 bytes short of 4 GiB
        {65535, 21846, 3, 0xC0, overflow}, // 65,535 bytes past it
        {65500, 65500, 3, 0xC2, overflow}, // progressive
        {65500, 65500, 1, 0xC0, S_OK},     // grey: one byte a pixel
        {32768, 32768, 4, 0xC1, overflow}, // CMYK, exactly 4 GiB
        {22500, 33300, 3, 0xC0, S_OK},     // past 2 GiB: copied, not refused
    };
    const std::wstring folder = MakeTempFolder(L"jpegsize");
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"\\frame.jpg";
    for (const Row &row : rows)
    {
        const std::vector<BYTE> bytes = JpegUpToFrameHeader(row.width, row.height, row.components, row.marker);
        ASSERT_TRUE(WriteFileBytes(path, bytes.data(), bytes.size()));
        EXPECT_EQ(Hex(row.expected), Hex(CheckJpegFrameSize(path.c_str())))
            << row.width << " x " << row.height << " x " << int(row.components);
    }
    // What is not a JPEG, or not there, is the decoders' to judge.
    ASSERT_TRUE(WriteImage(path, 8, 8, GUID_ContainerFormatPng));
    EXPECT_EQ(S_OK, CheckJpegFrameSize(path.c_str()));
    EXPECT_EQ(S_OK, CheckJpegFrameSize((folder + L"\\missing.jpg").c_str()));
    RemoveTestFolder(folder);
}

TEST(LargeFrame, SpanCountsWholeWordsPerRowAndSaturates)
{
    struct Row
    {
        UINT width, height, bitsPerPixel;
        unsigned long long bytes;
    };
    const Row rows[] = {
        {1, 1, 24, 4},
        {7, 5, 24, 120},
        {0, 100, 32, 0},
        {22500, 33300, 24, 2247750000ull},
        {16384, 32768, 32, 2147483648ull},
        {UINT_MAX, 1, 1, 536870912ull},
        {UINT_MAX, UINT_MAX, 128, ULLONG_MAX},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.bytes, ComputeFrameSpanBytes(row.width, row.height, row.bitsPerPixel))
            << row.width << " x " << row.height << " at " << row.bitsPerPixel << " bpp";
}

TEST(LargeFrame, OnlyFramesPastTwoGibAreCopiedAndUnsuitableOnesAreRefusedUnread)
{
    struct Row
    {
        UINT width, height;
        const GUID *format;
        HRESULT expected;
    };
    const HRESULT overflow = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    const Row rows[] = {
        {4000, 3000, &GUID_WICPixelFormat24bppBGR, S_OK},             // read in place
        {16384, 32767, &GUID_WICPixelFormat32bppBGRA, S_OK},          // 2 GiB less one row: in place
        {100000, 100000, &GUID_WICPixelFormatBlackWhite, S_OK},       // 1.25 GB of bits: in place
        {46341, 46341, &GUID_WICPixelFormat8bppIndexed, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT},
        {200000, 100000, &GUID_WICPixelFormatBlackWhite, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT},
        {40000, 40000, &GUID_WICPixelFormat24bppBGR, overflow},      // 4.8 GB: past one CopyPixels
        {UINT_MAX, UINT_MAX, &GUID_WICPixelFormat128bppRGBAFloat, overflow},
    };
    for (const Row &row : rows)
    {
        PixellessSource *frame = new PixellessSource(row.width, row.height, *row.format);
        IWICBitmapSource *copy = reinterpret_cast<IWICBitmapSource *>(1);
        EXPECT_EQ(Hex(row.expected), Hex(CopyFrameIfTooLarge(TestFactory(), frame, &copy)))
            << row.width << " x " << row.height;
        EXPECT_EQ(NULL, copy) << row.width << " x " << row.height;
        EXPECT_EQ(0, frame->copies) << row.width << " x " << row.height << ": pixels were read";
        frame->Release();
    }
}

TEST(LargeFrame, WholeCopyHoldsEveryPixelSizeFormatAndResolutionOfTheFrame)
{
    struct Row
    {
        const GUID *container;
        const char *name;
    };
    const Row rows[] = {
        {&GUID_ContainerFormatPng, "PNG"},
        {&GUID_ContainerFormatJpeg, "JPEG"},
        {&GUID_ContainerFormatBmp, "BMP"},
        {&GUID_ContainerFormatTiff, "TIFF"},
    };
    const std::wstring folder = MakeTempFolder(L"wholecopy");
    ASSERT_FALSE(folder.empty());
    Com<IWICBitmap> bitmap;
    // An odd width, so that rows are not whole words in the copy.
    ASSERT_EQ(S_OK, MakeBgrBitmap(7, 5, Pattern, &bitmap));
    for (const Row &row : rows)
    {
        const std::wstring path = folder + L"\\in." + std::wstring(row.name, row.name + strlen(row.name));
        ASSERT_EQ(S_OK, EncodeToFile(bitmap, *row.container, path)) << row.name;
        Com<IWICBitmapFrameDecode> frame;
        ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame)) << row.name;
        Com<IWICBitmapSource> copy;
        ASSERT_EQ(S_OK, CopyWholeFrame(TestFactory(), frame, &copy)) << row.name;

        WICPixelFormatGUID frameFormat, copyFormat;
        UINT width = 0, height = 0;
        double frameDpiX = 0, frameDpiY = 0, copyDpiX = 0, copyDpiY = 0;
        ASSERT_EQ(S_OK, frame->GetPixelFormat(&frameFormat));
        ASSERT_EQ(S_OK, copy->GetPixelFormat(&copyFormat));
        EXPECT_TRUE(IsEqualGUID(frameFormat, copyFormat)) << row.name;
        ASSERT_EQ(S_OK, copy->GetSize(&width, &height));
        EXPECT_EQ(7u, width) << row.name;
        EXPECT_EQ(5u, height) << row.name;
        ASSERT_EQ(S_OK, frame->GetResolution(&frameDpiX, &frameDpiY));
        ASSERT_EQ(S_OK, copy->GetResolution(&copyDpiX, &copyDpiY));
        EXPECT_EQ(frameDpiX, copyDpiX) << row.name;
        EXPECT_EQ(frameDpiY, copyDpiY) << row.name;

        Com<IWICComponentInfo> info;
        Com<IWICPixelFormatInfo> formatInfo;
        UINT bits = 0;
        ASSERT_EQ(S_OK, TestFactory()->CreateComponentInfo(frameFormat, &info));
        ASSERT_EQ(S_OK, info->QueryInterface(IID_IWICPixelFormatInfo, reinterpret_cast<void **>(&formatInfo)));
        ASSERT_EQ(S_OK, formatInfo->GetBitsPerPixel(&bits));
        std::vector<BYTE> expected, got;
        ASSERT_EQ(S_OK, ReadAllPixels(frame, bits / 8, &expected)) << row.name;
        ASSERT_EQ(S_OK, ReadAllPixels(copy, bits / 8, &got)) << row.name;
        EXPECT_EQ(expected, got) << row.name;
    }
    // A palette has nowhere to go in the copy: refused, not half made.
    const std::wstring gif = folder + L"\\in.gif";
    ASSERT_EQ(S_OK, EncodeToFile(bitmap, GUID_ContainerFormatGif, gif));
    Com<IWICBitmapFrameDecode> indexed;
    ASSERT_EQ(S_OK, DecodeFrameFromFile(gif, &indexed));
    Com<IWICBitmapSource> copy;
    EXPECT_EQ(Hex(WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT), Hex(CopyWholeFrame(TestFactory(), indexed, &copy)));
    EXPECT_EQ(NULL, copy.p);
    RemoveTestFolder(folder);
}

// 22500 x 33300 at 3 bytes per pixel is 2.25 GB decoded: its last rows lie
// past 2 GiB. A process whose address space cannot hold the decoded frame
// and its copy must refuse it cleanly; one that can must resize it whole.
TEST(HugeFrame, PhotoPastTwoGibIsResizedWholeOrRefusedCleanlyAndTheBatchGoesOn)
{
    const std::wstring folder = MakeTempFolder(L"huge");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(CreateDirectoryW(OutputFolderOf(folder).c_str(), NULL));
    const std::wstring huge = folder + L"\\huge.jpg", small = folder + L"\\small.png";
    const std::wstring hugeOut = OutputFolderOf(folder) + L"\\huge.jpg", smallOut = OutputFolderOf(folder) + L"\\small.png";

    // The generated JPEG must really be the flat colour, or the checks
    // below prove nothing.
    const std::wstring probe = folder + L"\\probe.jpg";
    const std::vector<BYTE> probeBytes = MakeFlatJpeg(40, 24);
    ASSERT_TRUE(WriteFileBytes(probe, probeBytes.data(), probeBytes.size()));
    BYTE bgr[4] = {0, 0, 0, 0};
    ASSERT_EQ(S_OK, ReadMiddlePixel(probe, bgr));
    ASSERT_TRUE(NearColour(FLAT_RGB, bgr[2], bgr[1], bgr[0])) << int(bgr[2]) << "," << int(bgr[1]) << "," << int(bgr[0]);
    DeleteFileW(probe.c_str());

    const std::vector<BYTE> hugeBytes = MakeFlatJpeg(22500, 33300);
    ASSERT_TRUE(WriteFileBytes(huge, hugeBytes.data(), hugeBytes.size()));
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
    const ResourceUsage after = MeasureResourceUsage();
    printf("[huge] 22500 x 33300 JPEG (%u KB) at 10 %%: %s in %lu ms; committed MB: %.0f before, peak %.0f, %.0f after\n",
           static_cast<unsigned>(hugeBytes.size() / 1024), Hex(hr).c_str(), static_cast<unsigned long>(elapsed),
           before.privateKb / 1024, peakKb / 1024, after.privateKb / 1024);
    RecordProperty("huge_ms", static_cast<int>(elapsed));
    RecordProperty("huge_peak_mb", static_cast<int>(peakKb / 1024));

    if (roomForTwoFrames)
    {
        EXPECT_EQ(S_OK, hr);
        const DecodedImage written = DecodeCompletely(hugeOut);
        EXPECT_EQ(S_OK, written.hr) << "the output is cut off or unreadable";
        EXPECT_EQ(2250u, written.width);
        EXPECT_EQ(3330u, written.height);
        EXPECT_EQ(S_OK, ReadMiddlePixel(hugeOut, bgr));
        EXPECT_TRUE(NearColour(FLAT_RGB, bgr[2], bgr[1], bgr[0])) << int(bgr[2]) << "," << int(bgr[1]) << "," << int(bgr[0]);

        BITMAP preview;
        ASSERT_TRUE(g_imaging->previewBitmap);
        ASSERT_EQ(static_cast<int>(sizeof(preview)), GetObjectW(g_imaging->previewBitmap, sizeof(preview), &preview));
        EXPECT_EQ(108, preview.bmWidth);
        EXPECT_EQ(160, preview.bmHeight);
        const COLORREF shown = BitmapPixel(g_imaging->previewBitmap, 54, 80);
        EXPECT_TRUE(NearColour(FLAT_RGB, GetRValue(shown), GetGValue(shown), GetBValue(shown)));

        // The decoder's frame and the copy are alive together only while
        // the copy is made; afterwards the copy alone stays as the current
        // source.
        EXPECT_LT(peakKb / 1024 - before.privateKb / 1024, 2 * FRAME_MB + 400);
        EXPECT_LT(after.privateKb / 1024 - before.privateKb / 1024, FRAME_MB + 200) << "the decoder's frame was kept";
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
