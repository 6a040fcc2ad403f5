#include "TestPhotoBytes.h"

#include "TestImages.h"

#include <string.h>

std::vector<BYTE> TiffValue(bool bigEndian, size_t width, std::initializer_list<DWORD> values)
{
    std::vector<BYTE> bytes;
    for (DWORD value : values)
        for (size_t i = 0; i < width; ++i)
            bytes.push_back(static_cast<BYTE>(value >> (8 * (bigEndian ? width - 1 - i : i))));
    return bytes;
}

TestTiffTag IntegerTag(bool bigEndian, WORD tag, WORD type, DWORD value)
{
    return TestTiffTag{tag, type, 1, TiffValue(bigEndian, type == 3 ? 2 : 4, {value})};
}

std::vector<BYTE> BuildTiffBlock(bool bigEndian, const std::vector<TestTiffTag> &ifd0, const std::vector<BYTE> &trailer)
{
    std::vector<BYTE> block = {static_cast<BYTE>(bigEndian ? 'M' : 'I'), static_cast<BYTE>(bigEndian ? 'M' : 'I')};
    const auto append = [&](const std::vector<BYTE> &bytes) { block.insert(block.end(), bytes.begin(), bytes.end()); };
    append(TiffValue(bigEndian, 2, {42}));
    append(TiffValue(bigEndian, 4, {8}));
    append(TiffValue(bigEndian, 2, {static_cast<DWORD>(ifd0.size())}));
    size_t outOfLine = 8 + 2 + ifd0.size() * 12 + 4;
    std::vector<BYTE> values;
    for (const TestTiffTag &tag : ifd0)
    {
        append(TiffValue(bigEndian, 2, {tag.tag, tag.type}));
        append(TiffValue(bigEndian, 4, {tag.count}));
        if (tag.value.size() <= 4)
        {
            std::vector<BYTE> inline4 = tag.value;
            inline4.resize(4, 0);
            append(inline4);
        }
        else
        {
            append(TiffValue(bigEndian, 4, {static_cast<DWORD>(outOfLine + values.size())}));
            values.insert(values.end(), tag.value.begin(), tag.value.end());
        }
    }
    append(TiffValue(bigEndian, 4, {0}));
    append(values);
    append(trailer);
    return block;
}

std::vector<BYTE> ExifPayload(const std::vector<BYTE> &tiffBlock)
{
    static const BYTE signature[6] = {'E', 'x', 'i', 'f', 0, 0};
    std::vector<BYTE> payload(tiffBlock.size() + sizeof(signature));
    memcpy(payload.data(), signature, sizeof(signature));
    if (!tiffBlock.empty())
        memcpy(payload.data() + sizeof(signature), tiffBlock.data(), tiffBlock.size());
    return payload;
}

std::vector<BYTE> InsertJpegSegment(const std::vector<BYTE> &jpeg, BYTE marker, const std::vector<BYTE> &payload)
{
    const size_t length = payload.size() + 2;
    std::vector<BYTE> result = jpeg;
    const BYTE head[4] = {0xFF, marker, static_cast<BYTE>(length >> 8), static_cast<BYTE>(length)};
    const size_t at = jpeg.size() < 2 ? jpeg.size() : 2;
    result.insert(result.begin() + at, payload.begin(), payload.end());
    result.insert(result.begin() + at, head, head + 4);
    return result;
}

HRESULT MakeBgraBitmap(UINT width, UINT height, AlphaPixelColour colour, IWICBitmap **bitmap)
{
    std::vector<UINT> pixels(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = colour(x, y);
    return TestFactory()->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGRA, width * 4,
                                                 static_cast<UINT>(pixels.size() * 4),
                                                 reinterpret_cast<BYTE *>(pixels.data()), bitmap);
}

std::vector<UINT> ReadBgraPixels(const std::wstring &path, UINT *width, UINT *height, GUID *format)
{
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    std::vector<UINT> pixels;
    *width = *height = 0;
    if (FAILED(DecodeFrameFromFile(path, &frame)) || FAILED(frame->GetPixelFormat(format)) ||
        FAILED(frame->GetSize(width, height)) || FAILED(TestFactory()->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, NULL, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return pixels;
    pixels.resize(static_cast<size_t>(*width) * *height);
    if (FAILED(converter->CopyPixels(NULL, *width * 4, static_cast<UINT>(pixels.size() * 4),
                                     reinterpret_cast<BYTE *>(pixels.data()))))
        pixels.clear();
    return pixels;
}
