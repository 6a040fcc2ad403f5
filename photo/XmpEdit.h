// The XMP edit: a photo's XMP packet as a resized copy carries it.
//
// Promises: every tiff:Orientation of the packet, attribute or element,
// reads 1; every other byte stays. A packet whose orientation value cannot
// be delimited, or that would no longer fit one JPEG segment, is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// "http://ns.adobe.com/xap/1.0/" with its terminator.
extern const char XMP_SIGNATURE[29];

// The APP1 payload (signature included) with orientation 1; false, and
// *edited empty, when it cannot be carried.
bool EditXmpPayload(const uint8_t *payload, size_t size, std::vector<uint8_t> *edited);
