// Scale: a 100-megapixel photo enlarged to 150 % in this 32-bit process,
// and a batch of large photos. The pipeline must succeed or fail cleanly,
// and memory must come back down after each photo.
#include "RobustSupport.h"
#include "ResourceUsage.h"

#include "batch/ImageWriter.h"
#include "batch/ResizePipeline.h"
#include "batch/SpliceStream.h"
#include "imaging/ImagingContext.h"
#include "imaging/OwnBitmapSources.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace
{
// Encodes a width x height JPEG strip by strip, so that the test never
// holds more than one strip of pixels (a 100 MP image would need 300 MB).
HRESULT WriteLargeJpeg(const std::wstring &path, UINT width, UINT height)
{
    Com<IWICStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    HRESULT hr = TestFactory()->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = TestFactory()->CreateEncoder(GUID_ContainerFormatJpeg, NULL, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, NULL);
    if (SUCCEEDED(hr)) hr = frame->Initialize(NULL);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    const UINT stride = width * 3, strip = 256;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * strip);
    for (UINT top = 0; SUCCEEDED(hr) && top < height; top += strip)
    {
        const UINT rows = height - top < strip ? height - top : strip;
        for (UINT y = 0; y < rows; ++y)
            for (UINT x = 0; x < width; ++x)
            {
                const UINT colour = PatternPixel(x / 8, (top + y) / 8);
                BYTE *p = &pixels[static_cast<size_t>(y) * stride + x * 3];
                p[0] = static_cast<BYTE>(colour);
                p[1] = static_cast<BYTE>(colour >> 8);
                p[2] = static_cast<BYTE>(colour >> 16);
            }
        hr = frame->WritePixels(rows, stride, stride * rows, pixels.data());
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

// A JPEG is whole when its frame header carries the size and the file ends
// with the end-of-image marker. Read from the bytes: decoding a 15000 x
// 15000 output again would need more address space than this process has
// left (Wine's decoder holds the whole frame).
bool JpegLooksWhole(const std::wstring &path, UINT width, UINT height)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[bytes.size() - 2] != 0xFF ||
        bytes[bytes.size() - 1] != 0xD9)
        return false;
    size_t p = 2;
    while (p + 9 <= bytes.size() && bytes[p] == 0xFF)
    {
        if (bytes[p + 1] == 0xC0 || bytes[p + 1] == 0xC2)
            return (bytes[p + 5] << 8 | bytes[p + 6]) == static_cast<int>(height) &&
                   (bytes[p + 7] << 8 | bytes[p + 8]) == static_cast<int>(width);
        p += 2 + (bytes[p + 2] << 8 | bytes[p + 3]);
    }
    return false;
}
// A picture of any size that holds no pixels: each row is made when asked for.
class PatternSource : public OwnBitmapSource
{
public:
    PatternSource(UINT width, UINT height) : OwnBitmapSource(width, height, GUID_WICPixelFormat32bppBGR, 96.0, 96.0) {}
    STDMETHODIMP CopyPixels(const WICRect *requested, UINT stride, UINT bufferSize, BYTE *buffer) override
    {
        WICRect rect;
        const HRESULT hr = CheckCopyRequest(requested, stride, bufferSize, buffer, 4, &rect);
        for (INT y = 0; SUCCEEDED(hr) && y < rect.Height; ++y)
            for (INT x = 0; x < rect.Width; ++x)
                reinterpret_cast<UINT *>(buffer + static_cast<size_t>(y) * stride)[x] =
                    PatternPixel((rect.X + x) / 16, (rect.Y + y) / 16);
        return hr;
    }
};
} // namespace

// A 61 MP camera's frame at 150 % as a bitmap is a copy of more than
// 512 MiB; a writer that held it whole in memory lost it in the 32-bit
// build. Written through the stream, it is whole, and the stream holds a
// few MiB at most.
TEST(LargeImage, ACopyPastHalfAGigabyteIsWrittenWhole)
{
    const UINT width = 14256, height = 9504;
    const uint64_t expectedBytes = 54 + 4ull * width * height;
    const std::wstring folder = MakeTempFolder(L"bigcopy");
    ASSERT_FALSE(folder.empty());
    const std::wstring output = folder + L"\\big.bmp";
    PatternSource *source = new PatternSource(width, height);
    ImagingContext context = {};
    context.factory = TestFactory();
    const DWORD start = timeGetTime();
    const HRESULT hr = WriteImageFile(&context, source, output.c_str());
    source->Release();
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const bool found = GetFileAttributesExW(output.c_str(), GetFileExInfoStandard, &data) != FALSE;
    const uint64_t bytes = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    printf("[large] %u x %u bitmap: %s, %llu bytes in %lu ms; the splice stream held at most %lu bytes\n", width,
           height, Hex(hr).c_str(), static_cast<unsigned long long>(bytes),
           static_cast<unsigned long>(timeGetTime() - start), static_cast<unsigned long>(GetSpliceStreamPeakBytes()));
    EXPECT_EQ(S_OK, hr) << "the writer answered " << Hex(hr);
    EXPECT_TRUE(found && bytes == expectedBytes) << "expected " << expectedBytes << " bytes, found " << bytes;
    BYTE head[26] = {};
    DWORD read = 0;
    HANDLE file = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ReadFile(file, head, sizeof(head), &read, NULL);
    CloseHandle(file);
    const LONG storedWidth = *reinterpret_cast<LONG *>(head + 18), storedHeight = *reinterpret_cast<LONG *>(head + 22);
    EXPECT_TRUE(read == sizeof(head) && head[0] == 'B' && head[1] == 'M' && storedWidth == static_cast<LONG>(width) &&
                (storedHeight == static_cast<LONG>(height) || storedHeight == -static_cast<LONG>(height)))
        << "the copy does not start as a " << width << " x " << height << " bitmap";
    EXPECT_LE(GetSpliceStreamPeakBytes(), SPLICE_HOLD_BYTES + (1u << 20)) << "the stream held a large part of a copy";
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left behind";
    RemoveTestFolder(folder);
}

TEST(LargeImage, HundredMegapixelsAt150PercentSucceedsOrFailsCleanly)
{
    const std::wstring folder = MakeTempFolder(L"large");
    ASSERT_FALSE(folder.empty());
    const std::wstring input = folder + L"\\big.jpg", output = folder + L"\\big-out.jpg";
    DWORD start = timeGetTime();
    HRESULT hr = WriteLargeJpeg(input, 10000, 10000);
    ASSERT_EQ(S_OK, hr) << "could not make the 100 MP input: " << Hex(hr);
    const uint64_t inputHash = HashBytes(ReadFileBytes(input));
    printf("[large] 10000 x 10000 JPEG made in %lu ms, %u KB\n", static_cast<unsigned long>(timeGetTime() - start),
           static_cast<unsigned>(ReadFileBytes(input).size() / 1024));

    ScaleGuard scale(1.5f);
    const ResourceUsage before = MeasureResourceUsage();
    double peakKb = 0;
    start = timeGetTime();
    {
        PeakMemorySampler sampler;
        hr = ResizeImageFile(NULL, input.c_str(), output.c_str());
        peakKb = sampler.PeakKb();
    }
    const DWORD elapsed = timeGetTime() - start;
    const ResourceUsage after = MeasureResourceUsage();
    const bool written = FileExists(output);
    // The pipeline does not pass on the writer's result; when nothing was
    // written, ask the writer directly, with the frame that the context
    // still holds, for the record.
    HRESULT writeHr = S_OK;
    if (!written)
    {
        Com<IWICBitmapSource> scaled;
        writeHr = CreateScaledSource(g_imaging, 15000, 15000, false, &scaled);
        if (SUCCEEDED(writeHr))
            writeHr = WriteImageFile(g_imaging, scaled, (folder + L"\\direct.jpg").c_str());
        EXPECT_EQ(SUCCEEDED(writeHr), FileExists(folder + L"\\direct.jpg")) << "the writer's result and its file disagree";
    }
    ReleaseLastFrame();
    const ResourceUsage released = MeasureResourceUsage();

    printf("[large] 100 MP at 150 %%: pipeline %s, output %s, %lu ms%s\n", Hex(hr).c_str(),
           written ? "written" : "not written", static_cast<unsigned long>(elapsed),
           written ? "" : ("; the writer alone answers " + Hex(writeHr)).c_str());
    printf("[large] committed memory: %.0f MB before, peak %.0f MB, %.0f MB after, %.0f MB once the frame is dropped\n",
           before.privateKb / 1024, peakKb / 1024, after.privateKb / 1024, released.privateKb / 1024);
    RecordProperty("peak_mb_100mp_at_150", std::to_string(peakKb / 1024));
    RecordProperty("outcome_100mp_at_150", written ? "written" : "not written");

    EXPECT_EQ(inputHash, HashBytes(ReadFileBytes(input))) << "the input was changed";
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a failed or finished write left a temporary file";
    if (written)
    {
        EXPECT_TRUE(JpegLooksWhole(output, 15000, 15000)) << "the output is cut off or has the wrong size";
    }
    // Whatever happened, the decoded 100 MP frame must not stay committed
    // once nothing refers to it any more.
    EXPECT_LT(released.privateKb - before.privateKb, 64.0 * 1024) << "memory stays committed after the big photo";
    RemoveTestFolder(folder);
}

TEST(LargeImage, MemoryStaysFlatAcrossABatchOfLargePhotos)
{
    const std::wstring folder = MakeTempFolder(L"photos");
    ASSERT_FALSE(folder.empty());
    ASSERT_EQ(S_OK, WriteLargeJpeg(folder + L"\\photo.jpg", 4000, 3000));
    const std::vector<BYTE> bytes = ReadFileBytes(folder + L"\\photo.jpg");
    const int photos = 6;
    std::vector<std::wstring> inputs;
    for (int i = 0; i < photos; ++i)
    {
        inputs.push_back(folder + L"\\photo" + std::to_wstring(i) + L".jpg");
        ASSERT_TRUE(WriteFileBytes(inputs.back(), bytes.data(), bytes.size()));
    }
    ASSERT_TRUE(CreateDirectoryW(OutputFolderOf(folder).c_str(), NULL));

    ScaleGuard scale(1.5f);
    std::vector<double> committedMb;
    PeakMemorySampler sampler;
    for (int i = 0; i < photos; ++i)
    {
        const std::wstring output = OutputFolderOf(folder) + L"\\photo" + std::to_wstring(i) + L".jpg";
        HRESULT hr = ResizeImageFile(NULL, inputs[i].c_str(), output.c_str());
        EXPECT_EQ(S_OK, hr) << "photo " << i << ": " << Hex(hr);
        EXPECT_TRUE(JpegLooksWhole(output, 6000, 4500)) << "photo " << i;
        const ResourceUsage usage = MeasureResourceUsage();
        committedMb.push_back(usage.privateKb / 1024);
    }
    const double peakMb = sampler.PeakKb() / 1024;
    printf("[large] 12 MP photos at 150 %%, committed MB after each:");
    for (double mb : committedMb)
        printf(" %.0f", mb);
    printf("; peak %.0f MB\n", peakMb);
    RecordProperty("batch_growth_mb", std::to_string(committedMb.back() - committedMb[1]));
    RecordProperty("batch_peak_mb", std::to_string(peakMb));
    // The context keeps the last photo's frame at every point, so from the
    // second photo on the figure must stay level; one leaked frame per
    // photo would add 36 MB each time.
    EXPECT_LT(committedMb.back() - committedMb[1], 16.0) << "memory grows from photo to photo";
    ReleaseLastFrame();
    RemoveTestFolder(folder);
}
