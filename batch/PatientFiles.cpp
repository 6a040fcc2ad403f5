#include "PatientFiles.h"

#include <mmsystem.h>

namespace
{
// Whether error may come from somebody else's passing handle on path.
bool IsPassingHold(DWORD error, const wchar_t *path)
{
    if (error == ERROR_SHARING_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    // Access is also denied for good: a read-only file or a folder.
    const DWORD attributes = GetFileAttributesW(path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Runs attempt until it succeeds, fails for good, or PATIENCE_MS pass.
template <class Attempt> DWORD RetryWhileHeld(const wchar_t *heldPath, Attempt attempt)
{
    const DWORD started = timeGetTime();
    for (;;)
    {
        if (attempt())
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (!IsPassingHold(error, heldPath) || timeGetTime() - started >= PATIENCE_MS)
            return error;
        Sleep(PATIENCE_STEP_MS);
    }
}
} // namespace

DWORD MoveFilePatiently(const wchar_t *from, const wchar_t *to)
{
    // Either end may be held; the attributes that matter are the target's.
    return RetryWhileHeld(to, [&] { return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE; });
}
