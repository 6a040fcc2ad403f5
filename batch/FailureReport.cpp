#include "FailureReport.h"

#include <wincodec.h>

#include <stdio.h>

namespace
{
// The imaging component's own errors (0x8898xxxx); not every header names it.
const HRESULT IMAGING_FACILITY = 0x898;

bool IsWin32Error(HRESULT hr, DWORD error)
{
    return hr == HRESULT_FROM_WIN32(error);
}

bool IsMemoryFailure(HRESULT hr)
{
    return hr == E_OUTOFMEMORY || IsWin32Error(hr, ERROR_NOT_ENOUGH_MEMORY) || IsWin32Error(hr, ERROR_OUTOFMEMORY) ||
           IsWin32Error(hr, ERROR_ARITHMETIC_OVERFLOW) || hr == WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
}

// Errors of the imaging component itself: on Windows a frame is decoded
// while it is pulled, so a damaged file can fail as late as the write.
bool IsImagingError(HRESULT hr)
{
    return HRESULT_FACILITY(hr) == IMAGING_FACILITY || hr == E_FAIL || IsWin32Error(hr, ERROR_HANDLE_EOF) ||
           IsWin32Error(hr, ERROR_INVALID_DATA);
}

// Memory ran out, or a size did not fit: the frame's size tells whether
// the picture is too large or the machine was short of memory.
FailureReason ClassifyMemoryFailure(const FileOutcome &outcome, bool is32BitProgram)
{
    const UINT64 frameBytes = static_cast<UINT64>(outcome.frameWidth) * outcome.frameHeight * 4;
    const bool known = frameBytes > 0;
    if (known && frameBytes > LARGEST_FRAME_BYTES_ANY)
        return FAILURE_TOO_LARGE;
    if (known && is32BitProgram && frameBytes > LARGEST_FRAME_BYTES_32_BIT)
        return FAILURE_TOO_LARGE_HERE;
    // A size that does not fit without a frame that says so: the copy's
    // own size overflowed.
    if (IsWin32Error(outcome.hr, ERROR_ARITHMETIC_OVERFLOW) || outcome.hr == WINCODEC_ERR_IMAGESIZEOUTOFRANGE)
        return FAILURE_TOO_LARGE;
    return FAILURE_OUT_OF_MEMORY;
}

FailureReason ClassifyReadFailure(HRESULT hr)
{
    static const DWORD goneOrLocked[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_SHARING_VIOLATION,
                                         ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED, ERROR_BAD_NETPATH,
                                         ERROR_DEV_NOT_EXIST, ERROR_NOT_READY};
    for (DWORD error : goneOrLocked)
        if (IsWin32Error(hr, error))
            return FAILURE_VANISHED_OR_LOCKED;
    return FAILURE_DAMAGED;
}

FailureReason ClassifyWriteFailure(const FileOutcome &outcome)
{
    const HRESULT hr = outcome.hr;
    if (IsWin32Error(hr, ERROR_ACCESS_DENIED))
        return outcome.targetReadOnly ? FAILURE_COPY_READ_ONLY : FAILURE_COPY_ACCESS_DENIED;
    if (IsWin32Error(hr, ERROR_SHARING_VIOLATION) || IsWin32Error(hr, ERROR_LOCK_VIOLATION) ||
        IsWin32Error(hr, ERROR_USER_MAPPED_FILE))
        return FAILURE_COPY_HELD;
    if (IsWin32Error(hr, ERROR_DISK_FULL) || IsWin32Error(hr, ERROR_HANDLE_DISK_FULL) || hr == STG_E_MEDIUMFULL)
        return FAILURE_DISK_FULL;
    if (IsWin32Error(hr, ERROR_FILENAME_EXCED_RANGE) || IsWin32Error(hr, ERROR_BUFFER_OVERFLOW))
        return FAILURE_PATH_TOO_LONG;
    // The writer asks for an encoder by the copy's container; the imaging
    // component answers "not found" when none is installed (no system has
    // one for icons).
    if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
        return FAILURE_NO_ENCODER;
    return IsImagingError(hr) ? FAILURE_DAMAGED : FAILURE_OTHER;
}
} // namespace

bool OutcomeFailed(const FileOutcome &outcome)
{
    return outcome.step == OUTCOME_NOT_READ || outcome.step == OUTCOME_NOT_RESIZED ||
           outcome.step == OUTCOME_NOT_WRITTEN;
}

static FailureReason ClassifyByStep(const FileOutcome &outcome)
{
    switch (outcome.step)
    {
    case OUTCOME_NOT_READ:    return ClassifyReadFailure(outcome.hr);
    case OUTCOME_NOT_RESIZED: return IsImagingError(outcome.hr) ? FAILURE_DAMAGED : FAILURE_OTHER;
    case OUTCOME_NOT_WRITTEN: return ClassifyWriteFailure(outcome);
    default:                  return FAILURE_OTHER;
    }
}

FailureReason ClassifyFailure(const FileOutcome &outcome, bool is32BitProgram)
{
    if (IsMemoryFailure(outcome.hr))
        return ClassifyMemoryFailure(outcome, is32BitProgram);
    const FailureReason byStep = ClassifyByStep(outcome);
    // A decoder short of memory for a frame this large may answer with an
    // error of its own instead of E_OUTOFMEMORY; the frame's size, read
    // from the header, is the better witness then.
    if (byStep == FAILURE_DAMAGED && outcome.step != OUTCOME_NOT_WRITTEN)
    {
        const FailureReason bySize = ClassifyMemoryFailure(outcome, is32BitProgram);
        if (bySize == FAILURE_TOO_LARGE || bySize == FAILURE_TOO_LARGE_HERE)
            return bySize;
    }
    return byStep;
}

namespace
{
// Characters that could break a line or turn its direction around:
// controls (C0, DEL, C1), the line and paragraph separators, and every
// direction mark, embedding, override and isolate.
bool IsHiddenCharacter(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
} // namespace

std::wstring MakeShownName(const wchar_t *name)
{
    std::wstring kept;
    for (const wchar_t *c = name; *c; ++c)
        if (!IsHiddenCharacter(*c))
            kept.push_back(*c);
    if (kept.size() <= SHOWN_NAME_MOST_CHARS)
        return kept;
    // The start and the end (where the extension is) stay; the middle
    // gives way to an ellipsis, never between the halves of a character.
    const size_t tailChars = 16;
    size_t headChars = SHOWN_NAME_MOST_CHARS - 1 - tailChars;
    if (IsHighSurrogate(kept[headChars - 1]))
        --headChars;
    size_t tailStart = kept.size() - tailChars;
    if (IsHighSurrogate(kept[tailStart - 1]))
        ++tailStart;
    return kept.substr(0, headChars) + L"\u2026" + kept.substr(tailStart);
}

std::wstring DescribeFailure(FailureReason reason, const std::wstring &copyName, HRESULT hr)
{
    const std::wstring copy = L"the copy could not be written because Resized\\" + copyName;
    switch (reason)
    {
    case FAILURE_DAMAGED:            return L"the file is damaged or is not an image that can be read";
    case FAILURE_VANISHED_OR_LOCKED: return L"the file vanished or is locked";
    case FAILURE_NO_ENCODER:         return L"there is no encoder for this kind of file on this computer";
    case FAILURE_TOO_LARGE_HERE:     return L"the picture is too large for this 32-bit program (the 64-bit one resizes it)";
    case FAILURE_TOO_LARGE:          return L"the picture is too large to be resized";
    case FAILURE_OUT_OF_MEMORY:      return L"the computer ran out of memory";
    case FAILURE_COPY_READ_ONLY:     return copy + L" is read-only";
    case FAILURE_COPY_ACCESS_DENIED: return L"the copy could not be written because access to Resized\\" + copyName + L" is denied";
    case FAILURE_COPY_HELD:          return copy + L" is held by another program";
    case FAILURE_DISK_FULL:          return L"the copy could not be written because the disk is full";
    case FAILURE_PATH_TOO_LONG:      return L"the copy could not be written because its path is too long";
    default:                        break;
    }
    wchar_t code[48];
    swprintf(code, 48, L"it could not be resized (error 0x%08lX)", static_cast<unsigned long>(hr));
    return code;
}

std::wstring ComposeFailureReport(UINT64 failedCount, UINT64 imageCount, const FailedImage *listed, size_t listedCount)
{
    std::wstring text = std::to_wstring(failedCount) + L" of " + std::to_wstring(imageCount) +
                        L" images could not be resized:";
    const size_t shown = listedCount < REPORT_MOST_LINES ? listedCount : REPORT_MOST_LINES;
    for (size_t i = 0; i < shown; ++i)
        text += L"\n" + listed[i].shownName + L": " + listed[i].description;
    if (failedCount > shown)
        text += L"\nand " + std::to_wstring(failedCount - shown) + L" more.";
    return text;
}
