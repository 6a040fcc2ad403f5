// Photos come out upright and transparency is kept: real files made here,
// resized by the real pipeline, read back with the platform's decoders.
#include "TestImages.h"
#include "TestPhotoBytes.h"

#include "batch/ImageWriter.h"
#include "batch/ResizePipeline.h"
#include "batch/ResizeSettings.h"
#include "imaging/ImagingContext.h"
#include "imaging/Orientation.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdlib.h>

namespace
{
const UINT RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF, BLACK = 0x000000;

// 40 x 20, a colour to each quarter: no two of the eight orientations
// show the same corners.
UINT Quarters(UINT x, UINT y)
{
    return y < 10 ? (x < 20 ? RED : GREEN) : (x < 20 ? BLUE : BLACK);
}

// Which quarter colour (0xRRGGBB) a decoded or painted pixel is nearest to.
UINT NearestQuarter(UINT rgb)
{
    const UINT colours[] = {RED, GREEN, BLUE, BLACK};
    UINT best = BLACK, bestDistance = ~0u;
    for (UINT colour : colours)
    {
        UINT distance = 0;
        for (int shift = 0; shift < 24; shift += 8)
            distance += static_cast<UINT>(abs(static_cast<int>((rgb >> shift & 0xFF) - (colour >> shift & 0xFF))));
        if (distance < bestDistance)
            bestDistance = distance, best = colour;
    }
    return best;
}

UINT FromColorref(COLORREF c)
{
    return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

// Transparent over green (the colour stored under it), half-transparent
// blue, opaque red: three 10-pixel stripes.
UINT Stripes(UINT x, UINT)
{
    return x < 10 ? 0x0000FF00 : x < 20 ? 0x800000FF : 0xFFFF0000;
}

class FaithfulPictureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"faithful");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(TestFactory() != NULL);
        ApplySizeChoice(ID_SIZE_50);
    }
    void TearDown() override
    {
        ApplySizeChoice(ID_SIZE_25);
        SafeRelease(&g_imaging->currentSource); // lets go of the last input
        RemoveTree(folder);
    }
    std::vector<BYTE> EncodeQuarters(REFGUID container)
    {
        Com<IWICBitmap> bitmap;
        Com<IStream> stream;
        EXPECT_EQ(S_OK, MakeBgrBitmap(40, 20, Quarters, &bitmap));
        const std::wstring path = folder + L"\\plain";
        EXPECT_EQ(S_OK, EncodeToFile(bitmap, container, path));
        return ReadFileBytes(path);
    }
    // Resizes input into Resized-like output and returns the output's pixels.
    std::vector<UINT> Resize(const std::wstring &name, const std::vector<BYTE> &bytes, const std::wstring &outputName,
                             UINT *width, UINT *height, GUID *format)
    {
        const std::wstring input = folder + L"\\" + name, output = folder + L"\\" + outputName;
        EXPECT_TRUE(WriteFileBytes(input, bytes.data(), bytes.size()));
        const HRESULT hr = ResizeImageFile(NULL, input.c_str(), output.c_str());
        EXPECT_EQ(S_OK, hr) << Narrow(name) << ": " << Hex(hr);
        return ReadBgraPixels(output, width, height, format);
    }
    std::wstring folder;
};

struct Corners
{
    UINT topLeft, topRight, bottomLeft, bottomRight;
};

// Where the quarters of the stored picture land when shown as each tag says.
const Corners g_shownCorners[9] = {
    {}, {RED, GREEN, BLUE, BLACK}, {GREEN, RED, BLACK, BLUE}, {BLACK, BLUE, GREEN, RED}, {BLUE, BLACK, RED, GREEN},
    {RED, BLUE, GREEN, BLACK}, {BLUE, RED, BLACK, GREEN}, {BLACK, GREEN, BLUE, RED}, {GREEN, BLACK, RED, BLUE}};

void ExpectCorners(const std::vector<UINT> &pixels, UINT width, UINT height, UINT orientation, const char *what)
{
    ASSERT_EQ(static_cast<size_t>(width) * height, pixels.size()) << what << " orientation " << orientation;
    const Corners &want = g_shownCorners[orientation];
    const UINT got[4] = {NearestQuarter(pixels[width + 1]), NearestQuarter(pixels[2 * width - 2]),
                         NearestQuarter(pixels[(height - 2) * width + 1]),
                         NearestQuarter(pixels[(height - 1) * width - 2])};
    const UINT wanted[4] = {want.topLeft, want.topRight, want.bottomLeft, want.bottomRight};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(wanted[i], got[i]) << what << " orientation " << orientation << ", corner " << i
                                     << " (TL, TR, BL, BR)";
}

std::vector<UINT> PreviewPixels(UINT *width, UINT *height)
{
    BITMAP info = {};
    std::vector<UINT> pixels;
    if (!g_imaging->previewBitmap || !GetObjectW(g_imaging->previewBitmap, sizeof(info), &info))
        return pixels;
    *width = static_cast<UINT>(info.bmWidth);
    *height = static_cast<UINT>(abs(info.bmHeight));
    for (UINT y = 0; y < *height; ++y)
        for (UINT x = 0; x < *width; ++x)
            pixels.push_back(FromColorref(BitmapPixel(g_imaging->previewBitmap, static_cast<int>(x), static_cast<int>(y))));
    return pixels;
}

} // namespace

TEST_F(FaithfulPictureTest, EveryExifOrientationComesOutUprightInOutputAndPreview)
{
    const std::vector<BYTE> jpeg = EncodeQuarters(GUID_ContainerFormatJpeg);
    for (UINT orientation = 1; orientation <= 8; ++orientation)
    {
        // Both byte orders, and the LONG some cameras write instead of SHORT.
        const bool bigEndian = orientation % 2 == 0;
        const WORD type = orientation == 6 ? 4 : 3;
        const std::vector<BYTE> tagged = InsertJpegSegment(
            jpeg, 0xE1, ExifPayload(BuildTiffBlock(bigEndian, {IntegerTag(bigEndian, 0x0112, type, orientation)})));
        UINT width = 0, height = 0;
        GUID format;
        const std::wstring name = L"o" + std::to_wstring(orientation);
        const std::vector<UINT> pixels = Resize(name + L".jpg", tagged, name + L".png", &width, &height, &format);
        const bool swaps = orientation >= 5;
        EXPECT_EQ(swaps ? 10u : 20u, width) << "orientation " << orientation;
        EXPECT_EQ(swaps ? 20u : 10u, height) << "orientation " << orientation;
        ExpectCorners(pixels, width, height, orientation, "output");

        UINT previewWidth = 0, previewHeight = 0;
        const std::vector<UINT> preview = PreviewPixels(&previewWidth, &previewHeight);
        EXPECT_EQ(swaps ? 80u : 284u, previewWidth) << "orientation " << orientation;
        EXPECT_EQ(swaps ? 160u : 142u, previewHeight) << "orientation " << orientation;
        ExpectCorners(preview, previewWidth, previewHeight, orientation, "preview");
    }
}

TEST_F(FaithfulPictureTest, TaggedTiffIsTurnedExactlyOnce)
{
    // An uncompressed RGB TIFF by hand: the platform's encoders write no tags.
    std::vector<BYTE> pixels;
    for (UINT y = 0; y < 20; ++y)
        for (UINT x = 0; x < 40; ++x)
            for (int shift = 16; shift >= 0; shift -= 8)
                pixels.push_back(static_cast<BYTE>(Quarters(x, y) >> shift));
    const bool be = false;
    const DWORD pixelOffset = 8 + 2 + 10 * 12 + 4 + 6;
    const std::vector<BYTE> tiff = BuildTiffBlock(
        be,
        {IntegerTag(be, 256, 3, 40), IntegerTag(be, 257, 3, 20), {258, 3, 3, TiffValue(be, 2, {8, 8, 8})},
         IntegerTag(be, 259, 3, 1), IntegerTag(be, 262, 3, 2), IntegerTag(be, 273, 4, pixelOffset),
         IntegerTag(be, 0x0112, 3, 6), IntegerTag(be, 277, 3, 3), IntegerTag(be, 278, 3, 20),
         IntegerTag(be, 279, 4, static_cast<DWORD>(pixels.size()))},
        pixels);
    ASSERT_EQ(pixelOffset + pixels.size(), tiff.size());
    UINT width = 0, height = 0;
    GUID format;
    const std::vector<UINT> out = Resize(L"turned.tif", tiff, L"turned.png", &width, &height, &format);
    EXPECT_EQ(10u, width);
    EXPECT_EQ(20u, height);
    ExpectCorners(out, width, height, 6, "tiff output");
}

TEST_F(FaithfulPictureTest, TransparencyIsKeptOrLaidOntoWhite)
{
    Com<IWICBitmap> bitmap;
    ASSERT_EQ(S_OK, MakeBgraBitmap(30, 10, Stripes, &bitmap));
    const std::wstring source = folder + L"\\logo.png";
    ASSERT_EQ(S_OK, EncodeToFile(bitmap, GUID_ContainerFormatPng, source));
    const std::vector<BYTE> png = ReadFileBytes(source);
    const struct
    {
        const wchar_t *extension;
        bool keepsAlpha; // where false, an encoder that can keep it still may (BMP on Windows)
        int tolerance;
    } outputs[] = {{L"png", true, 0}, {L"tif", true, 0}, {L"jpg", false, 24}, {L"gif", false, 40}, {L"bmp", false, 0}};
    for (const auto &o : outputs)
    {
        UINT width = 0, height = 0;
        GUID format;
        const std::vector<UINT> pixels = Resize(std::wstring(L"in-") + o.extension + L".png", png, std::wstring(L"out.") + o.extension, &width, &height, &format);
        ASSERT_EQ(15u * 5u, pixels.size()) << Narrow(o.extension);
        const bool kept = o.keepsAlpha || (pixels[2 * 15 + 2] >> 24) == 0;
        if (!o.keepsAlpha && kept)
            printf("[note] .%s kept the alpha (its encoder took 32bpp BGRA)\n", Narrow(o.extension).c_str());
        // Stripe centres: transparent, half-transparent blue, opaque red.
        const UINT expected[3] = {kept ? 0x00000000u : 0xFFFFFFFFu, kept ? 0x800000FFu : 0xFF7F7FFFu, 0xFFFF0000u};
        for (int stripe = 0; stripe < 3; ++stripe)
        {
            const UINT got = pixels[2 * 15 + 2 + 5 * stripe];
            const bool transparent = kept && stripe == 0;
            for (int shift = 0; shift < 32; shift += 8)
            {
                if (transparent && shift < 24)
                    continue; // the colour under alpha 0 shows nowhere
                const int difference = static_cast<int>(got >> shift & 0xFF) - static_cast<int>(expected[stripe] >> shift & 0xFF);
                EXPECT_LE(abs(difference), shift == 24 ? 1 : (o.tolerance ? o.tolerance : 2))
                    << "." << Narrow(o.extension) << " stripe " << stripe << ": expected 0x" << std::hex
                    << expected[stripe] << ", got 0x" << got << std::dec;
            }
        }
    }
    // The window shows transparent areas as its own white.
    UINT previewWidth = 0, previewHeight = 0;
    const std::vector<UINT> preview = PreviewPixels(&previewWidth, &previewHeight);
    ASSERT_EQ(284u * 95u, preview.size());
    EXPECT_EQ(0xFFFFFFu, preview[40 * 284 + 40]) << "transparent area of the preview";
    EXPECT_EQ(0xFF0000u, preview[40 * 284 + 250]) << "opaque area of the preview";
}

TEST_F(FaithfulPictureTest, OpaqueImagesComeOutAsTheyAlwaysDid)
{
    // Without alpha, orientation or metadata, the reference is the plain
    // chain: frame, scaler, 32bpp BGR, writer.
    const struct
    {
        const wchar_t *name;
        std::vector<BYTE> bytes;
    } inputs[] = {
        {L"photo.jpg", EncodeQuarters(GUID_ContainerFormatJpeg)},
        {L"flat.png", EncodeQuarters(GUID_ContainerFormatPng)},
        {L"flat.gif", EncodeQuarters(GUID_ContainerFormatGif)},
        {L"flat.bmp", EncodeQuarters(GUID_ContainerFormatBmp)},
        {L"flat.tif", EncodeQuarters(GUID_ContainerFormatTiff)},
    };
    for (const auto &input : inputs)
    {
        const std::wstring path = folder + L"\\" + input.name;
        const std::wstring output = folder + L"\\out-" + input.name, reference = folder + L"\\ref-" + input.name;
        ASSERT_TRUE(WriteFileBytes(path, input.bytes.data(), input.bytes.size()));
        ASSERT_EQ(S_OK, ResizeImageFile(NULL, path.c_str(), output.c_str())) << Narrow(input.name);

        Com<IWICBitmapFrameDecode> frame;
        Com<IWICBitmapSource> scaled;
        UINT width = 0, height = 0;
        ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame));
        ASSERT_EQ(S_OK, SetCurrentSource(g_imaging, frame, &width, &height));
        ASSERT_EQ(S_OK, CreateScaledSource(g_imaging, width / 2, height / 2, false, &scaled));
        ASSERT_EQ(S_OK, WriteImageFile(g_imaging, scaled, reference.c_str()));
        const std::vector<BYTE> got = ReadFileBytes(output), want = ReadFileBytes(reference);
        EXPECT_FALSE(got.empty()) << Narrow(input.name);
        EXPECT_TRUE(got == want) << Narrow(input.name) << ": " << got.size() << " bytes, the plain chain wrote "
                                 << want.size();
    }
}
