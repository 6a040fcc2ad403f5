// Writes the fuzz targets' seed corpora (corpus/<target>/) from the test
// builders and the sample images: `MakeSeeds <top of the repository>`.
#include "native/PhotoTestBytes.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace
{
std::string g_top; // the repository, from the command line

Bytes ReadSample(const char *name)
{
    std::ifstream in(g_top + "/samples/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const char *target, const char *name, const Bytes &bytes)
{
    const std::string path = g_top + "/tests/native/fuzz/corpus/" + target + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        std::fprintf(stderr, "could not write %s\n", path.c_str());
}

Bytes Prefixed(uint8_t first, const Bytes &bytes)
{
    Bytes all = {first};
    all.insert(all.end(), bytes.begin(), bytes.end());
    return all;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    g_top = argv[1];
    const Bytes rose = ReadSample("rose.jpg"), plasma = ReadSample("plasma.jpg"), logo = ReadSample("logo.png");
    const Bytes camera = AddPhotoSegments(rose, CameraSegments(false, false));
    const Bytes turned = AddPhotoSegments(plasma, CameraSegments(true, true));
    // A restart marker before a frame header that claims 65500 x 65500.
    const Bytes huge = {0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xC0, 0, 17, 8, 0xFF, 0xDC, 0xFF, 0xDC, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};
    for (const char *target : {"jpeg_header", "frame_size"})
    {
        Write(target, "camera.jpg", camera);
        Write(target, "turned.jpg", turned);
        Write(target, "restart-before-frame.jpg", huge);
    }
    Write("tiff_orientation", "circles.tif", ReadSample("circles.tif"));
    Write("tiff_orientation", "exif-le.tif", BuildCameraExif(false, false, 6, 640, 480).tiff);
    Write("tiff_orientation", "exif-be.tif", BuildCameraExif(true, true, 8, 640, 480).tiff);
    Write("metadata_edit", "exif-le", Prefixed(0, BuildCameraExif(false, false, 6, 640, 480).tiff));
    Write("metadata_edit", "exif-be", Prefixed(0, BuildCameraExif(true, true, 3, 640, 480).tiff));
    const Bytes xmp = XmpPayload("6");
    Write("metadata_edit", "xmp", Prefixed(1, Bytes(xmp.begin() + 29, xmp.end())));
    Write("splice", "rose.jpg", Prefixed(0, rose));
    Write("splice", "logo.png", Prefixed(1, logo));
    Write("image_size", "logo.png", logo);
    Write("image_size", "gradient.gif", ReadSample("gradient.gif"));
    Write("image_size", "dusk.bmp", ReadSample("dusk.bmp"));
    Write("image_size", "circles.tif", ReadSample("circles.tif"));
    Write("image_size", "comment-then-image.gif", TestGif({{0x21, 0xFE, 3, 'h', 'i', '!', 0}}, 640, 480, 700, 500));
    Write("image_size", "top-down.bmp", TestBmpHeader(40, 320, -200));
    Write("image_size", "core.bmp", TestBmpHeader(12, 64, 48));
    return 0;
}
