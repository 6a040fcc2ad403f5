// A source that fails halfway through its pixels, as a decoder on Windows
// does when it reaches the damaged part of a file only while the encoder is
// already pulling rows. (Wine's decoders read the whole frame when they
// open it, so there the failure never comes this late.) The writer must
// leave neither a new file nor a changed old one, in any container. And
// memory refused to the program's own code beneath WIC or in the pipeline:
// that file fails, and the next one is written.
#include "RobustSupport.h"
#include "TestPhotoBytes.h"

#include "batch/ImageWriter.h"
#include "imaging/ImagingContext.h"
#include "imaging/IndexedPalette.h"
#include "imaging/OwnBitmapSources.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <atomic>
#include <new>

// Every allocation of at least this many bytes, on any thread, is refused
// while a test lowers it (SIZE_MAX: none is).
static std::atomic<size_t> g_refuseFrom(SIZE_MAX);

static void *AllocateUnlessRefused(size_t size) noexcept
{
    return size >= g_refuseFrom ? NULL : malloc(size ? size : 1);
}
void *operator new(size_t size)
{
    void *memory = AllocateUnlessRefused(size);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return AllocateUnlessRefused(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return AllocateUnlessRefused(size); }
void operator delete(void *memory) noexcept { free(memory); }
void operator delete[](void *memory) noexcept { free(memory); }
void operator delete(void *memory, size_t) noexcept { free(memory); }
void operator delete[](void *memory, size_t) noexcept { free(memory); }

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

namespace
{
// Refuses allocations of at least bytes for its own lifetime.
struct RefusedMemory
{
    explicit RefusedMemory(size_t bytes) { g_refuseFrom = bytes; }
    ~RefusedMemory() { g_refuseFrom = SIZE_MAX; }
};

const std::vector<BYTE> OLD_BYTES = {'o', 'l', 'd'};

// A fresh folder whose "Resized" holds each of names with OLD_BYTES.
std::wstring MakeFolderWithOldOutputs(std::initializer_list<const wchar_t *> names)
{
    const std::wstring folder = MakeTempFolder(L"nomemory");
    bool made = !folder.empty() && CreateDirectoryW(OutputFolderOf(folder).c_str(), NULL);
    for (const wchar_t *name : names)
        made = made && WriteFileBytes(OutputFolderOf(folder) + L"\\" + name, OLD_BYTES.data(), OLD_BYTES.size());
    return made ? folder : L"";
}
} // namespace

// The source that keys a GIF's transparent pixels (made by the writer
// where the GIF encoder takes a transparent index, as Windows' does, not
// Wine's) allocates a row of alpha inside CopyPixels, under WriteSource.
// (Wine's JPEG encoder takes no indexed source at all, so no JPEG here.)
TEST(SourceFault, MemoryRefusedInsideAnOwnSourceFailsThatFileAndTheNextIsWritten)
{
    const UINT width = 300, height = 40;
    const std::wstring folder = MakeFolderWithOldOutputs({L"k.png", L"k.gif", L"k.bmp", L"k.tif"});
    ASSERT_FALSE(folder.empty());
    ImagingContext context = {};
    context.factory = TestFactory();
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICBitmapSource> picture, keyed, unkeyed;
    Com<IWICPalette> palette;
    ASSERT_TRUE(WriteImage(folder + L"\\in.gif", width, height, GUID_ContainerFormatGif));
    ASSERT_EQ(S_OK, DecodeFrameFromFile(folder + L"\\in.gif", &frame));
    ASSERT_EQ(S_OK, CreateConvertedSource(context.factory, frame, GUID_WICPixelFormat32bppPBGRA, &picture));
    ASSERT_EQ(S_OK, CreateKeyedIndexedSource(context.factory, picture, &palette, &keyed, &unkeyed));
    for (const wchar_t *name : {L"k.png", L"k.gif", L"k.bmp", L"k.tif"})
    {
        const std::wstring old = OutputFolderOf(folder) + L"\\" + name, next = old + L".next.png";
        HRESULT failed, written;
        {
            RefusedMemory refused(width * 4);
            failed = WriteImageFile(&context, keyed, old.c_str());
            written = WriteImageFile(&context, frame, next.c_str());
        }
        EXPECT_EQ(E_OUTOFMEMORY, failed) << Narrow(name) << " without memory for the row came back " << Hex(failed);
        EXPECT_EQ(S_OK, written) << Narrow(name) << ": the next file, which needs no such memory";
        EXPECT_TRUE(ReadFileBytes(old) == OLD_BYTES) << Narrow(name) << ": the old output was changed";
        EXPECT_EQ(S_OK, DecodeCompletely(next).hr) << Narrow(name) << ": the next file is not whole";
    }
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left";
    keyed.Reset();
    unkeyed.Reset();
    picture.Reset();
    frame.Reset(); // in.gif is let go before its folder goes
    RemoveTestFolder(folder);
}

// The pipeline keeps a PNG's profile in a vector of its own before any
// encoder runs; the walk goes on past the file that cannot have it.
TEST(SourceFault, MemoryRefusedToThePipelineFailsThatFileAndTheWalkGoesOn)
{
    const size_t profileBytes = 256 * 1024;
    const std::wstring folder = MakeFolderWithOldOutputs({L"profiled.png"});
    ASSERT_FALSE(folder.empty());
    std::vector<BYTE> png = MakeImageBytes(64, 48, GUID_ContainerFormatPng), chunk;
    const std::vector<BYTE> profile = MakeIccProfile("RGB ", profileBytes);
    ASSERT_TRUE(BuildIccpChunk(profile.data(), profile.size(), &chunk));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end()); // right after IHDR
    ASSERT_TRUE(WriteFileBytes(folder + L"\\profiled.png", png.data(), png.size()));
    ASSERT_TRUE(WriteImage(folder + L"\\next.jpg", 64, 48, GUID_ContainerFormatJpeg));
    DWORD elapsed = 0;
    {
        // Above the header reader's buffer, below the profile.
        RefusedMemory refused(profileBytes / 2);
        EXPECT_TRUE(RunWalk(folder, 30000, &elapsed)) << "the walk did not end";
    }
    EXPECT_TRUE(ReadFileBytes(OutputFolderOf(folder) + L"\\profiled.png") == OLD_BYTES) << "the old output was changed";
    EXPECT_EQ(S_OK, DecodeCompletely(OutputFolderOf(folder) + L"\\next.jpg").hr) << "the next file was not written";
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left";
    RemoveTestFolder(folder);
}
