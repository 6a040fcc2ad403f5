// Reading a photo file (PhotoFile.h).
#include "PhotoFile.h"

#include <cstring>

bool MemoryPhotoFile::Read(uint64_t offset, void *buffer, size_t size)
{
    if (offset > m_size || size > m_size - offset)
        return false;
    if (size)
        std::memcpy(buffer, m_bytes + offset, size);
    return true;
}

void StartReading(PhotoFile *file, BufferedReader *reader, size_t bufferBytes)
{
    reader->bufferBytes = bufferBytes ? bufferBytes : 1;
    reader->file = file;
    reader->size = file->Size();
    reader->position = 0;
    reader->buffer.clear();
    reader->bufferStart = 0;
    reader->reads = 0;
}

uint64_t RemainingBytes(const BufferedReader &reader)
{
    return reader.position < reader.size ? reader.size - reader.position : 0;
}

// Loads the buffer from the position on, as much as the file still holds.
static bool Refill(BufferedReader *reader)
{
    const uint64_t left = RemainingBytes(*reader);
    if (left == 0)
        return false;
    const size_t bytes = left < reader->bufferBytes ? static_cast<size_t>(left) : reader->bufferBytes;
    reader->buffer.resize(bytes);
    reader->bufferStart = reader->position;
    ++reader->reads;
    if (!reader->file->Read(reader->position, reader->buffer.data(), bytes))
    {
        reader->buffer.clear();
        return false;
    }
    return true;
}

bool ReadBytes(BufferedReader *reader, void *bytes, size_t size)
{
    if (size > RemainingBytes(*reader))
        return false;
    uint8_t *out = static_cast<uint8_t *>(bytes);
    while (size > 0)
    {
        const uint64_t end = reader->bufferStart + reader->buffer.size();
        if (reader->position < reader->bufferStart || reader->position >= end)
        {
            if (!Refill(reader))
                return false;
            continue;
        }
        const size_t at = static_cast<size_t>(reader->position - reader->bufferStart);
        const size_t take = size < reader->buffer.size() - at ? size : reader->buffer.size() - at;
        std::memcpy(out, reader->buffer.data() + at, take);
        out += take;
        size -= take;
        reader->position += take;
    }
    return true;
}

bool ReadByte(BufferedReader *reader, uint8_t *value)
{
    return ReadBytes(reader, value, 1);
}

bool SkipBytes(BufferedReader *reader, uint64_t bytes)
{
    if (bytes > RemainingBytes(*reader))
    {
        reader->position = reader->size;
        return false;
    }
    reader->position += bytes;
    return true;
}
