// A photo's own metadata in its resized copy: Exif, XMP and ICC chunks from
// a JPEG, the colour profile of a PNG or TIFF; malformed blocks left out
// while the image is still written; no metadata, no change to the bytes.
#include "TestImages.h"
#include "TestPhotoBytes.h"

#include "batch/ImageWriter.h"
#include "batch/MemoryStream.h"
#include "batch/MetadataSplice.h"
#include "photo/PngChunks.h"
#include "batch/PhotoMetadata.h"
#include "batch/ResizePipeline.h"
#include "batch/ResizeSettings.h"
#include "imaging/Win32PhotoFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <string.h>

namespace
{
const UINT COPY_WIDTH = 20, COPY_HEIGHT = 12;

UINT Pattern(UINT x, UINT y)
{
    return ((x * 13) & 0xFF) << 16 | ((y * 21) & 0xFF) << 8 | ((x ^ y) * 9 & 0xFF);
}

std::vector<BYTE> Bytes(const char *text, size_t length)
{
    return std::vector<BYTE>(text, text + length);
}

// Where two byte strings first differ, for failure messages.
std::string Difference(const std::vector<BYTE> &expected, const std::vector<BYTE> &actual)
{
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    if (i == expected.size() && i == actual.size())
        return "equal";
    return "expected " + std::to_string(expected.size()) + " bytes, got " + std::to_string(actual.size()) +
           "; first difference at byte " + std::to_string(i);
}

// The encoder's plain output with these segments put in after its APP0.
std::vector<BYTE> InsertAfterApp0(const std::vector<BYTE> &plain, const std::vector<TestSegment> &segments)
{
    size_t at = 2;
    while (at + 4 <= plain.size() && plain[at] == 0xFF && plain[at + 1] == 0xE0)
        at += 2 + (static_cast<size_t>(plain[at + 2]) << 8 | plain[at + 3]);
    std::vector<BYTE> bytes;
    for (const TestSegment &segment : segments)
    {
        const size_t length = segment.payload.size() + 2;
        const BYTE head[4] = {0xFF, segment.marker, static_cast<BYTE>(length >> 8), static_cast<BYTE>(length)};
        bytes.insert(bytes.end(), head, head + 4);
        bytes.insert(bytes.end(), segment.payload.begin(), segment.payload.end());
    }
    std::vector<BYTE> result = plain;
    result.insert(result.begin() + (at < plain.size() ? at : plain.size()), bytes.begin(), bytes.end());
    return result;
}

// The first colour profile the platform's decoder reports for a file.
std::vector<BYTE> ReadProfile(const std::wstring &path, HRESULT *hr)
{
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICColorContext> context;
    UINT count = 0, size = 0;
    std::vector<BYTE> profile;
    *hr = DecodeFrameFromFile(path, &frame);
    if (SUCCEEDED(*hr))
        *hr = frame->GetColorContexts(0, NULL, &count);
    if (FAILED(*hr) || count == 0)
        return profile;
    *hr = TestFactory()->CreateColorContext(&context);
    if (SUCCEEDED(*hr))
        *hr = frame->GetColorContexts(1, &context.p, &count);
    if (SUCCEEDED(*hr))
        *hr = context->GetProfileBytes(0, NULL, &size);
    profile.resize(size);
    if (SUCCEEDED(*hr) && size)
        *hr = context->GetProfileBytes(size, profile.data(), &size);
    return profile;
}

extern "C" DWORD WINAPI RtlComputeCrc32(DWORD initial, const BYTE *data, INT length);

DWORD BigEndian32(const BYTE *p)
{
    return static_cast<DWORD>(p[0]) << 24 | static_cast<DWORD>(p[1]) << 16 | static_cast<DWORD>(p[2]) << 8 | p[3];
}

// The profile in a PNG's iCCP chunk, read byte by byte: chunk CRC (by the
// system's own CRC-32), keyword, zlib header, stored deflate blocks and
// Adler-32. Empty, with *problem set, at the first thing that is wrong.
std::vector<BYTE> ReadStoredIccp(const std::vector<BYTE> &png, std::string *problem)
{
    std::vector<BYTE> profile;
    size_t p = 8;
    while (p + 12 <= png.size() && memcmp(&png[p + 4], "iCCP", 4) != 0)
        p += 12 + BigEndian32(&png[p]);
    if (p + 12 > png.size() || BigEndian32(&png[p]) > png.size() - p - 12)
        return *problem = "no whole iCCP chunk", profile;
    const size_t length = BigEndian32(&png[p]);
    const BYTE *data = &png[p + 8], *end = data + length;
    if (RtlComputeCrc32(0, &png[p + 4], static_cast<INT>(length + 4)) != BigEndian32(end))
        return *problem = "chunk CRC wrong", profile;
    const BYTE *z = static_cast<const BYTE *>(memchr(data, 0, length));
    if (!z || z - data < 1 || z - data > 79 || end - z < 8 || z[1] != 0)
        return *problem = "keyword or compression method wrong", profile;
    z += 2;
    if ((z[0] & 0x0F) != 8 || (z[0] << 8 | z[1]) % 31 != 0 || (z[1] & 0x20))
        return *problem = "zlib header wrong", profile;
    z += 2;
    for (bool last = false; !last;)
    {
        if (end - z < 5 || (z[0] & 0x06) != 0)
            return *problem = "not a stored block", profile;
        last = z[0] & 1;
        const size_t run = z[1] | z[2] << 8;
        if (static_cast<size_t>(z[3] | z[4] << 8) != (~run & 0xFFFF) || static_cast<size_t>(end - z - 5) < run)
            return *problem = "stored block length wrong", profile;
        profile.insert(profile.end(), z + 5, z + 5 + run);
        z += 5 + run;
    }
    DWORD a = 1, b = 0;
    for (BYTE byte : profile)
    {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    if (end - z != 4 || BigEndian32(z) != (b << 16 | a))
        return *problem = "Adler-32 wrong or bytes after it", std::vector<BYTE>();
    return profile;
}

// A 4 x 2 RGB TIFF, uncompressed, carrying profile under tag 34675.
std::vector<BYTE> MakeTiffWithProfile(const std::vector<BYTE> &profile)
{
    const std::vector<BYTE> pixels(4 * 2 * 3, 0x60);
    const auto tags = [&](DWORD stripAt) {
        return std::vector<TestTiffTag>{
            IntegerTag(false, 256, 3, 4), IntegerTag(false, 257, 3, 2),
            TestTiffTag{258, 3, 3, TiffValue(false, 2, {8, 8, 8})}, IntegerTag(false, 259, 3, 1),
            IntegerTag(false, 262, 3, 2), IntegerTag(false, 273, 4, stripAt), IntegerTag(false, 277, 3, 3),
            IntegerTag(false, 278, 3, 2), IntegerTag(false, 279, 4, static_cast<DWORD>(pixels.size())),
            IntegerTag(false, 284, 3, 1), TestTiffTag{34675, 7, static_cast<DWORD>(profile.size()), profile}};
    };
    return BuildTiffBlock(false, tags(static_cast<DWORD>(BuildTiffBlock(false, tags(0)).size())), pixels);
}

class MetadataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"metadata");
        ASSERT_FALSE(folder.empty());
        ASSERT_EQ(S_OK, MakeBgrBitmap(COPY_WIDTH, COPY_HEIGHT, Pattern, &source));
        ZeroMemory(&context, sizeof(context));
        context.factory = TestFactory();
    }
    void TearDown() override { RemoveTree(folder); }

    std::vector<BYTE> Encoded(REFGUID container)
    {
        const std::wstring path = folder + L"\\encoded.tmp";
        EXPECT_EQ(S_OK, EncodeToFile(source, container, path));
        return ReadFileBytes(path);
    }

    // The copy as the whole of it encoded into memory and then spliced
    // gives it: what the writer's stream must write on the way.
    std::vector<BYTE> EncodeInMemoryAndSplice(const std::wstring &path, const PhotoMetadata *metadata)
    {
        Com<IStream> stream;
        const uint8_t *bytes = NULL;
        size_t size = 0;
        SplicePlan plan;
        EXPECT_EQ(S_OK, CreateMemoryStream(&stream));
        const OutputFormat format = LookUpOutputFormat(path.c_str());
        EXPECT_EQ(S_OK, EncodeImage(&context, source, format, metadata, stream));
        GetMemoryStreamBytes(stream, &bytes, &size);
        std::vector<BYTE> whole(bytes, bytes + size);
        if (PlanMetadataSplice(bytes, size, true, format.container, metadata, COPY_WIDTH, COPY_HEIGHT, &plan) ==
            SPLICE_PLANNED)
            ApplySplice(bytes, size, plan, &whole);
        return whole;
    }

    // The input saved as name, its metadata gathered as the pipeline
    // gathers it, and a COPY_WIDTH x COPY_HEIGHT copy written under the same
    // name with that metadata (carried) and without any (plain). Either is
    // byte for byte what encoding into memory and splicing gives.
    struct Copy
    {
        std::wstring carriedPath;
        std::vector<BYTE> carried, plain;
    };
    Copy WriteCopy(const std::vector<BYTE> &input, const wchar_t *name)
    {
        Copy copy;
        const std::wstring inputPath = folder + L"\\" + name;
        copy.carriedPath = folder + L"\\carried-" + name;
        const std::wstring plainPath = folder + L"\\plain-" + name;
        EXPECT_TRUE(WriteFileBytes(inputPath, input.data(), input.size()));
        PhotoMetadata metadata;
        PhotoHeader header;
        InitPhotoMetadata(&metadata);
        ReadPhotoFileHeader(inputPath.c_str(), &header);
        {
            Com<IWICBitmapFrameDecode> frame;
            GUID container = GUID_NULL;
            UINT width = 0, height = 0;
            EXPECT_EQ(S_OK, DecodeFrameFromFile(inputPath, &frame)) << Narrow(name);
            EXPECT_EQ(S_OK, ProbeImageFile(inputPath, &container, &width, &height)) << Narrow(name);
            if (frame)
                GatherPhotoMetadata(context.factory, container, frame, &header, &metadata);
        }
        HRESULT hr = WriteImageFile(&context, source, copy.carriedPath.c_str(), &metadata);
        EXPECT_EQ(S_OK, hr) << "writing " << Narrow(copy.carriedPath) << " with its metadata gave " << Hex(hr);
        hr = WriteImageFile(&context, source, plainPath.c_str(), NULL);
        EXPECT_EQ(S_OK, hr) << "writing " << Narrow(plainPath) << " gave " << Hex(hr);
        copy.carried = ReadFileBytes(copy.carriedPath);
        copy.plain = ReadFileBytes(plainPath);
        const std::vector<BYTE> carried = EncodeInMemoryAndSplice(copy.carriedPath, &metadata),
                                plain = EncodeInMemoryAndSplice(plainPath, NULL);
        EXPECT_TRUE(copy.carried == carried) << "streamed with its metadata, " << Narrow(name)
                                             << " is not the copy made in memory: " << Difference(carried, copy.carried);
        EXPECT_TRUE(copy.plain == plain) << "streamed, " << Narrow(name)
                                         << " is not the copy made in memory: " << Difference(plain, copy.plain);
        return copy;
    }

    void ExpectDecodesWhole(const std::wstring &path)
    {
        GUID container;
        UINT width = 0, height = 0;
        const HRESULT hr = ProbeImageFile(path, &container, &width, &height);
        EXPECT_TRUE(hr == S_OK && width == COPY_WIDTH && height == COPY_HEIGHT)
            << Narrow(path) << ": expected a " << COPY_WIDTH << " x " << COPY_HEIGHT << " image, got " << width
            << " x " << height << " (" << Hex(hr) << ")";
    }

    std::wstring folder;
    Com<IWICBitmap> source;
    ImagingContext context;
};

TEST_F(MetadataTest, JpegPhotoKeepsExifXmpAndProfileWithOrientationOneAndNoThumbnail)
{
    const std::vector<BYTE> base = Encoded(GUID_ContainerFormatJpeg);
    for (int layout = 0; layout < 4; ++layout)
    {
        const bool bigEndian = layout & 1, thumbnailFirst = (layout & 2) != 0;
        SCOPED_TRACE(std::string(bigEndian ? "big-endian" : "little-endian") +
                     (thumbnailFirst ? ", thumbnail right after IFD0" : ", thumbnail last"));
        const PhotoSegments input = CameraSegments(bigEndian, thumbnailFirst);
        const Copy copy = WriteCopy(AddPhotoSegments(base, input), L"photo.jpg");

        // Exactly the encoder's bytes, with the three blocks after its APP0.
        const std::vector<TestSegment> expected = {
            {0xE1, ExifPayload(ExpectedCarriedExif(bigEndian, thumbnailFirst, COPY_WIDTH, COPY_HEIGHT))},
            {0xE1, XmpPayload("1")},
            {0xE2, input.icc[0]},
            {0xE2, input.icc[1]}};
        const std::vector<BYTE> wanted = InsertAfterApp0(copy.plain, expected);
        EXPECT_TRUE(copy.carried == wanted) << "the copy is not the encoder's output plus Exif (orientation 1, "
                                               "20 x 12, no IFD1), XMP (orientation 1) and both ICC chunks after "
                                               "APP0: " << Difference(wanted, copy.carried);
        ExpectDecodesWhole(copy.carriedPath);

        // What the platform's own metadata reader says of the copy.
        Com<IWICBitmapFrameDecode> frame;
        Com<IWICMetadataQueryReader> reader;
        PROPVARIANT value;
        PropVariantInit(&value);
        HRESULT hr = DecodeFrameFromFile(copy.carriedPath, &frame);
        if (SUCCEEDED(hr))
            hr = frame->GetMetadataQueryReader(&reader);
        if (SUCCEEDED(hr))
            hr = reader->GetMetadataByName(L"/app1/ifd/{ushort=274}", &value);
        if (SUCCEEDED(hr))
            EXPECT_TRUE(value.vt == VT_UI2 && value.uiVal == 1) << "WIC reads the copy's orientation as type "
                                                               << value.vt << " value " << value.uiVal;
        else if (layout == 0)
            printf("[note] WIC's JPEG decoder finds no Exif orientation in the copy (%s); checked byte by byte "
                   "only\n", Hex(hr).c_str());
        PropVariantClear(&value);
    }
}

TEST_F(MetadataTest, ResizedPhotoSaysItsOwnUprightSize)
{
    // 40 x 24 stored, orientation 6: shown 24 x 40, so 6 x 10 at 25 %.
    Com<IWICBitmap> stored;
    ASSERT_EQ(S_OK, MakeBgrBitmap(40, 24, Pattern, &stored));
    const std::wstring encoded = folder + L"\\stored.tmp", input = folder + L"\\turned.jpg",
                       output = folder + L"\\turned-copy.jpg";
    ASSERT_EQ(S_OK, EncodeToFile(stored, GUID_ContainerFormatJpeg, encoded));
    const std::vector<BYTE> photo = AddPhotoSegments(ReadFileBytes(encoded), CameraSegments(true, false));
    ASSERT_TRUE(WriteFileBytes(input, photo.data(), photo.size()));
    const float savedScale = g_scaleFactor;
    g_scaleFactor = 0.25f;
    const HRESULT hr = ResizeImageFile(NULL, input.c_str(), output.c_str());
    g_scaleFactor = savedScale;
    ASSERT_EQ(S_OK, hr) << "resizing gave " << Hex(hr);
    GUID container;
    UINT width = 0, height = 0;
    EXPECT_EQ(S_OK, ProbeImageFile(output, &container, &width, &height));
    EXPECT_TRUE(width == 6 && height == 10) << "expected 6 x 10, got " << width << " x " << height;
    const std::vector<TestSegment> segments = ListJpegSegments(ReadFileBytes(output));
    const std::vector<BYTE> exif = ExifPayload(ExpectedCarriedExif(true, false, 6, 10));
    EXPECT_TRUE(segments.size() > 2 && segments[1].marker == 0xE1 && segments[1].payload == exif)
        << "expected the carried Exif block, saying 6 x 10 and orientation 1, right after APP0";
}

TEST_F(MetadataTest, MalformedBlocksAreLeftOutAndTheImageIsStillWritten)
{
    const CameraExif layout = BuildCameraExif(false, false, 6, 640, 480);
    const size_t ifd0 = 8, exifTiff = 6; // the TIFF header's place in the payload
    const auto poke32 = [](std::vector<BYTE> &bytes, size_t at, DWORD value) {
        const std::vector<BYTE> le = TiffValue(false, 4, {value});
        memcpy(&bytes[at], le.data(), 4);
    };
    // Where entry i of the IFD at ifd keeps its count and its value.
    const auto countAt = [&](size_t ifd, size_t i) { return exifTiff + ifd + 2 + i * 12 + 4; };
    const auto valueAt = [&](size_t ifd, size_t i) { return countAt(ifd, i) + 4; };
    const std::vector<BYTE> cut = XmpPayload("6");
    const size_t open = std::string(cut.begin(), cut.end()).find("tiff:Orientation=\"") + 18;
    struct Row
    {
        const char *damage;
        std::function<void(PhotoSegments &)> apply;
        bool exif, xmp, icc;
    } rows[] = {
        {"IFD0 entry count past the segment", [&](PhotoSegments &s) { s.exif[exifTiff + ifd0] = 0xFF; }, false, true, true},
        {"a value's offset outside the segment", [&](PhotoSegments &s) { poke32(s.exif, valueAt(ifd0, 0), 0xFFFFFF00); }, false, true, true},
        {"a value count of 2^30", [&](PhotoSegments &s) { poke32(s.exif, countAt(ifd0, 0), 0x40000000); }, false, true, true},
        {"Exif IFD outside the segment", [&](PhotoSegments &s) { poke32(s.exif, valueAt(ifd0, 3), 0x10000); }, false, true, true},
        {"Exif IFD linking back to IFD0", [&](PhotoSegments &s) { poke32(s.exif, valueAt(ifd0, 3), 8); }, false, true, true},
        {"GPS IFD shared with the Exif IFD", [&](PhotoSegments &s) { poke32(s.exif, valueAt(ifd0, 4), static_cast<DWORD>(layout.exifIfd)); }, false, true, true},
        {"IFD0 naming itself as IFD1", [&](PhotoSegments &s) { poke32(s.exif, exifTiff + layout.ifd0Next, 8); }, false, true, true},
        {"thumbnail running past the segment", [&](PhotoSegments &s) { poke32(s.exif, valueAt(layout.ifd1Begin, 3), 0x100000); }, false, true, true},
        {"TIFF header cut short", [&](PhotoSegments &s) { s.exif.resize(exifTiff + 5); }, false, true, true},
        {"unknown byte order", [&](PhotoSegments &s) { s.exif[exifTiff] = 'X'; }, false, true, true},
        {"ICC chunk numbered past its count", [](PhotoSegments &s) { s.icc[1][12] = 3; }, true, true, false},
        {"ICC chunks disagreeing on their count", [](PhotoSegments &s) { s.icc[1][13] = 3; }, true, true, false},
        {"ICC chunk number given twice", [](PhotoSegments &s) { s.icc[1][12] = 1; }, true, true, false},
        {"ICC chunk number 0", [](PhotoSegments &s) { s.icc[0][12] = 0; }, true, true, false},
        {"an ICC chunk missing", [](PhotoSegments &s) { s.icc.pop_back(); }, true, true, false},
        {"ICC chunk without number and count", [](PhotoSegments &s) { s.icc[1].resize(13); }, true, true, false},
        {"profile size disagreeing with its chunks", [](PhotoSegments &s) { s.icc[0][14 + 3] ^= 4; }, true, true, false},
        {"gray profile", [](PhotoSegments &s) { s.icc = IccChunkPayloads(MakeIccProfile("GRAY", 1200), 2); }, true, true, false},
        {"CMYK profile", [](PhotoSegments &s) { s.icc = IccChunkPayloads(MakeIccProfile("CMYK", 1200), 1); }, true, true, false},
        {"XMP orientation never closed", [&](PhotoSegments &s) { s.xmp.assign(cut.begin(), cut.begin() + open); }, true, false, true},
    };
    const std::vector<BYTE> base = Encoded(GUID_ContainerFormatJpeg);
    for (const Row &row : rows)
    {
        SCOPED_TRACE(row.damage);
        PhotoSegments input = CameraSegments(false, false);
        row.apply(input);
        const Copy copy = WriteCopy(AddPhotoSegments(base, input), L"damaged.jpg");
        ExpectDecodesWhole(copy.carriedPath);
        bool exif = false, xmp = false;
        size_t icc = 0;
        for (const TestSegment &segment : ListJpegSegments(copy.carried))
        {
            exif |= segment.marker == 0xE1 && segment.payload.size() >= 6 && memcmp(segment.payload.data(), "Exif\0", 6) == 0;
            xmp |= segment.marker == 0xE1 && segment.payload.size() >= 29 && memcmp(segment.payload.data(), "http://ns.adobe.com/xap/1.0/", 29) == 0;
            icc += segment.marker == 0xE2 ? 1 : 0;
        }
        EXPECT_EQ(row.exif, exif) << "Exif block carried";
        EXPECT_EQ(row.xmp, xmp) << "XMP packet carried";
        EXPECT_EQ(row.icc ? 2u : 0u, icc) << "ICC chunks carried";
    }
}

TEST_F(MetadataTest, InputsWithoutMetadataGiveTheEncodersOwnBytes)
{
    const std::vector<BYTE> adobe = Bytes("Adobe\0\x64\x80\0\0\0\x01", 12), comment = Bytes("made by hand", 12);
    const std::vector<BYTE> jpeg = Encoded(GUID_ContainerFormatJpeg);
    const struct Row
    {
        const wchar_t *name;
        std::vector<BYTE> input;
    } rows[] = {
        {L"plain.jpg", jpeg},
        {L"adobe-and-comment.jpg", InsertJpegSegment(InsertJpegSegment(jpeg, 0xEE, adobe), 0xFE, comment)},
        // A JPEG's blocks go only into a JPEG.
        {L"jpeg-named.png", AddPhotoSegments(jpeg, CameraSegments(false, false))},
        {L"plain.png", Encoded(GUID_ContainerFormatPng)},
        {L"plain.tif", Encoded(GUID_ContainerFormatTiff)},
        {L"plain.bmp", Encoded(GUID_ContainerFormatBmp)},
        {L"plain.gif", Encoded(GUID_ContainerFormatGif)},
    };
    for (const Row &row : rows)
    {
        SCOPED_TRACE(Narrow(row.name));
        const Copy copy = WriteCopy(row.input, row.name);
        EXPECT_FALSE(copy.plain.empty());
        EXPECT_TRUE(copy.carried == copy.plain) << Difference(copy.plain, copy.carried);
    }
}

TEST_F(MetadataTest, PngAndTiffKeepTheirRgbProfile)
{
    // Whether the TIFF encoder takes a profile is its own answer.
    HRESULT tiffTakes = E_FAIL;
    {
        Com<IWICStream> stream;
        Com<IWICBitmapEncoder> encoder;
        Com<IWICBitmapFrameEncode> frame;
        Com<IWICColorContext> profile;
        const std::vector<BYTE> bytes = MakeIccProfile("RGB ", 300);
        const std::wstring probe = folder + L"\\probe.tif";
        HRESULT hr = context.factory->CreateStream(&stream);
        if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(probe.c_str(), GENERIC_WRITE);
        if (SUCCEEDED(hr)) hr = context.factory->CreateEncoder(GUID_ContainerFormatTiff, NULL, &encoder);
        if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
        if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, NULL);
        if (SUCCEEDED(hr)) hr = frame->Initialize(NULL);
        if (SUCCEEDED(hr)) hr = context.factory->CreateColorContext(&profile);
        if (SUCCEEDED(hr)) hr = profile->InitializeFromMemory(bytes.data(), static_cast<UINT>(bytes.size()));
        ASSERT_EQ(S_OK, hr) << "could not set up the TIFF encoder";
        tiffTakes = frame->SetColorContexts(1, &profile.p);
    }
    const std::vector<BYTE> png = Encoded(GUID_ContainerFormatPng);
    const struct Row
    {
        const wchar_t *name;
        size_t profileSize; // 70000 needs two stored deflate blocks
    } rows[] = {{L"small.png", 300}, {L"large.png", 70000}, {L"profiled.tif", 300}};
    for (const Row &row : rows)
    {
        SCOPED_TRACE(Narrow(row.name));
        const std::vector<BYTE> profile = MakeIccProfile("RGB ", row.profileSize);
        std::vector<BYTE> input;
        const bool isPng = wcsstr(row.name, L".png") != NULL;
        if (isPng)
        {
            std::vector<BYTE> chunk;
            ASSERT_TRUE(BuildIccpChunk(profile.data(), profile.size(), &chunk));
            input = png;
            input.insert(input.begin() + 33, chunk.begin(), chunk.end()); // right after IHDR
        }
        else
            input = MakeTiffWithProfile(profile);
        const Copy copy = WriteCopy(input, row.name);
        HRESULT hr;
        ASSERT_TRUE(ReadProfile(folder + L"\\" + row.name, &hr) == profile)
            << "the platform's decoder does not read the input's profile back (" << Hex(hr) << ")";
        const std::vector<BYTE> kept = ReadProfile(copy.carriedPath, &hr);
        ExpectDecodesWhole(copy.carriedPath);
        if (isPng)
        {
            EXPECT_TRUE(kept == profile) << "profile read from the copy: " << Difference(profile, kept) << " (" << Hex(hr) << ")";
            std::string problem = "none";
            const std::vector<BYTE> stored = ReadStoredIccp(copy.carried, &problem);
            EXPECT_TRUE(stored == profile) << "iCCP chunk read byte by byte: " << problem << ", " << Difference(profile, stored);
            const std::vector<std::string> chunks = ListPngChunks(copy.carried);
            EXPECT_TRUE(chunks.size() > 2 && chunks[0] == "IHDR" && chunks[1] == "iCCP" &&
                        std::count(chunks.begin(), chunks.end(), "iCCP") == 1)
                << "expected one iCCP chunk right after IHDR";
        }
        else if (SUCCEEDED(tiffTakes))
            EXPECT_TRUE(kept == profile) << "the TIFF encoder took the profile, yet the copy reads " << Difference(profile, kept);
        else
        {
            EXPECT_TRUE(kept.empty());
            EXPECT_TRUE(copy.carried == copy.plain) << Difference(copy.plain, copy.carried);
            printf("[note] the TIFF encoder refuses SetColorContexts (%s): a TIFF copy goes without its profile\n",
                   Hex(tiffTakes).c_str());
        }
    }
}

} // namespace
