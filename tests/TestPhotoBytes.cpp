#include "TestPhotoBytes.h"

#include "TestImages.h"


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
