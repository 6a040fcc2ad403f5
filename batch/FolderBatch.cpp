#include "FolderBatch.h"

#include "BatchPool.h"
#include "BatchProgress.h"
#include "ImageWriter.h"
#include "LongPaths.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"
#include "imaging/SharedFlags.h"

#include <shlobj.h>
#include <wchar.h>

std::atomic<DWORD> g_workerThreadId(0);

// The folder browser, kept apart so that the walk can be driven without it.
static bool ChooseImageFolder(HWND window, wchar_t (&folderPath)[MAX_PATH])
{
    wchar_t displayName[MAX_PATH] = L"";
    BROWSEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.hwndOwner = window;
    info.pidlRoot = NULL;
    info.pszDisplayName = displayName;
    info.lpszTitle = L"Locate image folder...";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;

    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
    if (!list)
        return false;
    const BOOL found = SHGetPathFromIDListW(list, folderPath);
    CoTaskMemFree(list);
    return found != FALSE;
}

void WalkImageFolder(HWND window, const wchar_t *folderPath, UINT workerCount, UINT64 budgetBytes)
{
    wchar_t outputFolder[MAX_PATH];
    BatchListing listing;
    MemoryBudget budget;

    if (!JoinPath(outputFolder, folderPath, L"\\Resized"))
        return;
    CreateFolderWhole(outputFolder); // an existing "Resized" is used again
    DeleteLeftoverTempFiles(outputFolder);
    if (OpenBatchListing(&listing, folderPath, outputFolder))
    {
        // The machine stays awake while the batch runs, and may sleep again
        // once it ends.
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        StartMemoryBudget(&budget, budgetBytes);
        // Counted before the first file starts, for the window's title.
        BeginBatchProgress(window, folderPath);
        RunBatchWorkers(window, &listing, &budget, workerCount);
        SetThreadExecutionState(ES_CONTINUOUS);
    }
    CloseBatchListing(&listing);
}

void ResizeFolder(HWND window)
{
    wchar_t folderPath[MAX_PATH] = L"";
    if (!g_imaging || !g_imaging->factory)
        return;
    if (!ChooseImageFolder(window, folderPath))
        return;
    WalkImageFolder(window, folderPath);
}

void RunInWorkerApartment(HWND window, void (*batch)(HWND))
{
    // The folder browser needs a single-threaded apartment on its thread,
    // and on Windows the codecs are COM classes. A thread that already has
    // an apartment of another kind keeps it, and the batch runs there.
    const HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // Whatever the run throws ends the run, not the program; the apartment
    // is still left. The walk's workers made and released their own imaging
    // state; nothing made on this thread is alive any more.
    AnswerWithoutThrowing([&] {
        batch(window);
        return S_OK;
    });
    if (SUCCEEDED(hr))
        CoUninitialize();
}

void __cdecl BatchWorkerThread(void *argument)
{
    HWND window = static_cast<HWND>(argument);
    g_busy = true;
    g_workerThreadId = GetCurrentThreadId();
    SetCursor(LoadCursorW(NULL, IDC_WAIT));
    // Nothing thrown in the run gets past RunInWorkerApartment, so the
    // flags below always come down and the window can close.
    RunInWorkerApartment(window, ResizeFolder);
    g_workerThreadId = 0;
    // The window lowers g_busy and puts the cursor back when the end
    // reaches it, so no command queued meanwhile comes before its report.
    EndBatchProgress(window);
}

static BOOL CALLBACK CancelDialogWindow(HWND window, LPARAM)
{
    return AnswerWithoutThrowing(TRUE, [&]() -> BOOL {
        wchar_t className[16];
        if (GetClassNameW(window, className, 16) && wcscmp(className, L"#32770") == 0)
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    });
}

void CancelFolderBrowser()
{
    const DWORD thread = g_workerThreadId;
    if (thread)
        EnumThreadWindows(thread, CancelDialogWindow, 0);
}
