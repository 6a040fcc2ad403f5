#include "SpliceStream.h"

#include "MemoryStream.h"
#include "MetadataSplice.h"
#include "OwnStream.h"

#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"

#include <atomic>
#include <new>

namespace
{
const uint64_t NO_INSERTION = ~0ull;

std::atomic<size_t> g_peakHeldBytes{0}; // the most one stream held; raised by every writer's thread

void NotePeakHeld(size_t bytes)
{
    size_t seen = g_peakHeldBytes.load();
    while (bytes > seen && !g_peakHeldBytes.compare_exchange_weak(seen, bytes))
    {
    }
}

// Writes or reads size bytes at offset of a file opened for synchronous
// access; *done says how many were read (a read may end at the file's end).
bool TransferAt(HANDLE file, uint64_t offset, void *bytes, ULONG size, bool write, ULONG *done)
{
    *done = 0;
    while (*done < size)
    {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + *done);
        at.OffsetHigh = static_cast<DWORD>((offset + *done) >> 32);
        DWORD moved = 0;
        BYTE *piece = static_cast<BYTE *>(bytes) + *done;
        const BOOL ok = write ? WriteFile(file, piece, size - *done, &moved, &at)
                              : ReadFile(file, piece, size - *done, &moved, &at);
        if (!ok)
            return !write && GetLastError() == ERROR_HANDLE_EOF;
        if (moved == 0)
            return !write;
        *done += moved;
    }
    return true;
}

HRESULT LastErrorOr(HRESULT otherwise)
{
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : otherwise;
}

class SpliceStream final : public OwnStream
{
public:
    SpliceStream(HANDLE file, REFGUID container, const PhotoMetadata *metadata, UINT width, UINT height)
        : m_file(file), m_container(container), m_metadata(metadata), m_width(width), m_height(height)
    {
    }
    ~SpliceStream() { SafeRelease(&m_held); }

    HRESULT StartHolding() { return CreateMemoryStream(&m_held); }
    HRESULT Finish() { return m_held ? SettlePlace(true, true) : S_OK; }

    // ISequentialStream
    STDMETHODIMP Read(void *buffer, ULONG bytes, ULONG *read) override
    {
        return AnswerWithoutThrowing([&] { return m_held ? m_held->Read(buffer, bytes, read) : ReadThrough(buffer, bytes, read); });
    }
    STDMETHODIMP Write(const void *buffer, ULONG bytes, ULONG *written) override
    {
        return AnswerWithoutThrowing([&] { return WriteAnywhere(static_cast<const BYTE *>(buffer), bytes, written); });
    }

    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override
    {
        return AnswerWithoutThrowing([&] { return m_held ? m_held->Seek(move, origin, position) : SeekThrough(move, origin, position); });
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override
    {
        return AnswerWithoutThrowing([&] { return SetSizeAnywhere(size.QuadPart); });
    }
    STDMETHODIMP Stat(STATSTG *stat, DWORD flags) override
    {
        return AnswerWithoutThrowing([&] { return m_held ? m_held->Stat(stat, flags) : StatThrough(stat); });
    }

private:
    HRESULT WriteAnywhere(const BYTE *bytes, ULONG size, ULONG *written);
    HRESULT SetSizeAnywhere(uint64_t size);
    HRESULT SettlePlace(bool complete, bool force);
    HRESULT WriteHeldBytes(const uint8_t *bytes, size_t size, const SplicePlan &plan);
    HRESULT TransferThrough(uint64_t position, BYTE *bytes, ULONG size, bool write, ULONG *done);
    HRESULT ReadThrough(void *buffer, ULONG bytes, ULONG *read);
    HRESULT SeekThrough(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position);
    HRESULT StatThrough(STATSTG *stat);
    HRESULT GetSizeThrough(uint64_t *size);
    uint64_t FileOffset(uint64_t position) const { return position < m_insertAt ? position : position + m_insertedBytes; }
    uint64_t HeldPosition();

    HANDLE m_file;
    const GUID m_container;
    const PhotoMetadata *m_metadata;
    const UINT m_width, m_height;
    IStream *m_held = NULL;              // the copy's start while its blocks' place is unknown; then NULL
    uint64_t m_position = 0;             // the encoder's position, once nothing is held
    uint64_t m_insertAt = NO_INSERTION;  // encoder positions from here on lie m_insertedBytes further in the file
    uint64_t m_insertedBytes = 0;
};

uint64_t SpliceStream::HeldPosition()
{
    LARGE_INTEGER none = {};
    ULARGE_INTEGER position = {};
    m_held->Seek(none, STREAM_SEEK_CUR, &position);
    return position.QuadPart;
}

// Held bytes take what fits under the cap; once the place is known, or
// the cap is reached, they go into the file and the rest passes through.
HRESULT SpliceStream::WriteAnywhere(const BYTE *bytes, ULONG size, ULONG *written)
{
    ULONG taken = 0, passed = 0;
    HRESULT hr = S_OK;
    if (written)
        *written = 0;
    if (m_held)
    {
        const uint64_t at = HeldPosition();
        const uint64_t room = at < SPLICE_HOLD_BYTES ? SPLICE_HOLD_BYTES - at : 0;
        taken = size < room ? size : static_cast<ULONG>(room);
        hr = taken ? m_held->Write(bytes, taken, NULL) : S_OK;
        if (SUCCEEDED(hr))
            hr = SettlePlace(false, taken < size);
        if (FAILED(hr))
            return hr;
    }
    if (!m_held && taken < size)
    {
        hr = TransferThrough(m_position, const_cast<BYTE *>(bytes + taken), size - taken, true, &passed);
        m_position += passed;
    }
    if (written)
        *written = taken + passed;
    return hr;
}

HRESULT SpliceStream::SetSizeAnywhere(uint64_t size)
{
    ULARGE_INTEGER wanted;
    wanted.QuadPart = size;
    if (m_held && size <= SPLICE_HOLD_BYTES)
        return m_held->SetSize(wanted);
    HRESULT hr = m_held ? SettlePlace(false, true) : S_OK;
    if (FAILED(hr))
        return hr;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(FileOffset(size));
    if (!SetFilePointerEx(m_file, end, NULL, FILE_BEGIN) || !SetEndOfFile(m_file))
        return LastErrorOr(STG_E_MEDIUMFULL);
    return S_OK;
}

// Asks where the blocks go in what is held (complete: all of the copy);
// once that is known, or must be settled now (force), the held bytes go
// into the file with the blocks at their place.
HRESULT SpliceStream::SettlePlace(bool complete, bool force)
{
    const uint8_t *bytes = NULL;
    size_t size = 0;
    SplicePlan plan;
    GetMemoryStreamBytes(m_held, &bytes, &size);
    const SpliceAnswer answer =
        PlanMetadataSplice(bytes, size, complete, m_container, m_metadata, m_width, m_height, &plan);
    if (answer == SPLICE_NEEDS_MORE && !force)
        return S_OK;
    if (answer != SPLICE_PLANNED || plan.insertAt > size)
    {
        plan.insertAt = size;
        plan.inserted.clear();
    }
    NotePeakHeld(size + plan.inserted.size());
    const HRESULT hr = WriteHeldBytes(bytes, size, plan);
    if (FAILED(hr))
        return hr;
    m_position = HeldPosition();
    if (!plan.inserted.empty())
    {
        m_insertAt = plan.insertAt;
        m_insertedBytes = plan.inserted.size();
    }
    SafeRelease(&m_held);
    return S_OK;
}

HRESULT SpliceStream::WriteHeldBytes(const uint8_t *bytes, size_t size, const SplicePlan &plan)
{
    const struct
    {
        const uint8_t *bytes;
        size_t size;
    } pieces[] = {{bytes, plan.insertAt}, {plan.inserted.data(), plan.inserted.size()},
                  {bytes + plan.insertAt, size - plan.insertAt}};
    uint64_t offset = 0;
    for (const auto &piece : pieces)
    {
        ULONG done = 0;
        if (piece.size > 0xFFFFFFFFu)
            return E_OUTOFMEMORY;
        if (piece.size && !TransferAt(m_file, offset, const_cast<uint8_t *>(piece.bytes), static_cast<ULONG>(piece.size), true, &done))
            return LastErrorOr(STG_E_WRITEFAULT);
        offset += piece.size;
    }
    return S_OK;
}

// Moves bytes between the encoder's position and the file, in two pieces
// where they straddle the blocks' place.
HRESULT SpliceStream::TransferThrough(uint64_t position, BYTE *bytes, ULONG size, bool write, ULONG *done)
{
    *done = 0;
    while (*done < size)
    {
        const uint64_t at = position + *done;
        ULONG piece = size - *done, moved = 0;
        if (at < m_insertAt && piece > m_insertAt - at)
            piece = static_cast<ULONG>(m_insertAt - at);
        if (!TransferAt(m_file, FileOffset(at), bytes + *done, piece, write, &moved))
            return LastErrorOr(write ? STG_E_WRITEFAULT : STG_E_READFAULT);
        *done += moved;
        if (moved < piece)
            break; // a read that reached the file's end
    }
    return S_OK;
}

HRESULT SpliceStream::ReadThrough(void *buffer, ULONG bytes, ULONG *read)
{
    ULONG done = 0;
    const HRESULT hr = TransferThrough(m_position, static_cast<BYTE *>(buffer), bytes, false, &done);
    m_position += done;
    if (read)
        *read = done;
    return FAILED(hr) ? hr : done == bytes ? S_OK : S_FALSE;
}

// The encoder's size: the file's, less the blocks it holds.
HRESULT SpliceStream::GetSizeThrough(uint64_t *size)
{
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(m_file, &fileSize))
        return LastErrorOr(STG_E_READFAULT);
    const uint64_t bytes = static_cast<uint64_t>(fileSize.QuadPart);
    *size = bytes <= m_insertAt ? bytes : bytes - m_insertAt >= m_insertedBytes ? bytes - m_insertedBytes : m_insertAt;
    return S_OK;
}

HRESULT SpliceStream::SeekThrough(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position)
{
    uint64_t base = 0;
    if (origin == STREAM_SEEK_CUR)
        base = m_position;
    else if (origin == STREAM_SEEK_END)
    {
        const HRESULT hr = GetSizeThrough(&base);
        if (FAILED(hr))
            return hr;
    }
    else if (origin != STREAM_SEEK_SET)
        return STG_E_INVALIDFUNCTION;
    if (move.QuadPart < 0 && static_cast<uint64_t>(-move.QuadPart) > base)
        return STG_E_INVALIDFUNCTION;
    m_position = base + static_cast<uint64_t>(move.QuadPart);
    if (position)
        position->QuadPart = m_position;
    return S_OK;
}

HRESULT SpliceStream::StatThrough(STATSTG *stat)
{
    if (!stat)
        return STG_E_INVALIDPOINTER;
    ZeroMemory(stat, sizeof(*stat));
    stat->type = STGTY_STREAM;
    return GetSizeThrough(&stat->cbSize.QuadPart);
}
} // namespace

HRESULT CreateSpliceStream(HANDLE file, REFGUID container, const PhotoMetadata *metadata, UINT width, UINT height,
                           IStream **stream)
{
    SpliceStream *splice = new (std::nothrow) SpliceStream(file, container, metadata, width, height);
    *stream = splice;
    if (!splice)
        return E_OUTOFMEMORY;
    // A copy that cannot take anything goes straight through.
    const HRESULT hr = MayNeedMetadataSplice(container, metadata) ? splice->StartHolding() : S_OK;
    if (FAILED(hr))
        SafeRelease(stream);
    return hr;
}

HRESULT FinishSpliceStream(IStream *stream)
{
    return AnswerWithoutThrowing([&] { return static_cast<SpliceStream *>(stream)->Finish(); });
}

size_t GetSpliceStreamPeakBytes()
{
    return g_peakHeldBytes.load();
}
