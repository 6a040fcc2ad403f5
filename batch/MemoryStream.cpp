#include "MemoryStream.h"
#include "OwnStream.h"

#include "imaging/ExceptionBoundary.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

namespace
{
class MemoryStream final : public OwnStream
{
public:
    ~MemoryStream() { free(m_bytes); }

    // ISequentialStream
    STDMETHODIMP Read(void *buffer, ULONG bytes, ULONG *read) override
    {
        return AnswerWithoutThrowing([&]() -> HRESULT {
            const size_t left = m_position < m_size ? m_size - static_cast<size_t>(m_position) : 0;
            const ULONG taken = bytes < left ? bytes : static_cast<ULONG>(left);
            if (taken)
                memcpy(buffer, m_bytes + m_position, taken);
            m_position += taken;
            if (read)
                *read = taken;
            return taken == bytes ? S_OK : S_FALSE;
        });
    }
    STDMETHODIMP Write(const void *buffer, ULONG bytes, ULONG *written) override
    {
        return AnswerWithoutThrowing([&]() -> HRESULT {
            if (written)
                *written = 0;
            if (m_position > MAX_MEMORY_STREAM_BYTES || bytes > MAX_MEMORY_STREAM_BYTES - m_position)
                return STG_E_MEDIUMFULL;
            const size_t end = static_cast<size_t>(m_position + bytes);
            if (end > m_size && !Resize(end))
                return STG_E_MEDIUMFULL;
            if (bytes)
                memcpy(m_bytes + m_position, buffer, bytes);
            m_position = end;
            if (written)
                *written = bytes;
            return S_OK;
        });
    }

    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override
    {
        return AnswerWithoutThrowing([&]() -> HRESULT {
            const LONGLONG base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_position)
                                  : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(m_size) : -1;
            if (base < 0)
                return STG_E_INVALIDFUNCTION;
            if ((move.QuadPart < 0 && -move.QuadPart > base) ||
                (move.QuadPart > 0 && static_cast<ULONGLONG>(move.QuadPart) > MAX_MEMORY_STREAM_BYTES))
                return STG_E_INVALIDFUNCTION;
            m_position = static_cast<uint64_t>(base + move.QuadPart);
            if (position)
                position->QuadPart = m_position;
            return S_OK;
        });
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override
    {
        return AnswerWithoutThrowing([&]() -> HRESULT {
            if (size.QuadPart > MAX_MEMORY_STREAM_BYTES)
                return STG_E_MEDIUMFULL;
            return Resize(static_cast<size_t>(size.QuadPart)) ? S_OK : STG_E_MEDIUMFULL;
        });
    }
    STDMETHODIMP Stat(STATSTG *stat, DWORD) override
    {
        return AnswerWithoutThrowing([&]() -> HRESULT {
            if (!stat)
                return STG_E_INVALIDPOINTER;
            ZeroMemory(stat, sizeof(*stat));
            stat->type = STGTY_STREAM;
            stat->cbSize.QuadPart = m_size;
            return S_OK;
        });
    }

    const uint8_t *Bytes() const { return m_bytes; }
    size_t Size() const { return m_size; }

private:
    // Grows (zero-filled, at least doubling the room) or shrinks to size bytes.
    bool Resize(size_t size)
    {
        if (size > m_capacity)
        {
            size_t capacity = m_capacity ? m_capacity : 64 * 1024;
            // Doubling stops short of a block that pointer differences
            // cannot span (2 GiB in the 32-bit build).
            while (capacity < size)
                capacity = capacity > MAX_MEMORY_STREAM_BYTES / 2 ? size : capacity * 2;
            uint8_t *grown = static_cast<uint8_t *>(realloc(m_bytes, capacity));
            if (!grown)
                return false;
            m_bytes = grown;
            m_capacity = capacity;
        }
        if (size > m_size)
            memset(m_bytes + m_size, 0, size - m_size);
        m_size = size;
        return true;
    }

    uint8_t *m_bytes = NULL;
    size_t m_size = 0, m_capacity = 0;
    uint64_t m_position = 0;
};
} // namespace

HRESULT CreateMemoryStream(IStream **stream)
{
    *stream = new (std::nothrow) MemoryStream();
    return *stream ? S_OK : E_OUTOFMEMORY;
}

void GetMemoryStreamBytes(IStream *stream, const uint8_t **bytes, size_t *size)
{
    const MemoryStream *memory = static_cast<const MemoryStream *>(stream);
    *bytes = memory->Bytes();
    *size = memory->Size();
}
