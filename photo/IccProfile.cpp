// ICC chunks and profile checks (IccProfile.h).
#include "IccProfile.h"

#include "Bytes.h"

#include <cstring>

const char ICC_SIGNATURE[12] = "ICC_PROFILE";

namespace
{
// Signature, sequence number, chunk count.
const size_t ICC_CHUNK_HEADER = sizeof(ICC_SIGNATURE) + 2;
}

bool IsRgbProfileStart(const uint8_t *start, size_t profileSize)
{
    const ByteView view = MakeByteView(start, 20, true);
    uint32_t declared = 0;
    return profileSize >= ICC_HEADER_BYTES && ReadU32(view, 0, &declared) && declared == profileSize &&
           std::memcmp(start + 16, "RGB ", 4) == 0;
}

void StartIccChunks(IccChunks *icc)
{
    for (std::vector<uint8_t> &chunk : icc->chunks)
        std::vector<uint8_t>().swap(chunk);
    icc->total = 0;
    icc->found = 0;
    icc->broken = false;
}

void AddIccChunk(IccChunks *icc, const uint8_t *payload, size_t size)
{
    if (icc->broken)
        return;
    if (size < ICC_CHUNK_HEADER)
    {
        icc->broken = true;
        return;
    }
    const unsigned sequence = payload[ICC_CHUNK_HEADER - 2], count = payload[ICC_CHUNK_HEADER - 1];
    if (icc->found == 0)
        icc->total = count;
    if (count != icc->total || sequence == 0 || sequence > icc->total || !icc->chunks[sequence - 1].empty())
    {
        icc->broken = true;
        return;
    }
    icc->chunks[sequence - 1].assign(payload, payload + size);
    ++icc->found;
}

// The profile's first 20 bytes, which may be spread over small chunks, and
// its size; false when the chunks hold fewer.
static bool JoinProfileStart(const IccChunks &icc, uint8_t (&start)[20], size_t *profileSize)
{
    size_t have = 0;
    *profileSize = 0;
    for (unsigned i = 0; i < icc.total; ++i)
    {
        const size_t data = icc.chunks[i].size() - ICC_CHUNK_HEADER;
        const size_t take = data < sizeof(start) - have ? data : sizeof(start) - have;
        std::memcpy(start + have, icc.chunks[i].data() + ICC_CHUNK_HEADER, take);
        have += take;
        *profileSize += data;
    }
    return have == sizeof(start);
}

bool FinishIccChunks(IccChunks *icc)
{
    uint8_t start[20];
    size_t profileSize = 0;
    const bool carried = !icc->broken && icc->found > 0 && icc->found == icc->total &&
                         JoinProfileStart(*icc, start, &profileSize) && IsRgbProfileStart(start, profileSize);
    if (!carried)
        StartIccChunks(icc);
    return carried;
}
