// The image writer against the real encoders: container by extension,
// the JPEG quality option, and the promise that an output is complete or
// absent.
#include "TestImages.h"

#include "TestPhotoBytes.h"

#include "batch/ImageWriter.h"
#include "batch/LongPaths.h"
#include "batch/TempFile.h"
#include "imaging/IndexedPalette.h"

#include <gtest/gtest.h>

#include <mmsystem.h>
#include <string.h>

#include <algorithm>

namespace
{
UINT Gradient(UINT x, UINT y)
{
    return ((x * 40) & 0xFF) << 16 | ((y * 60) & 0xFF) << 8 | 0x80;
}

enum Magic
{
    NONE,
    JPEG,
    PNG,
    BMP,
    GIF,
    TIFF
};

Magic MagicOf(const std::vector<BYTE> &bytes)
{
    if (bytes.size() < 8)
        return NONE;
    if (bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return JPEG;
    if (memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0)
        return PNG;
    if (bytes[0] == 'B' && bytes[1] == 'M')
        return BMP;
    if (memcmp(bytes.data(), "GIF8", 4) == 0)
        return GIF;
    if (memcmp(bytes.data(), "II*\0", 4) == 0 || memcmp(bytes.data(), "MM\0*", 4) == 0)
        return TIFF;
    return NONE;
}

class ImageWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"writer");
        ASSERT_FALSE(folder.empty());
        // Taller than one band of rows, so the encoders see several WriteSource calls.
        ASSERT_EQ(S_OK, MakeBgrBitmap(13, 150, Gradient, &source));
        ZeroMemory(&context, sizeof(context));
        context.factory = TestFactory();
    }
    void TearDown() override { RemoveTree(folder); }

    std::wstring folder;
    Com<IWICBitmap> source;
    ImagingContext context;
};

// Records what the writer puts into an option bag.
class RecordingBag : public IPropertyBag2
{
public:
    std::wstring name;
    VARTYPE type = VT_EMPTY;
    float value = 0.0f;
    ULONG count = 0;
    PROPBAG2 description = {};

    STDMETHODIMP QueryInterface(REFIID, void **object) override { *object = NULL; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(ULONG, PROPBAG2 *, IErrorLog *, VARIANT *, HRESULT *) override { return E_NOTIMPL; }
    HRESULT answer = S_OK;

    STDMETHODIMP Write(ULONG properties, PROPBAG2 *bag, VARIANT *values) override
    {
        if (FAILED(answer))
            return answer;
        count = properties;
        description = bag[0];
        name = bag[0].pstrName ? bag[0].pstrName : L"";
        description.pstrName = NULL;
        type = values[0].vt;
        value = values[0].fltVal;
        return S_OK;
    }
    STDMETHODIMP CountProperties(ULONG *) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyInfo(ULONG, ULONG, PROPBAG2 *, ULONG *) override { return E_NOTIMPL; }
    STDMETHODIMP LoadObject(LPCOLESTR, DWORD, IUnknown *, IErrorLog *) override { return E_NOTIMPL; }
};
// Red above the first band of rows, green and blue stripes below: a palette
// made from the top band alone holds none of the lower colours.
UINT TopBandApart(UINT x, UINT y)
{
    return y < 64 ? 0xFF0000 : (x / 8) % 2 ? 0x0000FF : 0x00FF00;
}

// A logo's worries at once: far more than 255 colours, opaque black
// columns, a transparent band stored as black, and one row either side of
// half coverage.
UINT BlackAmongManyColours(UINT x, UINT y)
{
    if (y < 8)
        return 0x00000000;
    const UINT alpha = y == 8 ? 0x7F000000u : y == 9 ? 0x80000000u : 0xFF000000u;
    return alpha | (x % 4 == 0 ? 0 : (x * 4) << 16 | (y * 4) << 8 | 0x80);
}
const UINT LOGO_SIDE = 64;

// That picture premultiplied, as the writer hands it on.
HRESULT MakeLogoPicture(IWICBitmap **straight, IWICFormatConverter **picture)
{
    HRESULT hr = MakeBgraBitmap(LOGO_SIDE, LOGO_SIDE, BlackAmongManyColours, straight);
    if (SUCCEEDED(hr))
        hr = TestFactory()->CreateFormatConverter(picture);
    return FAILED(hr) ? hr : (*picture)->Initialize(*straight, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                                    NULL, 0.0, WICBitmapPaletteTypeCustom);
}

// The indices of an 8bpp indexed picture of the logo's size; empty when
// they cannot be read.
std::vector<BYTE> ReadLogoIndices(IWICBitmapSource *indexed)
{
    std::vector<BYTE> indices(LOGO_SIDE * LOGO_SIDE);
    if (FAILED(indexed->CopyPixels(NULL, LOGO_SIDE, LOGO_SIDE * LOGO_SIDE, indices.data())))
        indices.clear();
    return indices;
}

// A GIF frame as Windows' encoder answers it, as far as the palette and the
// graphic control extension go (Wine's refuses the extension): records the
// palette and the values it takes, and refuses the one named.
class RecordingGifFrame : public IWICBitmapFrameEncode, public IWICMetadataQueryWriter
{
public:
    const wchar_t *refused = NULL;
    std::vector<std::wstring> taken;
    std::vector<WICColor> palette;

    STDMETHODIMP QueryInterface(REFIID, void **object) override { *object = NULL; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetMetadataQueryWriter(IWICMetadataQueryWriter **writer) override { *writer = this; return S_OK; }
    STDMETHODIMP SetMetadataByName(LPCWSTR name, const PROPVARIANT *) override
    {
        if (refused && wcscmp(name, refused) == 0)
            return WINCODEC_ERR_UNSUPPORTEDOPERATION;
        taken.push_back(name);
        return S_OK;
    }
    STDMETHODIMP SetPalette(IWICPalette *given) override
    {
        UINT count = 0;
        palette.resize(256);
        const HRESULT hr = given->GetColors(256, palette.data(), &count);
        palette.resize(count);
        return hr;
    }
    STDMETHODIMP Initialize(IPropertyBag2 *) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(UINT, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP SetResolution(double, double) override { return E_NOTIMPL; }
    STDMETHODIMP SetPixelFormat(WICPixelFormatGUID *) override { return E_NOTIMPL; }
    STDMETHODIMP SetColorContexts(UINT, IWICColorContext **) override { return E_NOTIMPL; }
    STDMETHODIMP SetThumbnail(IWICBitmapSource *) override { return E_NOTIMPL; }
    STDMETHODIMP WritePixels(UINT, UINT, UINT, BYTE *) override { return E_NOTIMPL; }
    STDMETHODIMP WriteSource(IWICBitmapSource *, WICRect *) override { return E_NOTIMPL; }
    STDMETHODIMP Commit() override { return E_NOTIMPL; }
    STDMETHODIMP GetContainerFormat(GUID *) override { return E_NOTIMPL; }
    STDMETHODIMP GetLocation(UINT, WCHAR *, UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetMetadataByName(LPCWSTR, PROPVARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetEnumerator(IEnumString **) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMetadataByName(LPCWSTR) override { return E_NOTIMPL; }
};

// Holds a file open without delete sharing, as a scanner or a viewer
// does, and lets go after a while.
struct HeldFile
{
    HANDLE handle;
    DWORD ms;
};

DWORD WINAPI LetGoLater(void *argument)
{
    HeldFile *held = static_cast<HeldFile *>(argument);
    Sleep(held->ms);
    CloseHandle(held->handle);
    return 0;
}
} // namespace

TEST(OutputFormat, ExtensionAfterTheLastDotChoosesTheContainer)
{
    struct Row
    {
        const wchar_t *name;
        const GUID *container;
        bool quality, append;
    } rows[] = {
        {L"a.jpg", &GUID_ContainerFormatJpeg, true, false},   {L"IMG_1.JPEG", &GUID_ContainerFormatJpeg, true, false},
        {L"a.Jpe", &GUID_ContainerFormatJpeg, true, false},   {L"a.jfif", &GUID_ContainerFormatJpeg, true, false},
        {L"logo.Png", &GUID_ContainerFormatPng, false, false}, {L"a.BMP", &GUID_ContainerFormatBmp, false, false},
        {L"a.dib", &GUID_ContainerFormatBmp, false, false},    {L"a.gif", &GUID_ContainerFormatGif, false, false},
        {L"scan.Tif", &GUID_ContainerFormatTiff, false, false}, {L"photo.tiff", &GUID_ContainerFormatTiff, false, false},
        {L"a.wmp", &GUID_ContainerFormatWmp, false, false},    {L"a.WDP", &GUID_ContainerFormatWmp, false, false},
        {L"a.jxr", &GUID_ContainerFormatWmp, false, false},    {L"a.hdp", &GUID_ContainerFormatWmp, false, false},
        {L"a.ico", &GUID_ContainerFormatIco, false, false},    {L"photo.webp", &GUID_ContainerFormatJpeg, false, true},
        {L"xjpg", &GUID_ContainerFormatJpeg, false, true},     {L"noext", &GUID_ContainerFormatJpeg, false, true},
        {L"C:\\my.png\\file", &GUID_ContainerFormatJpeg, false, true},
        {L"C:\\x\\archive.png.gz", &GUID_ContainerFormatJpeg, false, true},
    };
    for (const Row &row : rows)
    {
        OutputFormat format = LookUpOutputFormat(row.name);
        EXPECT_TRUE(IsEqualGUID(*row.container, format.container)) << Narrow(row.name);
        EXPECT_EQ(row.quality, format.jpegQuality) << Narrow(row.name);
        EXPECT_EQ(row.append, format.appendJpg) << Narrow(row.name);
    }
}

TEST(OutputFormat, UnknownExtensionGetsJpgAppendedWithinMaxPath)
{
    wchar_t written[MAX_PATH];
    ASSERT_EQ(S_OK, ComposeWrittenPath(L"C:\\out\\photo.webp", written));
    EXPECT_STREQ(L"C:\\out\\photo.webp.jpg", written);
    ASSERT_EQ(S_OK, ComposeWrittenPath(L"C:\\out\\photo.PNG", written));
    EXPECT_STREQ(L"C:\\out\\photo.PNG", written);

    std::wstring longName(MAX_PATH - 3, L'a'); // fits alone, not with ".jpg"
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), ComposeWrittenPath(longName.c_str(), written));
}

TEST(JpegQualityOption, IsOnePropertyImageQualityAsVtR4)
{
    RecordingBag bag;
    ASSERT_EQ(S_OK, WriteJpegQualityOption(&bag));
    EXPECT_EQ(1u, bag.count);
    EXPECT_EQ(L"ImageQuality", bag.name);
    EXPECT_EQ(VT_R4, bag.type);
    EXPECT_EQ(0.95f, bag.value);
    PROPBAG2 zero = {};
    EXPECT_EQ(0, memcmp(&zero, &bag.description, sizeof(zero))) << "every member but the name must be zero";
}

// A refused JPEG quality costs the copy as before; a refused alpha header
// only costs the alpha.
TEST(FrameOptions, ARefusedAlphaHeaderOnlyCostsTheAlpha)
{
    const OutputFormat bmp = LookUpOutputFormat(L"a.bmp"), jpg = LookUpOutputFormat(L"a.jpg");
    const struct
    {
        const OutputFormat *format;
        HRESULT bagAnswer, expected;
        bool alphaTaken;
    } cases[] = {{&bmp, S_OK, S_OK, true},
                 {&bmp, WINCODEC_ERR_PROPERTYNOTFOUND, S_OK, false},
                 {&jpg, WINCODEC_ERR_PROPERTYNOTFOUND, WINCODEC_ERR_PROPERTYNOTFOUND, false}};
    for (const auto &c : cases)
    {
        RecordingBag bag;
        bag.answer = c.bagAnswer;
        bool alphaTaken = !c.alphaTaken;
        EXPECT_EQ(c.expected, WriteFrameOptions(*c.format, &bag, &alphaTaken)) << "bag answering " << Hex(c.bagAnswer);
        EXPECT_EQ(c.alphaTaken, alphaTaken) << "bag answering " << Hex(c.bagAnswer);
    }
}

TEST_F(ImageWriterTest, EveryExtensionGetsItsContainer)
{
    struct Row
    {
        const wchar_t *name;
        const wchar_t *written;
        Magic magic;
    } rows[] = {
        {L"a.jpg", L"a.jpg", JPEG},          {L"b.JPEG", L"b.JPEG", JPEG},    {L"c.jpe", L"c.jpe", JPEG},
        {L"d.jfif", L"d.jfif", JPEG},        {L"e.png", L"e.png", PNG},       {L"f.Png", L"f.Png", PNG},
        {L"g.bmp", L"g.bmp", BMP},           {L"h.DIB", L"h.DIB", BMP},       {L"i.gif", L"i.gif", GIF},
        {L"j.tif", L"j.tif", TIFF},          {L"k.TIFF", L"k.TIFF", TIFF},    {L"l.webp", L"l.webp.jpg", JPEG},
        {L"noextension", L"noextension.jpg", JPEG},
    };
    for (const Row &row : rows)
    {
        HRESULT hr = WriteImageFile(&context, source, (folder + L"\\" + row.name).c_str());
        EXPECT_EQ(S_OK, hr) << Narrow(row.name) << ": " << Hex(hr);
        std::vector<BYTE> bytes = ReadFileBytes(folder + L"\\" + row.written);
        EXPECT_EQ(row.magic, MagicOf(bytes)) << Narrow(row.written);

        GUID container;
        UINT width = 0, height = 0;
        ASSERT_EQ(S_OK, ProbeImageFile(folder + L"\\" + row.written, &container, &width, &height)) << Narrow(row.written);
        EXPECT_EQ(13u, width);
        EXPECT_EQ(150u, height);
    }
    // Nothing else: no leftover temporary file, no file under an unwritten name.
    EXPECT_EQ(13u, ListFolder(folder).size());
}

TEST_F(ImageWriterTest, ContainersWithoutEncoderLeaveNothingBehind)
{
    // No ICO encoder exists anywhere; Wine has no WMP encoder either.
    const wchar_t *names[] = {L"a.ico", L"b.ICO", L"c.wmp", L"d.jxr"};
    for (const wchar_t *name : names)
    {
        HRESULT hr = WriteImageFile(&context, source, (folder + L"\\" + name).c_str());
        if (FAILED(hr))
            EXPECT_FALSE(FileExists(folder + L"\\" + name)) << Narrow(name);
        else
            EXPECT_FALSE(ReadFileBytes(folder + L"\\" + name).empty()) << Narrow(name);
    }
    EXPECT_TRUE(FAILED(WriteImageFile(&context, source, (folder + L"\\x.ico").c_str())));
    for (const std::wstring &name : ListFolder(folder))
        EXPECT_EQ(std::wstring::npos, name.find(L".tmp")) << "left behind: " << Narrow(name);
}

TEST_F(ImageWriterTest, ExistingOutputIsReplaced)
{
    const std::wstring path = folder + L"\\same.png";
    ASSERT_TRUE(WriteFileBytes(path, "old", 3));
    ASSERT_EQ(S_OK, WriteImageFile(&context, source, path.c_str()));
    EXPECT_EQ(PNG, MagicOf(ReadFileBytes(path)));
}

TEST_F(ImageWriterTest, FailedWriteLeavesTheExistingOutputUntouched)
{
    const std::wstring path = folder + L"\\keep.ico";
    ASSERT_TRUE(WriteFileBytes(path, "precious", 8));
    EXPECT_TRUE(FAILED(WriteImageFile(&context, source, path.c_str())));
    std::vector<BYTE> bytes = ReadFileBytes(path);
    EXPECT_EQ("precious", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(1u, ListFolder(folder).size());
}

TEST_F(ImageWriterTest, ReadOnlyOutputIsNotReplacedAndNothingIsLeft)
{
    const std::wstring path = folder + L"\\locked.png";
    ASSERT_TRUE(WriteFileBytes(path, "locked", 6));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    HRESULT hr = WriteImageFile(&context, source, path.c_str());
    EXPECT_TRUE(FAILED(hr)) << Hex(hr);
    std::vector<BYTE> bytes = ReadFileBytes(path);
    EXPECT_EQ("locked", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(1u, ListFolder(folder).size());
}

TEST_F(ImageWriterTest, MissingFolderFailsWithoutCreatingAnything)
{
    HRESULT hr = WriteImageFile(&context, source, (folder + L"\\absent\\a.png").c_str());
    EXPECT_TRUE(FAILED(hr)) << Hex(hr);
    EXPECT_TRUE(ListFolder(folder).empty());
}

TEST_F(ImageWriterTest, FrameGetsTheSourceResolution)
{
    ASSERT_EQ(S_OK, source->SetResolution(300.0, 150.0));
    const std::wstring path = folder + L"\\dpi.png";
    ASSERT_EQ(S_OK, WriteImageFile(&context, source, path.c_str()));
    Com<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame));
    double dpiX = 0, dpiY = 0;
    ASSERT_EQ(S_OK, frame->GetResolution(&dpiX, &dpiY));
    // PNG stores pixels per metre, so allow its rounding.
    EXPECT_NEAR(300.0, dpiX, 0.1);
    EXPECT_NEAR(150.0, dpiY, 0.1);
}

TEST_F(ImageWriterTest, UnknownResolutionIsWrittenAs96Dpi)
{
    // A bitmap made from memory reports 0 x 0 dpi.
    double dpiX = -1, dpiY = -1;
    ASSERT_EQ(S_OK, source->GetResolution(&dpiX, &dpiY));
    ASSERT_EQ(0.0, dpiX);
    const std::wstring path = folder + L"\\nodpi.bmp";
    ASSERT_EQ(S_OK, WriteImageFile(&context, source, path.c_str()));
    Com<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame));
    ASSERT_EQ(S_OK, frame->GetResolution(&dpiX, &dpiY));
    EXPECT_NEAR(96.0, dpiX, 0.1);
    EXPECT_NEAR(96.0, dpiY, 0.1);
}

TEST_F(ImageWriterTest, PixelsSurviveALosslessRoundTrip)
{
    const std::wstring path = folder + L"\\exact.bmp";
    ASSERT_EQ(S_OK, WriteImageFile(&context, source, path.c_str()));
    Com<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(S_OK, DecodeFrameFromFile(path, &frame));
    Com<IWICFormatConverter> converter;
    ASSERT_EQ(S_OK, TestFactory()->CreateFormatConverter(&converter));
    ASSERT_EQ(S_OK, converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, NULL, 0.0,
                                          WICBitmapPaletteTypeCustom));
    std::vector<UINT> pixels(13 * 150);
    ASSERT_EQ(S_OK, converter->CopyPixels(NULL, 13 * 4, 13 * 150 * 4, reinterpret_cast<BYTE *>(pixels.data())));
    for (UINT y = 0; y < 150; ++y)
        for (UINT x = 0; x < 13; ++x)
            ASSERT_EQ(Gradient(x, y), pixels[y * 13 + x] & 0xFFFFFF) << x << "," << y;
}

TEST_F(ImageWriterTest, IndexedCopyTakesItsColoursFromTheWholePicture)
{
    Com<IWICBitmap> picture;
    ASSERT_EQ(S_OK, MakeBgrBitmap(32, 160, TopBandApart, &picture));
    const std::wstring path = folder + L"\\bands.gif";
    ASSERT_EQ(S_OK, WriteImageFile(&context, picture, path.c_str()));
    UINT width = 0, height = 0;
    GUID format;
    const std::vector<UINT> pixels = ReadBgraPixels(path, &width, &height, &format);
    ASSERT_EQ(32u * 160u, pixels.size());
    for (UINT y : {10u, 70u, 159u})
        for (UINT x : {3u, 11u})
        {
            const UINT want = TopBandApart(x, y), got = pixels[y * 32 + x] & 0xFFFFFF;
            for (int shift = 0; shift < 24; shift += 8)
                EXPECT_NEAR(static_cast<int>(want >> shift & 0xFF), static_cast<int>(got >> shift & 0xFF), 8)
                    << "pixel (" << x << ", " << y << "): expected 0x" << std::hex << want << ", got 0x" << got;
        }
    // Too small for a palette of its own: the encoder converts it itself.
    Com<IWICBitmap> dot;
    ASSERT_EQ(S_OK, MakeBgrBitmap(1, 1, TopBandApart, &dot));
    const std::wstring dotPath = folder + L"\\dot.gif";
    EXPECT_EQ(S_OK, WriteImageFile(&context, dot, dotPath.c_str()));
    EXPECT_EQ(GIF, MagicOf(ReadFileBytes(dotPath)));
}

// Under Wine the GIF encoder takes no transparent index, so the keyed
// pieces are checked here as the frame would be given them.
TEST_F(ImageWriterTest, KeyedIndexedCopyPutsOnlyUncoveredPixelsOnTheTransparentEntry)
{
    Com<IWICBitmap> straight;
    Com<IWICFormatConverter> picture;
    ASSERT_EQ(S_OK, MakeLogoPicture(&straight, &picture));
    Com<IWICPalette> palette, answered;
    Com<IWICBitmapSource> keyed, unkeyed;
    ASSERT_EQ(S_OK, CreateKeyedIndexedSource(TestFactory(), picture, &palette, &keyed, &unkeyed));
    ASSERT_EQ(S_OK, TestFactory()->CreatePalette(&answered));
    ASSERT_EQ(S_OK, keyed->CopyPalette(answered)) << "the keyed source answers the frame's palette";
    WICColor entries[256];
    UINT count = 0;
    ASSERT_EQ(S_OK, answered->GetColors(256, entries, &count));
    ASSERT_EQ(256u, count);
    for (UINT i = 0; i < 256; ++i)
        EXPECT_EQ(i == 255 ? 0u : 0xFFu, entries[i] >> 24) << "only the last entry is transparent; entry " << i
                                                           << " is 0x" << std::hex << entries[i];
    const std::vector<BYTE> indices = ReadLogoIndices(keyed);
    ASSERT_EQ(LOGO_SIDE * LOGO_SIDE, indices.size());
    for (UINT i = 0; i < indices.size(); ++i)
    {
        const UINT want = BlackAmongManyColours(i % LOGO_SIDE, i / LOGO_SIDE), got = entries[indices[i]];
        EXPECT_EQ((want >> 24) < 0x80, indices[i] == 255)
            << "pixel " << i << " of 0x" << std::hex << want << " got index " << std::dec << +indices[i];
        // The palette's black may be a near black averaged from its box.
        if (want == 0xFF000000)
        {
            EXPECT_TRUE((got & 0xFFF0F0F0) == 0xFF000000) << "opaque black pixel " << i << " came out 0x" << std::hex << got;
        }
    }
}

// The index is written before the flag. A frame that refuses the index is
// left unmarked and gets a palette of the picture's own; one that takes the
// index but refuses the flag gets no pixel on that index, so no mark its
// writer kept can make a hole.
TEST_F(ImageWriterTest, TransparencyIsFlaggedOnlyOnceItsIndexIsTaken)
{
    const wchar_t *const INDEX = L"/grctlext/TransparentColorIndex", *const FLAG = L"/grctlext/TransparencyFlag";
    const struct
    {
        const wchar_t *refused;
        std::vector<std::wstring> taken;
        UINT onLastEntry; // the rows under half coverage, where the flag went in
    } cases[] = {{NULL, {INDEX, FLAG}, 9 * LOGO_SIDE}, {FLAG, {INDEX}, 0}, {INDEX, {}, 0}};
    Com<IWICBitmap> straight;
    Com<IWICFormatConverter> picture;
    ASSERT_EQ(S_OK, MakeLogoPicture(&straight, &picture));
    for (const auto &c : cases)
    {
        RecordingGifFrame frame;
        frame.refused = c.refused;
        Com<IWICBitmapSource> indexed;
        const std::string label = c.refused ? Narrow(c.refused) + " refused" : "all taken";
        ASSERT_EQ(S_OK, CreateIndexedSource(TestFactory(), &frame, picture, GUID_WICPixelFormat8bppIndexed, true, &indexed))
            << label;
        EXPECT_EQ(c.taken, frame.taken) << label;
        ASSERT_EQ(256u, frame.palette.size()) << label;
        // Unmarked, the palette is the picture's own and has no transparent entry.
        EXPECT_EQ(c.taken.empty() ? 0xFFu : 0u, frame.palette[255] >> 24) << label;
        const std::vector<BYTE> indices = ReadLogoIndices(indexed);
        ASSERT_EQ(LOGO_SIDE * LOGO_SIDE, indices.size()) << label;
        if (!c.taken.empty())
        {
            EXPECT_EQ(c.onLastEntry, static_cast<UINT>(std::count(indices.begin(), indices.end(), 255))) << label;
        }
    }
}

// A hold shorter than the writer's patience costs nothing; a longer one
// costs the copy, and leaves the old output and no temporary file.
TEST_F(ImageWriterTest, OutputHeldByAnotherProgramIsWaitedForWithinBounds)
{
    const struct
    {
        DWORD holdMs;
        bool replaced;
    } cases[] = {{300, true}, {PATIENCE_MS + 1500, false}};
    for (const auto &c : cases)
    {
        const std::wstring path = folder + L"\\held.png";
        ASSERT_TRUE(WriteFileBytes(path, "old", 3));
        HeldFile held = {CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL), c.holdMs};
        ASSERT_NE(INVALID_HANDLE_VALUE, held.handle);
        HANDLE thread = CreateThread(NULL, 0, LetGoLater, &held, 0, NULL);
        const HRESULT hr = WriteImageFile(&context, source, path.c_str());
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        const std::vector<BYTE> bytes = ReadFileBytes(path);
        EXPECT_EQ(c.replaced, SUCCEEDED(hr)) << "held " << c.holdMs << " ms: " << Hex(hr);
        EXPECT_EQ(c.replaced ? PNG : NONE, MagicOf(bytes)) << "held " << c.holdMs << " ms: " << bytes.size() << " bytes";
        EXPECT_EQ(std::vector<std::wstring>{L"held.png"}, ListFolder(folder)) << "held " << c.holdMs << " ms";
    }
}

// The temporary file is ours alone while it is written, and is put in
// place through its own handle: onto a new name or over an old output at
// once, after a brief hold within bounds, and never where waiting would
// not help (a folder in the way, a missing folder), which fails at once.
TEST_F(ImageWriterTest, TheTemporaryFileIsRenamedThroughItsOwnHandle)
{
    const struct
    {
        const char *what;
        const wchar_t *target;
        int standing; // 0 nothing, 1 an old file, 2 a folder, 3 an old file held for 300 ms
        bool renamed;
        bool waits;
    } cases[] = {{"new name", L"new.png", 0, true, false},
                 {"old output", L"old.png", 1, true, false},
                 {"held output", L"held.png", 3, true, true},
                 {"folder in the way", L"folder.png", 2, false, false},
                 {"missing folder", L"missing\\new.png", 0, false, false}};
    for (const auto &c : cases)
    {
        const std::wstring target = folder + L"\\" + c.target;
        if (c.standing == 1 || c.standing == 3)
        {
            ASSERT_TRUE(WriteFileBytes(target, "old", 3));
        }
        if (c.standing == 2)
        {
            ASSERT_TRUE(CreateDirectoryW(target.c_str(), NULL));
        }
        HeldFile held = {INVALID_HANDLE_VALUE, 300};
        HANDLE thread = NULL;
        if (c.standing == 3)
        {
            held.handle = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            thread = CreateThread(NULL, 0, LetGoLater, &held, 0, NULL);
        }
        HANDLE file = INVALID_HANDLE_VALUE;
        ASSERT_EQ(S_OK, CreateTempFileIn(folder.c_str(), &file)) << c.what;
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, "new", 3, &written, NULL));
        const std::vector<std::wstring> listed = ListFolder(folder);
        std::wstring temp;
        for (const std::wstring &name : listed)
            if (name.compare(0, 3, L"qmw") == 0)
                temp = folder + L"\\" + name;
        HANDLE other = CreateFileW(temp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(INVALID_HANDLE_VALUE, other) << c.what << ": somebody else could open the temporary file";
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
        const DWORD started = timeGetTime();
        const HRESULT hr = RenameTempFileOnto(file, target.c_str());
        const DWORD elapsed = timeGetTime() - started;
        if (FAILED(hr))
            DiscardTempFile(file);
        else
            CloseHandle(file);
        if (thread)
        {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        EXPECT_EQ(c.renamed, SUCCEEDED(hr)) << c.what << ": " << Hex(hr);
        if (c.renamed)
        {
            EXPECT_EQ(std::vector<BYTE>({'n', 'e', 'w'}), ReadFileBytes(target)) << c.what;
        }
        EXPECT_EQ(c.waits, elapsed >= 250) << c.what << ": the rename took " << elapsed << " ms";
        for (const std::wstring &name : ListFolder(folder))
            EXPECT_NE(0, name.compare(0, 3, L"qmw")) << c.what << ": " << Narrow(name) << " was left";
    }
}

// Windows refuses CreateDirectoryW past 248 characters and GetTempFileNameW
// past 246; the extended forms of every path a MAX_PATH buffer holds fit.
TEST(LongPaths, ExtendedFormsFitEveryPathOfTheBatch)
{
    const struct
    {
        const wchar_t *path, *extended;
    } forms[] = {
        {L"C:\\Photos", L"\\\\?\\C:\\Photos"},
        {L"D:\\\\Resized", L"\\\\?\\D:\\Resized"}, // a drive root joined with "\Resized"
        {L"\\\\server\\share\\a.", L"\\\\?\\UNC\\server\\share\\a."},
        {L"\\\\?\\C:\\x ", L"\\\\?\\C:\\x "},
        {L"Photos\\a.jpg", L""},
    };
    for (const auto &f : forms)
    {
        wchar_t extended[EXTENDED_PATH_CHARS];
        EXPECT_EQ(f.extended[0] != 0, FormExtendedPath(f.path, extended)) << Narrow(f.path);
        EXPECT_EQ(std::wstring(f.extended), extended) << Narrow(f.path);
    }
    for (size_t length : {200u, 235u, 246u, 247u, 248u, 257u, 259u})
    {
        const std::wstring drive = L"C:\\" + std::wstring(length - 3, L'a'), unc = L"\\\\s\\" + std::wstring(length - 4, L'b');
        for (const std::wstring &folderPath : {drive, unc})
        {
            wchar_t extended[EXTENDED_PATH_CHARS], temp[EXTENDED_PATH_CHARS];
            EXPECT_TRUE(FormExtendedPath(folderPath.c_str(), extended)) << length;
            EXPECT_EQ(0, wcsncmp(extended, L"\\\\?\\", 4)) << length;
            EXPECT_TRUE(FormExtendedChild(folderPath.c_str(), L"qmwFFFF.tmp", temp)) << length;
            EXPECT_EQ(wcslen(extended) + 12, wcslen(temp)) << length;
        }
    }
}
