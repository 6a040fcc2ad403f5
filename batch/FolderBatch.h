// The folder batch: one whole run over a folder chosen in the Shell's
// folder browser, on a coordinating thread of its own, writing into
// "Resized".
//
// The coordinator asks for the folder and lists it; a pool of workers
// (BatchPool.h) takes the entries in the listing's order, with no wait
// between them; the walk starts no new file once g_quitRequested is raised.
// The workers' progress and failures reach the window through
// BatchProgress.h; the process's current directory is never touched.
#pragma once

#include "BatchListing.h"

#include <windows.h>

#include <atomic>

// Id of the thread inside BatchWorkerThread, 0 when none; written by that thread.
extern std::atomic<DWORD> g_workerThreadId;

// Thread body (for _beginthread) of the coordinator; argument: the main
// window. Holds g_busy raised for its whole life; as its last act it posts
// the end to the window, which lowers g_busy (BatchProgress.h), or lowers
// it itself where the window cannot take the end.
void __cdecl BatchWorkerThread(void *window);

// Runs batch(window) in a single-threaded COM apartment of the calling
// thread's own, entered first and left last; what batch makes of COM it
// must release before it returns. Whatever batch throws stops here.
void RunInWorkerApartment(HWND window, void (*batch)(HWND));

// One run: asks for a folder, then walks it. Does nothing without a
// ready imaging context.
void ResizeFolder(HWND window);

// The walk over one folder (a full path), without asking for it: creates
// folderPath\Resized and resizes every entry into it with workerCount
// workers (0: one per processor the process may run on) within a memory
// budget of budgetBytes (0: DefaultMemoryBudget()), keeping the machine
// awake meanwhile. Returns once every worker has ended; the calling
// thread's messages are served meanwhile.
void WalkImageFolder(HWND window, const wchar_t *folderPath, UINT workerCount = 0, UINT64 budgetBytes = 0);

// Asks the worker's folder browser, if one is open, to close as if the user
// had cancelled it. Called by the UI thread at shutdown.
void CancelFolderBrowser();
