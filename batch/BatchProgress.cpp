#include "BatchProgress.h"

#include "BatchListing.h"
#include "ImageWriter.h"
#include "imaging/DecoderExtensions.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"
#include "imaging/SharedFlags.h"

#include <wchar.h>

#include <atomic>
#include <utility>

namespace
{
struct ProgressRecord
{
    bool walking;
    UINT64 filesTotal, filesDone, images, imagesFailed;
    std::wstring claimed;                   // ListDecoderExtensions's list
    FailedImage failed[REPORT_MOST_LINES];  // the first images that failed
    size_t failedListed;
};

SRWLOCK g_batchProgressLock = SRWLOCK_INIT; // guards g_batchProgress
ProgressRecord g_batchProgress;             // written by the UI thread between batches, the coordinator and the workers
std::atomic<bool> g_progressPosted(false);  // a WM_BATCH_PROGRESS waits; raised by workers, lowered by the UI thread
std::atomic<bool> g_coordinatorEnded(true); // raised by the coordinator as its last act, lowered by the UI thread

// What the title counts: files, neither folders nor "Resized".
bool CountsAsFile(const wchar_t *name, DWORD attributes)
{
    return !(attributes & FILE_ATTRIBUTE_DIRECTORY) && _wcsicmp(name, L"Resized") != 0;
}

UINT64 CountListedFiles(const wchar_t *folderPath)
{
    wchar_t pattern[MAX_PATH];
    WIN32_FIND_DATAW found;
    UINT64 files = 0;
    if (!JoinPath(pattern, folderPath, L"\\*.*"))
        return 0;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
        files += CountsAsFile(found.cFileName, found.dwFileAttributes) ? 1 : 0;
    while (FindNextFileW(find, &found));
    FindClose(find);
    return files;
}

// The names the decoders claim, through a factory of the calling thread's
// own; an empty list where none can be made (then only files that decode
// count as images).
std::wstring ListClaimedNames()
{
    IWICImagingFactory *factory = NULL;
    std::wstring claimed = L",";
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void **>(&factory))))
        ListDecoderExtensions(factory, &claimed);
    SafeRelease(&factory);
    return claimed;
}

void PostProgress(HWND window)
{
    if (window && !g_progressPosted.exchange(true) && !PostMessageW(window, WM_BATCH_PROGRESS, 0, 0))
        g_progressPosted = false;
}

const wchar_t *FileNameOf(const wchar_t *path)
{
    const wchar_t *slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// The failed image as the message will list it, made outside the lock.
FailedImage DescribeFailedImage(const wchar_t *fullPath, const wchar_t *outputPath, const FileOutcome &outcome)
{
    wchar_t writtenPath[MAX_PATH];
    if (FAILED(ComposeWrittenPath(outputPath, writtenPath)))
        wcscpy(writtenPath, outputPath);
    FailedImage image;
    image.shownName = MakeShownName(FileNameOf(fullPath));
    const FailureReason reason = ClassifyFailure(outcome, sizeof(void *) == 4);
    image.description = DescribeFailure(reason, MakeShownName(FileNameOf(writtenPath)), outcome.hr);
    return image;
}
} // namespace

void ResetBatchProgress()
{
    // The decoders' names are listed here, before the folder browser shows,
    // not once the folder is chosen: under Wine the list takes about 20 ms,
    // which every batch would wait for before its first file. Without the
    // list (memory refused), only files that decode count as images.
    std::wstring claimed;
    AnswerWithoutThrowing([&] {
        claimed = ListClaimedNames();
        return S_OK;
    });
    AcquireSRWLockExclusive(&g_batchProgressLock);
    g_batchProgress.walking = false;
    g_batchProgress.filesTotal = g_batchProgress.filesDone = 0;
    g_batchProgress.images = g_batchProgress.imagesFailed = 0;
    g_batchProgress.failedListed = 0;
    g_batchProgress.claimed.swap(claimed);
    ReleaseSRWLockExclusive(&g_batchProgressLock);
    g_coordinatorEnded = false;
}

void BeginBatchProgress(HWND window, const wchar_t *folderPath)
{
    const UINT64 files = CountListedFiles(folderPath);
    AcquireSRWLockExclusive(&g_batchProgressLock);
    g_batchProgress.walking = true;
    g_batchProgress.filesTotal = files;
    g_batchProgress.filesDone = g_batchProgress.images = g_batchProgress.imagesFailed = 0;
    g_batchProgress.failedListed = 0;
    ReleaseSRWLockExclusive(&g_batchProgressLock);
    PostProgress(window);
}

void NoteFileOutcome(HWND window, const wchar_t *fullPath, DWORD attributes, const wchar_t *outputPath,
                     const FileOutcome &outcome)
{
    if (!CountsAsFile(FileNameOf(fullPath), attributes))
        return;
    const bool failed = OutcomeFailed(outcome);
    FailedImage image;
    // Made before the lock is taken, where nothing may throw; without
    // memory for its words the image is still counted.
    if (failed)
        AnswerWithoutThrowing([&] {
            image = DescribeFailedImage(fullPath, outputPath, outcome);
            return S_OK;
        });
    AcquireSRWLockExclusive(&g_batchProgressLock);
    ++g_batchProgress.filesDone;
    const bool isImage = outcome.step == OUTCOME_WRITTEN || outcome.decoded ||
                         IsClaimedByDecoder(g_batchProgress.claimed, fullPath);
    if (isImage && outcome.step != OUTCOME_STOPPED)
        ++g_batchProgress.images;
    if (isImage && failed)
    {
        ++g_batchProgress.imagesFailed;
        if (g_batchProgress.failedListed < REPORT_MOST_LINES)
            g_batchProgress.failed[g_batchProgress.failedListed++] = std::move(image);
    }
    ReleaseSRWLockExclusive(&g_batchProgressLock);
    PostProgress(window);
}

void EndBatchProgress(HWND window)
{
    g_coordinatorEnded = true;
    // A closing window shows nothing more, and a message posted to it
    // might never be handled.
    if (g_quitRequested || !window || !PostMessageW(window, WM_BATCH_ENDED, 0, 0))
        g_busy = false;
}

bool BatchCoordinatorEnded()
{
    return g_coordinatorEnded;
}

BatchProgressView ReadBatchProgress()
{
    g_progressPosted = false;
    AcquireSRWLockShared(&g_batchProgressLock);
    const BatchProgressView view = {g_batchProgress.walking, g_batchProgress.filesTotal, g_batchProgress.filesDone,
                                    g_batchProgress.imagesFailed};
    ReleaseSRWLockShared(&g_batchProgressLock);
    return view;
}

std::wstring TakeFailureReport()
{
    std::wstring text;
    AcquireSRWLockExclusive(&g_batchProgressLock);
    const UINT64 failed = g_batchProgress.imagesFailed, images = g_batchProgress.images;
    FailedImage listed[REPORT_MOST_LINES];
    const size_t listedCount = g_batchProgress.failedListed;
    for (size_t i = 0; i < listedCount; ++i)
        listed[i] = std::move(g_batchProgress.failed[i]);
    g_batchProgress.imagesFailed = 0;
    g_batchProgress.failedListed = 0;
    ReleaseSRWLockExclusive(&g_batchProgressLock);
    if (failed > 0)
        text = ComposeFailureReport(failed, images, listed, listedCount);
    return text;
}
