// How far the running batch is and what failed, gathered from the workers
// for the main window.
//
// Promises: before the first file starts, the coordinator counts the
// files of the folder's listing (not folders, not "Resized") and learns
// which names the installed decoders claim. Each worker notes what became
// of each entry it took; an entry counts as done whatever became of it,
// folders excepted. An entry is an image when a decoder read it or its
// name is claimed; only images that failed are named, so a file that is
// not an image is never mentioned. Everything is kept in one record
// guarded by g_batchProgressLock; the failures named are at most
// REPORT_MOST_LINES, however many fail. Workers never touch the window
// themselves: they post WM_BATCH_PROGRESS (at most one waits in the queue
// at a time), and the coordinator posts WM_BATCH_ENDED as its last act;
// the UI thread reads the record and lowers g_busy when the end reaches
// it. Where the end cannot reach the window (it is closing, or there is
// none), the coordinator lowers g_busy itself.
#pragma once

#include "FailureReport.h"

#include <windows.h>

#include <string>

// Posted to the main window: the record changed (wParam, lParam: 0).
const UINT WM_BATCH_PROGRESS = WM_APP + 20;
// Posted to the main window once the coordinator is done with the batch.
const UINT WM_BATCH_ENDED = WM_APP + 21;

// The counts the window shows.
struct BatchProgressView
{
    bool walking;       // a folder's listing was counted for this batch
    UINT64 filesTotal;  // files in the listing
    UINT64 filesDone;   // of those, finished whatever became of them
    UINT64 imagesFailed;
};

// UI thread, as it starts a batch: a fresh record with the decoders' names
// listed through a factory of this thread's own, and no end yet.
void ResetBatchProgress();

// Coordinator, before the first file starts: counts the files of
// folderPath and posts the first progress to window (NULL: none).
void BeginBatchProgress(HWND window, const wchar_t *folderPath);

// Worker: notes what became of the entry at fullPath (attributes as
// listed) whose copy was to be written to outputPath, and tells window.
void NoteFileOutcome(HWND window, const wchar_t *fullPath, DWORD attributes, const wchar_t *outputPath,
                     const FileOutcome &outcome);

// Coordinator, as its last act: posts WM_BATCH_ENDED to window, or lowers
// g_busy where the window cannot take it.
void EndBatchProgress(HWND window);

// True once the coordinator of the running batch is done with it.
bool BatchCoordinatorEnded();

// UI thread: the counts now; and lets the next worker post again.
BatchProgressView ReadBatchProgress();

// UI thread, at the end: the message naming the failed images, or empty
// when every image was resized. The record's failures are let go.
std::wstring TakeFailureReport();
