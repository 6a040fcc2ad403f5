// Photo file bytes built by hand for tests (PhotoTestBytes.h).
#include "PhotoTestBytes.h"

#include <cstring>

namespace
{
// Three RATIONALs: degrees, minutes and seconds x 100.
TestTiffTag CoordinateTag(bool bigEndian, uint16_t tag, uint32_t degrees, uint32_t minutes, uint32_t centiSeconds)
{
    return TestTiffTag{tag, 5, 3, TiffValue(bigEndian, 4, {degrees, 1, minutes, 1, centiSeconds, 100})};
}

size_t Padded(size_t bytes)
{
    return bytes + (bytes & 1);
}

void Append(Bytes &block, const Bytes &bytes)
{
    block.insert(block.end(), bytes.begin(), bytes.end());
}
} // namespace

Bytes TiffValue(bool bigEndian, size_t width, std::initializer_list<uint32_t> values)
{
    Bytes bytes;
    for (uint32_t value : values)
        for (size_t i = 0; i < width; ++i)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? width - 1 - i : i))));
    return bytes;
}

TestTiffTag IntegerTag(bool bigEndian, uint16_t tag, uint16_t type, uint32_t value)
{
    return TestTiffTag{tag, type, 1, TiffValue(bigEndian, type == 3 ? 2 : 4, {value})};
}

TestTiffTag AsciiTag(uint16_t tag, const char *text)
{
    const size_t length = strlen(text) + 1;
    return TestTiffTag{tag, 2, static_cast<uint32_t>(length), Bytes(text, text + length)};
}

Bytes TiffHeader(bool bigEndian)
{
    Bytes block = {static_cast<uint8_t>(bigEndian ? 'M' : 'I'), static_cast<uint8_t>(bigEndian ? 'M' : 'I')};
    Append(block, TiffValue(bigEndian, 2, {42}));
    Append(block, TiffValue(bigEndian, 4, {8}));
    return block;
}

size_t IfdSize(const std::vector<TestTiffTag> &tags)
{
    size_t size = 2 + tags.size() * 12 + 4;
    for (const TestTiffTag &tag : tags)
        size += tag.value.size() > 4 ? Padded(tag.value.size()) : 0;
    return size;
}

void AppendIfd(Bytes &block, bool bigEndian, const std::vector<TestTiffTag> &tags, uint32_t next)
{
    size_t outOfLine = block.size() + 2 + tags.size() * 12 + 4;
    Bytes values;
    Append(block, TiffValue(bigEndian, 2, {static_cast<uint32_t>(tags.size())}));
    for (const TestTiffTag &tag : tags)
    {
        Append(block, TiffValue(bigEndian, 2, {tag.tag, tag.type}));
        Append(block, TiffValue(bigEndian, 4, {tag.count}));
        if (tag.value.size() <= 4)
        {
            Bytes inline4 = tag.value;
            inline4.resize(4, 0);
            Append(block, inline4);
            continue;
        }
        Append(block, TiffValue(bigEndian, 4, {static_cast<uint32_t>(outOfLine + values.size())}));
        values.insert(values.end(), tag.value.begin(), tag.value.end());
        values.resize(Padded(values.size()), 0);
    }
    Append(block, TiffValue(bigEndian, 4, {next}));
    Append(block, values);
}

Bytes BuildTiffBlock(bool bigEndian, const std::vector<TestTiffTag> &ifd0, const Bytes &trailer)
{
    Bytes block = TiffHeader(bigEndian);
    AppendIfd(block, bigEndian, ifd0, 0);
    Append(block, trailer);
    return block;
}

Bytes ExifPayload(const Bytes &tiffBlock)
{
    static const uint8_t signature[6] = {'E', 'x', 'i', 'f', 0, 0};
    Bytes payload(signature, signature + sizeof(signature));
    payload.reserve(sizeof(signature) + tiffBlock.size());
    Append(payload, tiffBlock);
    return payload;
}

Bytes JpegSegment(uint8_t marker, const Bytes &payload)
{
    const size_t length = payload.size() + 2;
    const uint8_t head[4] = {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    Bytes segment(head, head + 4);
    segment.reserve(4 + payload.size());
    Append(segment, payload);
    return segment;
}

Bytes InsertJpegSegment(const Bytes &jpeg, uint8_t marker, const Bytes &payload)
{
    const Bytes segment = JpegSegment(marker, payload);
    Bytes result = jpeg;
    result.insert(result.begin() + (jpeg.size() < 2 ? jpeg.size() : 2), segment.begin(), segment.end());
    return result;
}

CameraExif BuildCameraExif(bool bigEndian, bool thumbnailFirst, uint32_t orientation, uint32_t pixelX, uint32_t pixelY)
{
    Bytes thumbnail(64, 0xA5);
    thumbnail[0] = 0xFF;
    thumbnail[1] = 0xD8;
    const auto ifd0 = [&](uint32_t exifAt, uint32_t gpsAt) {
        return std::vector<TestTiffTag>{AsciiTag(0x010F, "QuillCam"), AsciiTag(0x0110, "QC-1 Mark II"),
                                        IntegerTag(bigEndian, 0x0112, 3, orientation),
                                        IntegerTag(bigEndian, 0x8769, 4, exifAt), IntegerTag(bigEndian, 0x8825, 4, gpsAt)};
    };
    const std::vector<TestTiffTag> exif = {AsciiTag(0x9003, "2024:05:01 10:20:30"),
                                           IntegerTag(bigEndian, 0xA002, 3, pixelX),
                                           IntegerTag(bigEndian, 0xA003, 4, pixelY)};
    const std::vector<TestTiffTag> gps = {AsciiTag(0x0001, "N"), CoordinateTag(bigEndian, 0x0002, 48, 51, 2946),
                                          AsciiTag(0x0003, "E"), CoordinateTag(bigEndian, 0x0004, 2, 17, 4020)};
    const auto ifd1 = [&](uint32_t thumbnailAt) {
        return std::vector<TestTiffTag>{IntegerTag(bigEndian, 0x0103, 3, 6), IntegerTag(bigEndian, 0x0112, 3, orientation),
                                        IntegerTag(bigEndian, 0x0201, 4, thumbnailAt),
                                        IntegerTag(bigEndian, 0x0202, 4, static_cast<uint32_t>(thumbnail.size()))};
    };

    CameraExif result;
    const size_t afterIfd0 = 8 + IfdSize(ifd0(0, 0));
    const size_t ifd1Bytes = IfdSize(ifd1(0)) + thumbnail.size();
    result.ifd1Begin = thumbnailFirst ? afterIfd0 : afterIfd0 + IfdSize(exif) + IfdSize(gps);
    result.ifd1End = result.ifd1Begin + ifd1Bytes;
    result.exifIfd = thumbnailFirst ? result.ifd1End : afterIfd0;
    result.gpsIfd = result.exifIfd + IfdSize(exif);
    result.ifd0Next = 8 + 2 + ifd0(0, 0).size() * 12;
    const uint32_t thumbnailAt = static_cast<uint32_t>(result.ifd1End - thumbnail.size());

    Bytes &block = result.tiff;
    block = TiffHeader(bigEndian);
    AppendIfd(block, bigEndian, ifd0(static_cast<uint32_t>(result.exifIfd), static_cast<uint32_t>(result.gpsIfd)),
              static_cast<uint32_t>(result.ifd1Begin));
    const auto appendIfd1 = [&]() {
        AppendIfd(block, bigEndian, ifd1(thumbnailAt), 0);
        Append(block, thumbnail);
    };
    if (thumbnailFirst)
        appendIfd1();
    AppendIfd(block, bigEndian, exif, 0);
    AppendIfd(block, bigEndian, gps, 0);
    if (!thumbnailFirst)
        appendIfd1();
    return result;
}

Bytes ExpectedCarriedExif(bool bigEndian, bool thumbnailFirst, uint32_t pixelX, uint32_t pixelY)
{
    CameraExif exif = BuildCameraExif(bigEndian, thumbnailFirst, 1, pixelX, pixelY);
    memset(&exif.tiff[exif.ifd0Next], 0, 4);
    memset(&exif.tiff[exif.ifd1Begin], 0, exif.ifd1End - exif.ifd1Begin);
    if (!thumbnailFirst)
        exif.tiff.resize(exif.ifd1Begin);
    return exif.tiff;
}

Bytes MakeIccProfile(const char *space, size_t size)
{
    Bytes profile(size);
    for (size_t i = 164; i < size; ++i)
        profile[i] = static_cast<uint8_t>(i * 7);
    const Bytes length = TiffValue(true, 4, {static_cast<uint32_t>(size)});
    memcpy(&profile[0], length.data(), 4);
    memcpy(&profile[8], "\x04\x30\x00\x00", 4); // version 4.3
    memcpy(&profile[12], "mntr", 4);
    memcpy(&profile[16], space, 4);
    memcpy(&profile[20], "XYZ ", 4);
    memcpy(&profile[36], "acsp", 4);
    // The D50 illuminant, then one tag: the media white point at 144.
    const Bytes d50 = TiffValue(true, 4, {0xF6D6, 0x10000, 0xD32D});
    memcpy(&profile[68], d50.data(), 12);
    const Bytes tags = TiffValue(true, 4, {1, 0x77747074 /* wtpt */, 144, 20, 0x58595A20 /* XYZ */, 0});
    memcpy(&profile[128], tags.data(), tags.size());
    memcpy(&profile[152], d50.data(), 12);
    return profile;
}

std::vector<Bytes> IccChunkPayloads(const Bytes &profile, size_t parts)
{
    std::vector<Bytes> chunks;
    const size_t piece = (profile.size() + parts - 1) / parts;
    for (size_t i = 0; i < parts; ++i)
    {
        Bytes chunk(reinterpret_cast<const uint8_t *>("ICC_PROFILE"), reinterpret_cast<const uint8_t *>("ICC_PROFILE") + 12);
        chunk.push_back(static_cast<uint8_t>(i + 1));
        chunk.push_back(static_cast<uint8_t>(parts));
        const size_t from = i * piece, to = from + piece < profile.size() ? from + piece : profile.size();
        chunk.insert(chunk.end(), profile.begin() + from, profile.begin() + to);
        chunks.push_back(chunk);
    }
    return chunks;
}

Bytes XmpPayload(const char *orientation)
{
    const std::string packet =
        std::string("http://ns.adobe.com/xap/1.0/") + '\0' +
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
        "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" tiff:Orientation=\"" + orientation +
        "\" exif:GPSLatitude=\"48,51.491N\"/><rdf:Description rdf:about=\"\"><tiff:Orientation>" + orientation +
        "</tiff:Orientation></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    return Bytes(packet.begin(), packet.end());
}

PhotoSegments CameraSegments(bool bigEndian, bool thumbnailFirst)
{
    return PhotoSegments{ExifPayload(BuildCameraExif(bigEndian, thumbnailFirst, 6, 640, 480).tiff), XmpPayload("6"),
                         IccChunkPayloads(MakeIccProfile("RGB ", 1200), 2)};
}

Bytes AddPhotoSegments(const Bytes &jpeg, const PhotoSegments &segments)
{
    // Each goes right after SOI, so they are added last first.
    Bytes result = jpeg;
    for (size_t i = segments.icc.size(); i-- > 0;)
        result = InsertJpegSegment(result, 0xE2, segments.icc[i]);
    if (!segments.xmp.empty())
        result = InsertJpegSegment(result, 0xE1, segments.xmp);
    if (!segments.exif.empty())
        result = InsertJpegSegment(result, 0xE1, segments.exif);
    return result;
}

std::vector<TestSegment> ListJpegSegments(const Bytes &jpeg)
{
    std::vector<TestSegment> segments;
    for (size_t p = 2; p + 4 <= jpeg.size() && jpeg[p] == 0xFF && jpeg[p + 1] != 0xDA;)
    {
        const size_t length = static_cast<size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (length < 2 || p + 2 + length > jpeg.size())
            break;
        segments.push_back(TestSegment{jpeg[p + 1], Bytes(jpeg.begin() + p + 4, jpeg.begin() + p + 2 + length)});
        p += 2 + length;
    }
    return segments;
}

std::vector<std::string> ListPngChunks(const Bytes &png)
{
    std::vector<std::string> chunks;
    for (size_t p = 8; p + 12 <= png.size();)
    {
        const size_t length = static_cast<size_t>(png[p]) << 24 | png[p + 1] << 16 | png[p + 2] << 8 | png[p + 3];
        chunks.push_back(std::string(reinterpret_cast<const char *>(&png[p + 4]), 4));
        if (length > png.size() - p - 12)
            break;
        p += 12 + length;
    }
    return chunks;
}

Bytes TestGif(const std::vector<Bytes> &blocks, uint16_t screenWidth, uint16_t screenHeight, uint16_t imageWidth,
              uint16_t imageHeight)
{
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
    Append(gif, TiffValue(false, 2, {screenWidth}));
    Append(gif, TiffValue(false, 2, {screenHeight}));
    gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF}); // two colours, black and white
    for (const Bytes &block : blocks)
        gif.insert(gif.end(), block.begin(), block.end());
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0});
    Append(gif, TiffValue(false, 2, {imageWidth}));
    Append(gif, TiffValue(false, 2, {imageHeight}));
    gif.push_back(0);
    return gif;
}

Bytes TestBmpHeader(uint32_t infoSize, int32_t width, int32_t height)
{
    Bytes bmp = {'B', 'M'};
    Append(bmp, TiffValue(false, 4, {14 + infoSize}));
    Append(bmp, TiffValue(false, 4, {0}));
    Append(bmp, TiffValue(false, 4, {14 + infoSize}));
    Append(bmp, TiffValue(false, 4, {infoSize}));
    if (infoSize == 12)
    {
        Append(bmp, TiffValue(false, 2, {static_cast<uint16_t>(width)}));
        Append(bmp, TiffValue(false, 2, {static_cast<uint16_t>(height)}));
    }
    else
    {
        Append(bmp, TiffValue(false, 4, {static_cast<uint32_t>(width)}));
        Append(bmp, TiffValue(false, 4, {static_cast<uint32_t>(height)}));
    }
    bmp.resize(14 + infoSize, 0);
    return bmp;
}

Bytes TestPngHeader(uint32_t width, uint32_t height)
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    Append(png, TiffValue(true, 4, {width}));
    Append(png, TiffValue(true, 4, {height}));
    png.insert(png.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
    return png;
}
