#include "MemoryBudget.h"

#include "ResizePipeline.h"
#include "imaging/LargeFrame.h"
#include "imaging/SharedFlags.h"

#include <stdint.h>

// How often a waiting admission looks at the quit flag.
static const DWORD QUIT_POLL_MS = 50;

UINT64 DefaultMemoryBudget()
{
    const UINT64 oneGiB = 1ull << 30;
    if (sizeof(void *) == 4)
        return oneGiB;
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    return GlobalMemoryStatusEx(&status) && status.ullTotalPhys / 2 > 0 ? status.ullTotalPhys / 2 : oneGiB;
}

void StartMemoryBudget(MemoryBudget *budget, UINT64 total)
{
    InitializeSRWLock(&budget->lock);
    InitializeConditionVariable(&budget->changed);
    budget->total = total ? total : DefaultMemoryBudget();
    budget->reserved = 0;
    budget->admitted = 0;
    budget->nextOrder = 0;
}

// width x height x 4, or UINT64_MAX when that does not fit 64 bits.
static UINT64 FourBytesPerPixel(UINT64 width, UINT64 height)
{
    if (width == 0 || height == 0)
        return 0;
    return height > UINT64_MAX / 4 / width ? UINT64_MAX : width * height * 4;
}

static UINT64 AddClamped(UINT64 a, UINT64 b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

UINT64 EstimateFileBytes(const PhotoHeader &header, float scale)
{
    if (!header.frameFound || header.frameWidth == 0 || header.frameHeight == 0)
        return FILE_BYTES_UNKNOWN;
    const UINT64 frame = FourBytesPerPixel(header.frameWidth, header.frameHeight);
    // The copy's sides by the pipeline's own rule; a side past 32 bits is
    // refused there, and counts here as the largest.
    UINT scaledWidth = 0, scaledHeight = 0;
    if (!ComputeTargetSide(header.frameWidth, scale, &scaledWidth))
        scaledWidth = UINT_MAX;
    if (!ComputeTargetSide(header.frameHeight, scale, &scaledHeight))
        scaledHeight = UINT_MAX;
    const UINT64 scaled = FourBytesPerPixel(scaledWidth, scaledHeight);
    const UINT64 copy = frame > LARGEST_IN_PLACE_FRAME_BYTES ? frame : 0;
    return AddClamped(AddClamped(frame, copy), scaled);
}

bool AdmitFile(MemoryBudget *budget, ULONGLONG order, UINT64 bytes, UINT64 *reserved)
{
    const UINT64 wanted = bytes > budget->total ? budget->total : bytes;
    bool admitted = false;
    *reserved = 0;
    AcquireSRWLockExclusive(&budget->lock);
    while (!admitted && !BatchStopRequested())
    {
        const bool fits = budget->admitted == 0 || wanted <= budget->total - budget->reserved;
        if (budget->nextOrder == order && fits)
        {
            budget->reserved += wanted;
            ++budget->admitted;
            ++budget->nextOrder;
            admitted = true;
        }
        else
            SleepConditionVariableSRW(&budget->changed, &budget->lock, QUIT_POLL_MS, 0);
    }
    ReleaseSRWLockExclusive(&budget->lock);
    if (admitted)
    {
        // The next in order may be waiting for this one's turn to pass.
        WakeAllConditionVariable(&budget->changed);
        *reserved = wanted;
    }
    return admitted;
}

void ReleaseFile(MemoryBudget *budget, UINT64 reserved)
{
    AcquireSRWLockExclusive(&budget->lock);
    budget->reserved -= reserved;
    --budget->admitted;
    ReleaseSRWLockExclusive(&budget->lock);
    WakeAllConditionVariable(&budget->changed);
}
