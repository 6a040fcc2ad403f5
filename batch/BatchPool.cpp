#include "BatchPool.h"

#include "BatchProgress.h"
#include "ResizePipeline.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"

#include <process.h>

namespace
{
// What every worker of one batch shares; read only while they run.
struct WorkerShare
{
    HWND window;
    BatchListing *listing;
    MemoryBudget *budget;
};

void ResizeListedEntries(const WorkerShare *share)
{
    ImagingContext *context = NULL;
    // A factory whose apartment this thread is not in may be used only
    // through COM's proxies; each worker makes its own in the MTA.
    const HRESULT apartment = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(apartment))
        return;
    if (SUCCEEDED(CreateThreadImagingContext(&context)))
    {
        BatchEntry entry;
        while (TakeBatchEntry(share->listing, &entry))
        {
            FileAdmission admission = {share->budget, entry.order, false, 0};
            // Not a pair the pipeline tells: it stays only if a throw passed it.
            FileOutcome outcome = {OUTCOME_NOT_RESIZED, S_OK, 0, 0, false, false};
            // A file that fails costs only its own copy. The pipeline answers
            // what the standard library throws as a failed file; should
            // anything pass it all the same, this entry still finishes and
            // gives back its memory, so that no later entry waits forever.
            const HRESULT answer = AnswerWithoutThrowing([&] {
                return ResizeImageFileIn(context, share->window, PREVIEW_WHEN_DUE, &admission, entry.fullPath,
                                         entry.outputPath, &outcome);
            });
            if (outcome.step == OUTCOME_NOT_RESIZED && outcome.hr == S_OK)
                outcome.hr = FAILED(answer) ? answer : E_FAIL;
            // The last frame holds its file open and its memory; let go of
            // it before the entry counts as finished.
            SafeRelease(&context->currentSource);
            if (admission.admitted)
                ReleaseFile(share->budget, admission.reserved);
            FinishBatchEntry(share->listing, &entry);
            NoteFileOutcome(share->window, entry.fullPath, entry.attributes, entry.outputPath, outcome);
        }
        FreeImagingContext(context);
    }
    CoUninitialize();
}

unsigned __stdcall BatchWorkerMain(void *argument)
{
    return AnswerWithoutThrowing(1u, [&] {
        ResizeListedEntries(static_cast<const WorkerShare *>(argument));
        return 0u;
    });
}

// Waits for thread to end while serving the calling thread's messages.
void JoinPumping(HANDLE thread)
{
    for (;;)
    {
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0 + 1)
        {
            PumpPendingMessages();
            continue;
        }
        if (woke != WAIT_OBJECT_0)
            WaitForSingleObject(thread, INFINITE);
        return;
    }
}
} // namespace

UINT CountBatchWorkers()
{
    DWORD_PTR processMask = 0, systemMask = 0;
    UINT count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask))
        for (; processMask; processMask &= processMask - 1)
            ++count;
    if (count == 0)
        count = 1;
    return count < MAX_BATCH_WORKERS ? count : MAX_BATCH_WORKERS;
}

void RunBatchWorkers(HWND window, BatchListing *listing, MemoryBudget *budget, UINT workerCount)
{
    WorkerShare share = {window, listing, budget};
    HANDLE threads[MAX_BATCH_WORKERS];
    UINT started = 0;
    if (workerCount == 0)
        workerCount = CountBatchWorkers();
    if (workerCount > MAX_BATCH_WORKERS)
        workerCount = MAX_BATCH_WORKERS;
    for (UINT i = 0; i < workerCount; ++i)
    {
        const uintptr_t thread = _beginthreadex(NULL, 0, BatchWorkerMain, &share, CREATE_SUSPENDED, NULL);
        if (thread == 0)
            continue;
        threads[started] = reinterpret_cast<HANDLE>(thread);
        // The window and the rest of the machine come first.
        SetThreadPriority(threads[started], THREAD_PRIORITY_BELOW_NORMAL);
        ResumeThread(threads[started]);
        ++started;
    }
    for (UINT i = 0; i < started; ++i)
    {
        JoinPumping(threads[i]);
        CloseHandle(threads[i]);
    }
}
