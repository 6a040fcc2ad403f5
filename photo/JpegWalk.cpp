// The JPEG marker walker (JpegWalk.h).
#include "JpegWalk.h"

bool IsStandaloneMarker(uint8_t marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= JPEG_EOI);
}

bool IsFrameHeaderMarker(uint8_t marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool StartJpegWalk(BufferedReader *reader)
{
    uint8_t start[2];
    reader->position = 0;
    return ReadBytes(reader, start, 2) && start[0] == 0xFF && start[1] == JPEG_SOI;
}

// Finds the next marker byte as a decoder does: bytes up to an FF are
// stray, fill bytes repeat the FF, and FF 00 is no marker.
static bool FindMarker(BufferedReader *reader, uint8_t *marker)
{
    uint8_t byte = 0;
    for (;;)
    {
        do
        {
            if (!ReadByte(reader, &byte))
                return false;
        } while (byte != 0xFF);
        do
        {
            if (!ReadByte(reader, &byte))
                return false;
        } while (byte == 0xFF);
        if (byte != 0x00)
        {
            *marker = byte;
            return true;
        }
    }
}

bool NextJpegMarker(BufferedReader *reader, JpegMarker *marker)
{
    marker->start = reader->position;
    if (!FindMarker(reader, &marker->marker))
        return false;
    marker->hasLength = !IsStandaloneMarker(marker->marker);
    marker->payload = reader->position;
    marker->payloadLength = 0;
    marker->cutShort = false;
    if (!marker->hasLength)
        return true;
    uint8_t length[2];
    if (!ReadBytes(reader, length, 2))
        return false;
    // A length below 2 promises no payload; a decoder reads on right after it.
    const uint32_t promised = static_cast<uint32_t>(length[0] << 8 | length[1]);
    marker->payload = reader->position;
    marker->payloadLength = promised < 2 ? 0 : promised - 2;
    marker->cutShort = marker->payloadLength > RemainingBytes(*reader);
    return true;
}

bool SkipJpegPayload(BufferedReader *reader, const JpegMarker &marker)
{
    reader->position = marker.payload;
    return !marker.cutShort && SkipBytes(reader, marker.payloadLength);
}
