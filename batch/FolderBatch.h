// The folder batch: one whole run over a folder chosen in the Shell's
// folder browser, on a worker thread of its own, writing into "Resized".
//
// Entries are handed to the per-image pipeline at no more than one per
// PACING_MS; the walk stops at g_quitRequested. Nothing is reported.
#pragma once

#include <windows.h>

#include <atomic>

const DWORD PACING_MS = 60;

// Id of the thread inside BatchWorkerThread, 0 when none; written by the worker.
extern std::atomic<DWORD> g_workerThreadId;

// Thread body (for _beginthread); argument: the main window. Holds g_busy
// raised for its whole life and lowers it as its last act.
void __cdecl BatchWorkerThread(void *window);

// Runs batch(window) in a single-threaded COM apartment of the calling
// thread's own, entered first and left last; what batch makes of COM it
// must release before it returns. Whatever batch throws stops here.
void RunInWorkerApartment(HWND window, void (*batch)(HWND));

// One run: asks for a folder, then walks it. Does nothing without a
// ready imaging context.
void ResizeFolder(HWND window);

// The walk over one folder, without asking for it: creates
// folderPath\Resized, makes folderPath the current directory while it
// resizes every entry into it, paced and stopping at the quit flag, and
// puts the process's current directory back when it ends.
void WalkImageFolder(HWND window, const wchar_t *folderPath);


// dst = a + b + c, or false, leaving dst untouched, when the result would
// not fit MAX_PATH: paths are never cut short.
bool JoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t *a, const wchar_t *b, const wchar_t *c = L"");

// Asks the worker's folder browser, if one is open, to close as if the user
// had cancelled it. Called by the UI thread at shutdown.
void CancelFolderBrowser();
