// The one reading of a photo file's header (PhotoHeader.h).
#include "PhotoHeader.h"

#include "FrameSize.h"
#include "JpegWalk.h"
#include "Tiff.h"
#include "XmpEdit.h"

#include <cstring>

namespace
{
// Long enough for every signature a carried block starts with.
const size_t SIGNATURE_BYTES = sizeof(XMP_SIGNATURE);

// Precision, height, width, components: the six bytes after the length
// field, read whatever the length says, as a decoder reads them.
void ReadFrameHeader(BufferedReader *reader, const JpegMarker &marker, PhotoHeader *header)
{
    uint8_t fields[6];
    reader->position = marker.payload;
    if (!ReadBytes(reader, fields, sizeof(fields)))
        return;
    const uint32_t height = static_cast<uint32_t>(fields[1] << 8 | fields[2]);
    const uint32_t width = static_cast<uint32_t>(fields[3] << 8 | fields[4]);
    if (!header->frameFound)
    {
        header->frameFound = true;
        header->frameWidth = width;
        header->frameHeight = height;
        header->frameComponents = fields[5];
    }
    header->frameTooLarge = header->frameTooLarge || JpegFrameTooLarge(width, height, fields[5]);
}

void TakeExif(const std::vector<uint8_t> &payload, PhotoHeader *header)
{
    const uint8_t *tiff = payload.data() + sizeof(EXIF_SIGNATURE);
    const size_t size = payload.size() - sizeof(EXIF_SIGNATURE);
    header->orientation = ParseTiffOrientation(tiff, size);
    EditExif(tiff, size, &header->blocks.exif);
}

// An APP1 or APP2 segment: its payload is read only when it starts with
// the signature of a block still to be carried.
void ReadApplicationSegment(BufferedReader *reader, const JpegMarker &marker, PhotoHeader *header, bool *exifSeen,
                            bool *xmpSeen)
{
    uint8_t start[SIGNATURE_BYTES];
    const size_t have = marker.payloadLength < SIGNATURE_BYTES ? marker.payloadLength : SIGNATURE_BYTES;
    if (marker.cutShort || !ReadBytes(reader, start, have))
        return;
    const bool exif = marker.marker == JPEG_APP1 && !*exifSeen && StartsWith(start, have, EXIF_SIGNATURE, sizeof(EXIF_SIGNATURE));
    const bool xmp = marker.marker == JPEG_APP1 && !*xmpSeen && StartsWith(start, have, XMP_SIGNATURE, sizeof(XMP_SIGNATURE));
    const bool icc = marker.marker == JPEG_APP2 && StartsWith(start, have, ICC_SIGNATURE, sizeof(ICC_SIGNATURE));
    if (!exif && !xmp && !(icc && !header->blocks.icc.broken))
        return;
    std::vector<uint8_t> payload(marker.payloadLength);
    reader->position = marker.payload;
    if (!ReadBytes(reader, payload.data(), payload.size()))
        return;
    *exifSeen = *exifSeen || exif;
    *xmpSeen = *xmpSeen || xmp;
    if (exif)
        TakeExif(payload, header);
    else if (xmp)
        EditXmpPayload(payload.data(), payload.size(), &header->blocks.xmp);
    else
        AddIccChunk(&header->blocks.icc, payload.data(), payload.size());
}

void ReadJpegHeader(BufferedReader *reader, PhotoHeader *header)
{
    JpegMarker marker;
    bool exifSeen = false, xmpSeen = false;
    if (!StartJpegWalk(reader))
        return;
    while (NextJpegMarker(reader, &marker) && marker.marker != JPEG_SOS && marker.marker != JPEG_EOI)
    {
        if (IsFrameHeaderMarker(marker.marker))
            ReadFrameHeader(reader, marker, header);
        else if (marker.marker == JPEG_APP1 || marker.marker == JPEG_APP2)
            ReadApplicationSegment(reader, marker, header, &exifSeen, &xmpSeen);
        if (marker.hasLength && !SkipJpegPayload(reader, marker))
            break;
    }
    FinishIccChunks(&header->blocks.icc);
}
} // namespace

bool JpegFrameTooLarge(uint32_t width, uint32_t height, uint32_t components)
{
    return static_cast<uint64_t>(width) * height * components > 0xFFFFFFFFull;
}

void ReadPhotoHeader(PhotoFile *file, PhotoHeader *header, size_t bufferBytes)
{
    header->kind = PHOTO_OTHER;
    header->orientation = ORIENTATION_UPRIGHT;
    header->frameFound = false;
    header->frameWidth = header->frameHeight = header->frameComponents = 0;
    header->frameTooLarge = false;
    StartCarriedBlocks(&header->blocks);

    uint8_t start[8] = {};
    const size_t startBytes = file->Size() < sizeof(start) ? static_cast<size_t>(file->Size()) : sizeof(start);
    if (!file->Read(0, start, startBytes))
        return;
    if (startBytes >= 2 && start[0] == 0xFF && start[1] == 0xD8)
    {
        BufferedReader reader;
        header->kind = PHOTO_JPEG;
        StartReading(file, &reader, bufferBytes);
        ReadJpegHeader(&reader, header);
    }
    else if (startBytes >= 4 && (std::memcmp(start, "II*\0", 4) == 0 || std::memcmp(start, "MM\0*", 4) == 0))
    {
        header->kind = PHOTO_TIFF;
        header->orientation = ReadTiffFileOrientation(file);
        header->frameFound = ReadTiffFrameSize(file, &header->frameWidth, &header->frameHeight);
    }
    else if (IsPngSignature(start, startBytes))
    {
        header->kind = PHOTO_PNG;
        header->frameFound = ReadPngFrameSize(file, &header->frameWidth, &header->frameHeight);
    }
    else if (IsGifSignature(start, startBytes))
    {
        header->kind = PHOTO_GIF;
        header->frameFound = ReadGifFrameSize(file, &header->frameWidth, &header->frameHeight);
    }
    else if (IsBmpSignature(start, startBytes))
    {
        header->kind = PHOTO_BMP;
        header->frameFound = ReadBmpFrameSize(file, &header->frameWidth, &header->frameHeight);
    }
}
