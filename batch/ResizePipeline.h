// The per-image pipeline: one input file becomes one resized output file,
// with its preview shown in the main window on the way.
//
// Runs on the thread that owns the context it is given (a batch worker, or
// the caller's own thread with g_imaging). The full-size image reaches the
// writer as a chain of sources (frame, scaler, converter); only the preview
// is copied.
#pragma once

#include "MemoryBudget.h"
#include "imaging/ImagingContext.h"

// Where the preview of one file goes.
enum PreviewCadence
{
    PREVIEW_EVERY_FILE, // into the context's previewBitmap, window repainted before the write (the caller's own context)
    PREVIEW_WHEN_DUE,   // a batch worker's: made only when the cadence asks and handed to window (PreviewSlot.h)
};

// Decodes frame 0 of fullPath, makes its preview as cadence says (window
// NULL: nothing shows it, and a worker makes none), scales it by
// g_scaleFactor and writes it to outputPath. Returns the first failure,
// else a success code; a failed write still counts as success, because the
// batch goes on either way. With PREVIEW_EVERY_FILE a preview that cannot
// be made leaves the file unwritten; a worker's failed preview costs only
// the preview, so that whether a copy is written never depends on timing.
// With an admission, nothing is decoded before the budget admits the file
// (admission->admitted; the caller releases what it reserved); a stop
// while it waits answers E_ABORT.
HRESULT ResizeImageFileIn(ImagingContext *context, HWND window, PreviewCadence cadence, FileAdmission *admission,
                          const wchar_t *fullPath, const wchar_t *outputPath);

// ResizeImageFileIn with g_imaging and a preview of every file.
HRESULT ResizeImageFile(HWND window, const wchar_t *fullPath, const wchar_t *outputPath);

// The target side for a side of `side` pixels at scale: W x s with halves
// going up, as floor(single(W x s + 0.5)). False when the result does not
// fit 32 bits.
bool ComputeTargetSide(UINT side, float scale, UINT *target);

// True exactly when format is GUID_WICPixelFormat32bppBGR.
bool IsBgr32Format(REFGUID format);

// Removes and dispatches every message waiting in the calling thread's queue.
void PumpPendingMessages();
