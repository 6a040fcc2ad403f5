// The XMP edit (XmpEdit.h).
#include "XmpEdit.h"

#include "Bytes.h"
#include "JpegWalk.h"

#include <cstring>

const char XMP_SIGNATURE[29] = "http://ns.adobe.com/xap/1.0/";

namespace
{
const char NAME[] = "tiff:Orientation";
const size_t NAME_LENGTH = sizeof(NAME) - 1;

bool IsXmlSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// At a name that starts at p: where its value starts (0: nothing to set
// here) and the byte that ends it. False when a value cannot be delimited.
bool LocateValue(const uint8_t *packet, size_t size, size_t p, size_t *value, uint8_t *close)
{
    size_t q = p + NAME_LENGTH;
    while (q < size && IsXmlSpace(packet[q]))
        ++q;
    *value = 0;
    if (q < size && packet[q] == '=')
    {
        ++q;
        while (q < size && IsXmlSpace(packet[q]))
            ++q;
        if (q >= size || (packet[q] != '"' && packet[q] != '\''))
            return false;
        *close = packet[q];
        *value = q + 1;
        return true;
    }
    if (q < size && packet[q] == '>')
    {
        *close = '<';
        *value = q + 1;
        return true;
    }
    // A longer name, or an empty element: nothing to set.
    return q == p + NAME_LENGTH;
}

bool RewriteOrientation(const uint8_t *packet, size_t size, std::vector<uint8_t> *out)
{
    size_t p = 0;
    while (p < size)
    {
        const bool named = size - p > NAME_LENGTH && std::memcmp(packet + p, NAME, NAME_LENGTH) == 0 &&
                           !(p > 0 && packet[p - 1] == '/');
        if (!named)
        {
            out->push_back(packet[p++]);
            continue;
        }
        size_t value = 0;
        uint8_t close = 0;
        if (!LocateValue(packet, size, p, &value, &close))
            return false;
        if (value == 0)
        {
            out->insert(out->end(), packet + p, packet + p + NAME_LENGTH);
            p += NAME_LENGTH;
            continue;
        }
        const void *end = value < size ? std::memchr(packet + value, close, size - value) : nullptr;
        if (!end)
            return false;
        out->insert(out->end(), packet + p, packet + value);
        out->push_back('1');
        p = static_cast<size_t>(static_cast<const uint8_t *>(end) - packet);
    }
    return true;
}
} // namespace

bool EditXmpPayload(const uint8_t *payload, size_t size, std::vector<uint8_t> *edited)
{
    edited->clear();
    if (!StartsWith(payload, size, XMP_SIGNATURE, sizeof(XMP_SIGNATURE)))
        return false;
    edited->assign(payload, payload + sizeof(XMP_SIGNATURE));
    if (!RewriteOrientation(payload + sizeof(XMP_SIGNATURE), size - sizeof(XMP_SIGNATURE), edited) ||
        edited->size() > JPEG_MAX_PAYLOAD)
    {
        edited->clear();
        return false;
    }
    return true;
}
