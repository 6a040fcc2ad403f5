// Asking for pixels the way a source serves them changes no pixel and no
// byte: every request pattern against one whole-image request, and every
// output of the pipeline against the former way of writing it (each
// request handed to the scaler whole, the encoder converting band by band).
#include "TestImages.h"
#include "TestPhotoBytes.h"

#include "batch/ResizePipeline.h"
#include "batch/ResizeSettings.h"
#include "imaging/ImagingContext.h"
#include "imaging/Orientation.h"
#include "imaging/RowPull.h"

#include <gtest/gtest.h>

namespace
{
// At the default 25 %: 151 x 75, two bands of the writer, and a 284 x 141
// preview; no side a multiple of 16.
const UINT WIDTH = 604, HEIGHT = 300, SCALED_WIDTH = 151, SCALED_HEIGHT = 75;

// A colour to every pixel, so that a row pulled from the wrong place shows.
UINT Busy(UINT x, UINT y)
{
    return (x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
}

// Runs of transparent and opaque pixels, everything in between elsewhere.
UINT BusyWithAlpha(UINT x, UINT y)
{
    const UINT alpha = x % 7 == 0 ? 0 : x % 7 == 1 ? 255 : (x * 37 + y * 11) & 0xFF;
    return alpha << 24 | Busy(x, y);
}

// The former way (every request passed on whole, no converter of the
// writer's own) or the program's, for one scope.
struct PullWay
{
    const UINT rows = g_rowsPerPull;
    const bool convertOnce = g_convertOnce;
    explicit PullWay(bool former) { g_rowsPerPull = former ? 0 : rows, g_convertOnce = !former && convertOnce; }
    ~PullWay() { g_rowsPerPull = rows, g_convertOnce = convertOnce; }
};

// The pixels of area (NULL: the whole image), asked for in requests of
// rowsPerRequest rows (0: all at once), 4 bytes a pixel, rows packed.
std::vector<BYTE> Pull(IWICBitmapSource *source, const WICRect *area, UINT rowsPerRequest)
{
    UINT width = 0, height = 0;
    EXPECT_EQ(S_OK, source->GetSize(&width, &height));
    const WICRect whole = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    const WICRect rect = area ? *area : whole;
    const UINT stride = static_cast<UINT>(rect.Width) * 4;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * rect.Height);
    const INT step = rowsPerRequest ? static_cast<INT>(rowsPerRequest) : rect.Height;
    for (INT y = 0; y < rect.Height; y += step)
    {
        const WICRect band = {rect.X, rect.Y + y, rect.Width, rect.Height - y < step ? rect.Height - y : step};
        const HRESULT hr = source->CopyPixels(rowsPerRequest || area ? &band : NULL, stride,
                                              static_cast<UINT>(pixels.size() - static_cast<size_t>(y) * stride),
                                              pixels.data() + static_cast<size_t>(y) * stride);
        EXPECT_EQ(S_OK, hr) << "rows " << rect.Y + y << " to " << rect.Y + y + band.Height << ": " << Hex(hr);
    }
    return pixels;
}

// The rectangle's pixels out of a whole image's, rows packed.
std::vector<BYTE> Crop(const std::vector<BYTE> &image, UINT width, const WICRect &rect)
{
    std::vector<BYTE> part;
    for (INT y = rect.Y; y < rect.Y + rect.Height; ++y)
    {
        const size_t first = (static_cast<size_t>(y) * width + rect.X) * 4;
        part.insert(part.end(), image.begin() + first, image.begin() + first + rect.Width * 4);
    }
    return part;
}

// An uncompressed RGB or RGBA TIFF of the busy picture, tagged with its
// orientation (the platform's encoders write no such tag).
std::vector<BYTE> BuildTaggedTiff(bool alpha, UINT orientation)
{
    const bool be = false;
    const DWORD samples = alpha ? 4 : 3;
    std::vector<BYTE> pixels;
    for (UINT y = 0; y < HEIGHT; ++y)
        for (UINT x = 0; x < WIDTH; ++x)
            for (DWORD sample = 0; sample < samples; ++sample)
                pixels.push_back(static_cast<BYTE>(BusyWithAlpha(x, y) >> (sample == 3 ? 24 : 16 - 8 * sample)));
    std::vector<TestTiffTag> tags = {
        IntegerTag(be, 256, 3, WIDTH), IntegerTag(be, 257, 3, HEIGHT), {258, 3, samples, TiffValue(be, 2, {8, 8, 8, 8})},
        IntegerTag(be, 259, 3, 1), IntegerTag(be, 262, 3, 2), IntegerTag(be, 273, 4, 0),
        IntegerTag(be, 0x0112, 3, orientation), IntegerTag(be, 277, 3, samples), IntegerTag(be, 278, 3, HEIGHT),
        IntegerTag(be, 279, 4, static_cast<DWORD>(pixels.size()))};
    tags[2].value.resize(samples * 2);
    if (alpha)
        tags.push_back(IntegerTag(be, 338, 3, 2)); // extra sample: unassociated alpha
    // The header, the IFD and the bits per sample laid out after it.
    const DWORD pixelOffset = static_cast<DWORD>(8 + 2 + tags.size() * 12 + 4 + samples * 2);
    tags[5] = IntegerTag(be, 273, 4, pixelOffset);
    const std::vector<BYTE> tiff = BuildTiffBlock(be, tags, pixels);
    EXPECT_EQ(pixelOffset + pixels.size(), tiff.size());
    return tiff;
}

std::vector<BYTE> PreviewBytes()
{
    DIBSECTION section = {};
    if (!g_imaging->previewBitmap || !GetObjectW(g_imaging->previewBitmap, sizeof(section), &section))
        return std::vector<BYTE>();
    const BYTE *bits = static_cast<const BYTE *>(section.dsBm.bmBits);
    return std::vector<BYTE>(bits, bits + static_cast<size_t>(section.dsBm.bmWidthBytes) * section.dsBm.bmHeight);
}

class PixelPullTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"pull");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(TestFactory() != NULL);
        ASSERT_EQ(0.25f, g_scaleFactor.load());
    }
    void TearDown() override
    {
        SafeRelease(&g_imaging->currentSource); // lets go of the last input
        RemoveTree(folder);
    }
    std::wstring folder;
};
} // namespace

TEST(RowPull, EveryRequestPatternGivesThePixelsOfOneWholeImageRequest)
{
    const WICRect inside = {3, 5, SCALED_WIDTH - 10, SCALED_HEIGHT - 9};
    const struct
    {
        const WICRect *area;
        UINT rows;
    } patterns[] = {{NULL, 0}, {NULL, 1}, {NULL, 16}, {NULL, 64}, {&inside, 0}, {&inside, 7}};
    for (bool alpha : {false, true})
    {
        Com<IWICBitmap> frame;
        ASSERT_EQ(S_OK, alpha ? MakeBgraBitmap(WIDTH, HEIGHT, BusyWithAlpha, &frame) : MakeBgrBitmap(WIDTH, HEIGHT, Busy, &frame));
        ImagingContext context = {};
        context.factory = TestFactory();
        context.currentSource = frame;
        Com<IWICBitmapSource> former, pulled, formerTurned, pulledTurned;
        {
            PullWay way(true);
            ASSERT_EQ(S_OK, CreateScaledSource(&context, SCALED_WIDTH, SCALED_HEIGHT, alpha, &former));
        }
        ASSERT_EQ(S_OK, CreateScaledSource(&context, SCALED_WIDTH, SCALED_HEIGHT, alpha, &pulled));
        const std::vector<BYTE> whole = Pull(former, NULL, 0);
        for (const auto &pattern : patterns)
        {
            const std::vector<BYTE> want = pattern.area ? Crop(whole, SCALED_WIDTH, *pattern.area) : whole;
            EXPECT_TRUE(want == Pull(pulled, pattern.area, pattern.rows))
                << (alpha ? "with alpha, " : "opaque, ") << (pattern.area ? "inner rectangle" : "whole image")
                << " in requests of " << pattern.rows << " rows (0: one request)";
        }
        // The program's own turn pulls in bands of its own.
        ASSERT_EQ(S_OK, CreateOrientedSource(former, 6, &formerTurned));
        ASSERT_EQ(S_OK, CreateOrientedSource(pulled, 6, &pulledTurned));
        EXPECT_TRUE(Pull(formerTurned, NULL, 0) == Pull(pulledTurned, NULL, 0)) << (alpha ? "with alpha" : "opaque");
    }
}

TEST_F(PixelPullTest, EveryOutputAndPreviewIsByteForByteTheFormerWays)
{
    const wchar_t *const extensions[] = {L"jpg", L"png", L"bmp", L"gif", L"tif"};
    for (bool alpha : {false, true})
        for (UINT orientation : {1u, 6u})
        {
            // A name of its own: the last input stays open as the current source.
            const std::wstring input = folder + (alpha ? L"\\alpha" : L"\\opaque") + std::to_wstring(orientation) + L".tif";
            const std::vector<BYTE> tiff = BuildTaggedTiff(alpha, orientation);
            ASSERT_TRUE(WriteFileBytes(input, tiff.data(), tiff.size()));
            for (const wchar_t *extension : extensions)
            {
                const std::wstring output = folder + L"\\out." + extension;
                std::vector<BYTE> written[2], preview[2];
                for (int former = 0; former < 2; ++former)
                {
                    PullWay way(former == 1);
                    ASSERT_EQ(S_OK, ResizeImageFile(NULL, input.c_str(), output.c_str()));
                    written[former] = ReadFileBytes(output);
                    preview[former] = PreviewBytes();
                }
                const std::string what = std::string(alpha ? "with alpha" : "opaque") + ", orientation " +
                                         std::to_string(orientation) + ", ." + Narrow(extension);
                EXPECT_FALSE(written[1].empty()) << what;
                EXPECT_TRUE(written[0] == written[1])
                    << what << ": the former way wrote " << written[1].size() << " bytes, now " << written[0].size();
                EXPECT_FALSE(preview[1].empty()) << what;
                EXPECT_TRUE(preview[0] == preview[1]) << what << ": the preview's pixels differ";
            }
        }
}
