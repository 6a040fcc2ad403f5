// The imaging layer against the real WIC: fit rule, scaled sources, the
// top-down preview bitmap and the once-only context.
#include "TestImages.h"

#include "imaging/ImagingContext.h"
#include "imaging/Orientation.h"
#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <stdlib.h>

namespace
{
struct FitRow
{
    UINT width, height, previewWidth, previewHeight;
};

const FitRow g_fitRows[] = {
    {4000, 3000, 213, 160}, {1920, 1080, 284, 160}, {1600, 901, 284, 160}, {1601, 900, 284, 160},
    {3000, 1000, 284, 95},  {17, 9, 284, 150},      {1024, 1024, 160, 160}, {300, 200, 240, 160},
    {1000, 4000, 40, 160},  {568, 1, 284, 1},       {569, 1, 284, 0},       {1, 320, 1, 160},
    {1, 321, 0, 160},
};

// A context of the test's own, sharing the process factory, so that tests
// can watch currentSource and previewBitmap without disturbing each other.
struct ScratchContext
{
    ImagingContext context;
    ScratchContext()
    {
        ZeroMemory(&context, sizeof(context));
        context.factory = TestFactory();
    }
    ~ScratchContext()
    {
        if (context.currentSource)
            context.currentSource->Release();
        if (context.previewBitmap)
            DeleteObject(context.previewBitmap);
    }
};

UINT Quadrants(UINT x, UINT y)
{
    // Red top-left, green top-right, blue bottom-left, white bottom-right of an 8 x 4 image.
    if (y < 2)
        return x < 4 ? 0xFF0000 : 0x00FF00;
    return x < 4 ? 0x0000FF : 0xFFFFFF;
}

HRESULT MakeFrame(UINT width, UINT height, IWICBitmapFrameDecode **frame)
{
    Com<IWICBitmap> bitmap;
    Com<IStream> stream;
    HRESULT hr = MakeGrayBitmap(width, height, &bitmap);
    if (SUCCEEDED(hr))
        hr = EncodeToMemory(bitmap, GUID_ContainerFormatPng, &stream);
    if (SUCCEEDED(hr))
        hr = DecodeFrameFromStream(stream, frame);
    return hr;
}
} // namespace

TEST(FitRule, MatchesEveryRowOfTheTable)
{
    for (const FitRow &row : g_fitRows)
    {
        UINT width = 12345, height = 12345;
        ComputePreviewSize(row.width, row.height, &width, &height);
        EXPECT_EQ(row.previewWidth, width) << row.width << " x " << row.height;
        EXPECT_EQ(row.previewHeight, height) << row.width << " x " << row.height;
    }
}

TEST(FitRule, DegenerateFramesDoNotReachUndefinedArithmetic)
{
    UINT width = 1, height = 1;
    ComputePreviewSize(0, 0, &width, &height);
    EXPECT_EQ(0u, width * height);
    ComputePreviewSize(7, 0, &width, &height);
    EXPECT_EQ(284u, width);
    EXPECT_EQ(0u, height);
}

TEST(PreviewSource, RealFramesGetTheFittedSizeIn32bppBgr)
{
    for (const FitRow &row : g_fitRows)
    {
        ScratchContext scratch;
        Com<IWICBitmapFrameDecode> frame;
        HRESULT hr = MakeFrame(row.width, row.height, &frame);
        ASSERT_EQ(S_OK, hr) << Hex(hr);

        Com<IWICBitmapSource> preview;
        preview.p = BuildPreviewSource(&scratch.context, frame, ORIENTATION_UPRIGHT, false);
        ASSERT_TRUE(scratch.context.currentSource != NULL) << "the frame must become the current source";

        if (row.previewWidth == 0 || row.previewHeight == 0)
        {
            // A zero side is handed to the scaler unchanged; the scaler refuses it.
            EXPECT_TRUE(preview == NULL) << row.width << " x " << row.height;
            continue;
        }
        ASSERT_TRUE(preview != NULL) << row.width << " x " << row.height;
        UINT width = 0, height = 0;
        WICPixelFormatGUID format;
        ASSERT_EQ(S_OK, preview->GetSize(&width, &height));
        ASSERT_EQ(S_OK, preview->GetPixelFormat(&format));
        EXPECT_EQ(row.previewWidth, width) << row.width << " x " << row.height;
        EXPECT_EQ(row.previewHeight, height) << row.width << " x " << row.height;
        EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppBGR));
    }
}

TEST(PreviewSource, ReplacesTheCurrentSource)
{
    ScratchContext scratch;
    Com<IWICBitmapFrameDecode> first, second;
    ASSERT_EQ(S_OK, MakeFrame(30, 20, &first));
    ASSERT_EQ(S_OK, MakeFrame(20, 30, &second));
    Com<IWICBitmapSource> preview;
    preview.p = BuildPreviewSource(&scratch.context, first, ORIENTATION_UPRIGHT, false);
    preview.p = (preview.Reset(), BuildPreviewSource(&scratch.context, second, ORIENTATION_UPRIGHT, false));
    UINT width = 0, height = 0;
    ASSERT_EQ(S_OK, scratch.context.currentSource->GetSize(&width, &height));
    EXPECT_EQ(20u, width);
    EXPECT_EQ(30u, height);
}

TEST(ScaledSource, HasExactlyTheRequestedSizeIn32bppBgr)
{
    const UINT sizes[][2] = {{1, 1}, {3, 7}, {1000, 750}, {61, 2}};
    for (const auto &size : sizes)
    {
        ScratchContext scratch;
        // 8bpp grey in, to show the converter runs after the scaler.
        HRESULT hr = MakeGrayBitmap(40, 30, reinterpret_cast<IWICBitmap **>(&scratch.context.currentSource));
        ASSERT_EQ(S_OK, hr) << Hex(hr);
        Com<IWICBitmapSource> scaled;
        hr = CreateScaledSource(&scratch.context, size[0], size[1], false, &scaled);
        ASSERT_EQ(S_OK, hr) << Hex(hr);
        UINT width = 0, height = 0;
        WICPixelFormatGUID format;
        ASSERT_EQ(S_OK, scaled->GetSize(&width, &height));
        ASSERT_EQ(S_OK, scaled->GetPixelFormat(&format));
        EXPECT_EQ(size[0], width);
        EXPECT_EQ(size[1], height);
        EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppBGR));
    }
}

TEST(ScaledSource, ZeroSideFailsWithNoSource)
{
    ScratchContext scratch;
    ASSERT_EQ(S_OK, MakeGrayBitmap(4, 4, reinterpret_cast<IWICBitmap **>(&scratch.context.currentSource)));
    IWICBitmapSource *scaled = reinterpret_cast<IWICBitmapSource *>(1);
    HRESULT hr = CreateScaledSource(&scratch.context, 0, 0, false, &scaled);
    // Wine's scaler answers E_INVALIDARG; the caller relies only on a failure.
    EXPECT_TRUE(FAILED(hr)) << Hex(hr);
    EXPECT_TRUE(scaled == NULL);
}

TEST(TopDownDib, FirstRowInMemoryIsTheTopRow)
{
    void *bits = NULL;
    HBITMAP bitmap = CreateTopDownDib(5, 3, &bits);
    ASSERT_TRUE(bitmap != NULL);
    ASSERT_TRUE(bits != NULL);
    DIBSECTION section;
    ASSERT_EQ(static_cast<int>(sizeof(section)), GetObjectW(bitmap, sizeof(section), &section));
    EXPECT_EQ(5, section.dsBmih.biWidth);
    EXPECT_EQ(3, abs(section.dsBmih.biHeight));
    EXPECT_EQ(32, section.dsBmih.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), section.dsBmih.biCompression);
    // The first pixel in memory must show at the top-left corner.
    static_cast<UINT *>(bits)[0] = 0x00FF0000; // BGRX: red
    GdiFlush();
    EXPECT_EQ(RGB(255, 0, 0), BitmapPixel(bitmap, 0, 0));
    EXPECT_EQ(RGB(0, 0, 0), BitmapPixel(bitmap, 0, 2));
    DeleteObject(bitmap);
}

TEST(TopDownDib, RefusesSizesThatWouldWrap)
{
    void *bits = reinterpret_cast<void *>(1);
    EXPECT_TRUE(CreateTopDownDib(0x10000, 0x10000, &bits) == NULL);
    EXPECT_TRUE(bits == NULL);
    EXPECT_TRUE(CreateTopDownDib(0x80000000u, 1, &bits) == NULL);
    EXPECT_TRUE(CreateTopDownDib(1, 0xFFFFFFFFu, &bits) == NULL);
}

TEST(PreviewBitmap, HoldsThePixelsTopRowFirst)
{
    ScratchContext scratch;
    Com<IWICBitmap> source;
    ASSERT_EQ(S_OK, MakeBgrBitmap(8, 4, Quadrants, &source));
    HRESULT hr = UpdatePreviewBitmap(&scratch.context, source);
    ASSERT_EQ(S_OK, hr) << Hex(hr);
    ASSERT_TRUE(scratch.context.previewBitmap != NULL);

    DIBSECTION section;
    ASSERT_EQ(static_cast<int>(sizeof(section)), GetObjectW(scratch.context.previewBitmap, sizeof(section), &section));
    const UINT *pixels = static_cast<const UINT *>(section.dsBm.bmBits);
    EXPECT_EQ(0xFF0000u, pixels[0] & 0xFFFFFF) << "top-left";
    EXPECT_EQ(0x00FF00u, pixels[7] & 0xFFFFFF) << "top-right";
    EXPECT_EQ(0x0000FFu, pixels[3 * 8] & 0xFFFFFF) << "bottom-left";
    EXPECT_EQ(0xFFFFFFu, pixels[3 * 8 + 7] & 0xFFFFFF) << "bottom-right";
    EXPECT_EQ(RGB(255, 0, 0), BitmapPixel(scratch.context.previewBitmap, 0, 0)) << "top-left on screen";
    EXPECT_EQ(RGB(0, 0, 255), BitmapPixel(scratch.context.previewBitmap, 0, 3)) << "bottom-left on screen";
}

TEST(PreviewBitmap, IsReplacedByTheNextPreview)
{
    ScratchContext scratch;
    Com<IWICBitmap> first, second;
    ASSERT_EQ(S_OK, MakeBgrBitmap(8, 4, Quadrants, &first));
    ASSERT_EQ(S_OK, MakeBgrBitmap(2, 2, NULL, &second));
    ASSERT_EQ(S_OK, UpdatePreviewBitmap(&scratch.context, first));
    HBITMAP old = scratch.context.previewBitmap;
    ASSERT_EQ(S_OK, UpdatePreviewBitmap(&scratch.context, second));
    BITMAP info;
    ASSERT_EQ(static_cast<int>(sizeof(info)), GetObjectW(scratch.context.previewBitmap, sizeof(info), &info));
    EXPECT_EQ(2, info.bmWidth);
    EXPECT_EQ(0, GetObjectW(old, sizeof(info), &info)) << "the old preview must have been deleted";
}

TEST(ImagingContext, IsCreatedOnceHoweverOftenAskedFor)
{
    CreateImagingContext();
    ImagingContext *context = g_imaging;
    ASSERT_TRUE(context != NULL);
    ASSERT_TRUE(context->factory != NULL);
    IWICImagingFactory *factory = context->factory;
    for (int i = 0; i < 5; ++i)
        CreateImagingContext();
    EXPECT_EQ(context, g_imaging);
    EXPECT_EQ(factory, g_imaging->factory);
    EXPECT_FALSE(g_imagingPending);
    EXPECT_FALSE(g_quitRequested);
}
