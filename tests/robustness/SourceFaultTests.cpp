// A source that fails halfway through its pixels, as a decoder on Windows
// does when it reaches the damaged part of a file only while the encoder is
// already pulling rows. (Wine's decoders read the whole frame when they
// open it, so there the failure never comes this late.) The writer must
// leave neither a new file nor a changed old one, in any container.
#include "RobustSupport.h"

#include "batch/ImageWriter.h"
#include "imaging/ImagingContext.h"

#include <gtest/gtest.h>

namespace
{
const UINT WIDTH = 64, HEIGHT = 48, GOOD_ROWS = 20;

// Delivers PatternPixel rows up to GOOD_ROWS, then fails like a decoder
// meeting corrupt data.
class FailingSource : public IWICBitmapSource
{
public:
    UINT rowsDelivered = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWICBitmapSource))
        {
            *object = this;
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetSize(UINT *width, UINT *height) override
    {
        *width = WIDTH;
        *height = HEIGHT;
        return S_OK;
    }
    STDMETHODIMP GetPixelFormat(WICPixelFormatGUID *format) override
    {
        *format = GUID_WICPixelFormat32bppBGR;
        return S_OK;
    }
    STDMETHODIMP GetResolution(double *x, double *y) override
    {
        *x = *y = 96.0;
        return S_OK;
    }
    STDMETHODIMP CopyPalette(IWICPalette *) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
    STDMETHODIMP CopyPixels(const WICRect *rect, UINT stride, UINT size, BYTE *buffer) override
    {
        const WICRect whole = {0, 0, static_cast<INT>(WIDTH), static_cast<INT>(HEIGHT)};
        const WICRect &r = rect ? *rect : whole;
        if (static_cast<UINT64>(stride) * (r.Height - 1) + r.Width * 4u > size)
            return E_INVALIDARG;
        for (INT y = 0; y < r.Height; ++y)
        {
            if (static_cast<UINT>(r.Y + y) >= GOOD_ROWS)
                return WINCODEC_ERR_BADIMAGE;
            UINT *row = reinterpret_cast<UINT *>(buffer + static_cast<size_t>(y) * stride);
            for (INT x = 0; x < r.Width; ++x)
                row[x] = PatternPixel(r.X + x, r.Y + y);
            ++rowsDelivered;
        }
        return S_OK;
    }
};
} // namespace

TEST(SourceFault, FailingHalfwayLeavesNoNewFileInAnyContainer)
{
    const std::wstring folder = MakeTempFolder(L"source");
    ASSERT_FALSE(folder.empty());
    ImagingContext context = {};
    context.factory = TestFactory();
    for (const wchar_t *name : {L"a.jpg", L"b.png", L"c.bmp", L"d.gif", L"e.tif", L"f.webp"})
    {
        FailingSource source;
        HRESULT hr = WriteImageFile(&context, &source, (folder + L"\\" + name).c_str());
        EXPECT_TRUE(FAILED(hr)) << Narrow(name) << ": the source failed, yet the writer answered " << Hex(hr);
        EXPECT_GT(source.rowsDelivered, 0u) << Narrow(name) << ": the failure must come after some rows";
    }
    EXPECT_TRUE(ListFolder(folder).empty()) << "a failed write left a file behind";
    RemoveTestFolder(folder);
}

TEST(SourceFault, FailingHalfwayLeavesTheOldOutputAsItWas)
{
    const std::wstring folder = MakeTempFolder(L"source");
    ASSERT_FALSE(folder.empty());
    ImagingContext context = {};
    context.factory = TestFactory();
    for (const wchar_t *name : {L"a.jpg", L"b.png", L"c.tif"})
    {
        const std::wstring path = folder + L"\\" + name;
        ASSERT_TRUE(WriteImage(path, 7, 5, GUID_ContainerFormatPng));
        const uint64_t before = HashBytes(ReadFileBytes(path));
        FailingSource source;
        EXPECT_TRUE(FAILED(WriteImageFile(&context, &source, path.c_str()))) << Narrow(name);
        EXPECT_EQ(before, HashBytes(ReadFileBytes(path))) << Narrow(name) << ": the old output was changed";
    }
    EXPECT_EQ(3u, ListFolder(folder).size()) << "a failed write left a temporary file";
    RemoveTestFolder(folder);
}
