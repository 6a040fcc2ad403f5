// Fuzz target: the Exif and XMP edits on blocks as they come (the first
// byte chooses which). Promises checked: an edited Exif block is no longer
// than the input, says orientation 1, links no IFD1, keeps its pixel
// dimension entries inside it and takes the copy's size there; editing it
// again changes nothing. An edited XMP packet fits a segment, keeps its
// signature and edits again to itself.
#include "FuzzCheck.h"

#include "photo/ExifEdit.h"
#include "photo/Tiff.h"
#include "photo/XmpEdit.h"

#include <cstring>

static void CheckDimension(const std::vector<uint8_t> &segment, const CarriedExif &exif, size_t entry, uint32_t value)
{
    if (entry == 0)
        return;
    FUZZ_CHECK(entry + 12 <= exif.tiff.size());
    const ByteView view = {segment.data() + 10, 0, segment.size() - 10, exif.bigEndian};
    TiffEntry read;
    uint32_t got = 0;
    FUZZ_CHECK(ReadIfdEntry(view, entry - 2, 0, &read) && ReadIntegerValueAt(view, read, 0, &got) && got == value);
}

static void FuzzExif(const uint8_t *data, size_t size)
{
    CarriedExif exif, again;
    if (!EditExif(data, size, &exif))
        return;
    FUZZ_CHECK(exif.tiff.size() <= size && exif.tiff.size() >= 8);
    FUZZ_CHECK(ParseTiffOrientation(exif.tiff.data(), exif.tiff.size()) == 1);
    ByteView view;
    uint32_t firstIfd = 0, next = 1;
    uint16_t count = 0;
    FUZZ_CHECK(OpenTiff(exif.tiff.data(), exif.tiff.size(), &view, &firstIfd) && ReadIfdCount(view, firstIfd, &count));
    FUZZ_CHECK(ReadU32(view, firstIfd + IfdBytes(count) - 4, &next) && next == 0);
    std::vector<uint8_t> segment;
    PutExifSegment(exif, 70000, 3, &segment);
    FUZZ_CHECK(segment.size() == 10 + exif.tiff.size());
    CheckDimension(segment, exif, exif.pixelXEntry, 70000);
    CheckDimension(segment, exif, exif.pixelYEntry, 3);
    FUZZ_CHECK(EditExif(exif.tiff.data(), exif.tiff.size(), &again) && again.tiff == exif.tiff);
}

static void FuzzXmp(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> payload(XMP_SIGNATURE, XMP_SIGNATURE + sizeof(XMP_SIGNATURE));
    payload.insert(payload.end(), data, data + size);
    std::vector<uint8_t> edited, again;
    if (!EditXmpPayload(payload.data(), payload.size(), &edited))
        return;
    FUZZ_CHECK(edited.size() <= 65533 && std::memcmp(edited.data(), XMP_SIGNATURE, sizeof(XMP_SIGNATURE)) == 0);
    FUZZ_CHECK(EditXmpPayload(edited.data(), edited.size(), &again) && again == edited);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 65533)
        return 0;
    if (data[0] & 1)
        FuzzXmp(data + 1, size - 1);
    else
        FuzzExif(data + 1, size - 1);
    return 0;
}
