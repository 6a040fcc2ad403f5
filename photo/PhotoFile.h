// Reading a photo file: a small interface over the file's bytes, one
// implementation over memory, and a buffered reader that walks a file of
// any length in large reads.
//
// Promises: the buffered reader never reads before offset 0 or past the
// size the file reports; every read either fills what was asked or
// answers false. It holds one buffer (READ_BUFFER_BYTES) whatever the
// file's length; bytes skipped past the buffer are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes of one file. Read fills exactly size bytes from offset or
// answers false; Size is fixed for the reader's life.
struct PhotoFile
{
    virtual ~PhotoFile() {}
    virtual bool Read(uint64_t offset, void *buffer, size_t size) = 0;
    virtual uint64_t Size() const = 0;
};

// A file held in memory (encoded copies, tests, fuzzing).
struct MemoryPhotoFile : PhotoFile
{
    MemoryPhotoFile(const uint8_t *bytes, size_t size) : m_bytes(bytes), m_size(size) {}
    bool Read(uint64_t offset, void *buffer, size_t size) override;
    uint64_t Size() const override { return m_size; }

private:
    const uint8_t *m_bytes;
    size_t m_size;
};

const size_t READ_BUFFER_BYTES = 64 * 1024;

struct BufferedReader
{
    PhotoFile *file;
    uint64_t size;                // the file's size
    uint64_t position;            // the next byte to read
    std::vector<uint8_t> buffer;  // bytes [bufferStart, bufferStart + buffer.size())
    uint64_t bufferStart;
    size_t bufferBytes;           // the most one read takes
    unsigned reads;               // calls to the file's Read, for measuring
};

// bufferBytes other than the default only to exercise the refills.
void StartReading(PhotoFile *file, BufferedReader *reader, size_t bufferBytes = READ_BUFFER_BYTES);

// Bytes left from the position to the file's end.
uint64_t RemainingBytes(const BufferedReader &reader);

bool ReadByte(BufferedReader *reader, uint8_t *value);
bool ReadBytes(BufferedReader *reader, void *bytes, size_t size);
// Moves the position forward; false (and the position at the end) when
// that passes the file's end.
bool SkipBytes(BufferedReader *reader, uint64_t bytes);
