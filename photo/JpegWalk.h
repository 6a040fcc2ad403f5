// The one walker of a JPEG file's marker segments, from its start-of-image
// marker to its start-of-scan.
//
// Promises: it steps over what a JPEG decoder steps over before the scan:
// fill bytes (FF FF), stray bytes between segments (anything up to the
// next FF, and FF 00), the markers that carry no length (SOI, RST0 to RST7,
// TEM) anywhere, and every other segment by its length, unread. It never
// reads past the file's size; a segment whose length passes the file's
// end is reported as cut short and ends the walk. It holds nothing but the
// reader's one buffer.
#pragma once

#include "PhotoFile.h"

#include <cstdint>

// The markers the program itself looks for (the byte after FF).
enum JpegMarkerCode : uint8_t
{
    JPEG_SOI = 0xD8, JPEG_EOI = 0xD9, JPEG_SOS = 0xDA, JPEG_APP0 = 0xE0, JPEG_APP1 = 0xE1, JPEG_APP2 = 0xE2,
};
// The most payload a segment's 16-bit length can promise.
const size_t JPEG_MAX_PAYLOAD = 65533;

struct JpegMarker
{
    uint8_t marker;          // the byte after FF
    uint64_t start;          // where the walk resumed after the previous marker
    bool hasLength;          // false for SOI, EOI, RST0-RST7, TEM
    uint64_t payload;        // the first byte after the length field
    uint32_t payloadLength;  // bytes the length field promises after itself
    bool cutShort;           // the promised payload passes the file's end
};

// True for the markers that stand alone, without a length.
bool IsStandaloneMarker(uint8_t marker);

// Start-of-frame markers: SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeaderMarker(uint8_t marker);

// Reads the SOI at the file's start; false when the file does not start so.
bool StartJpegWalk(BufferedReader *reader);

// The next marker, the reader left at its payload (or right after it, for
// a standalone marker). False at the file's end.
bool NextJpegMarker(BufferedReader *reader, JpegMarker *marker);

// Moves the reader past the marker's payload; false when it is cut short.
bool SkipJpegPayload(BufferedReader *reader, const JpegMarker &marker);
