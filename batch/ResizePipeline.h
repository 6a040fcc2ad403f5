// The per-image pipeline: one input file becomes one resized output file,
// with its preview shown in the main window on the way.
//
// Runs on the batch worker. The full-size image reaches the writer as a
// chain of sources (frame, scaler, converter); only the preview is copied.
#pragma once

#include <windows.h>
#include <wincodec.h>

// Decodes frame 0 of fullPath, shows its preview in window (NULL: nothing
// shows it), scales it by g_scaleFactor and writes it to outputPath.
// Returns the first failure, else a success code; a failed write still
// counts as success, because the batch goes on either way.
HRESULT ResizeImageFile(HWND window, const wchar_t *fullPath, const wchar_t *outputPath);

// The target side for a side of `side` pixels at scale: W x s with halves
// going up, as floor(single(W x s + 0.5)). False when the result does not
// fit 32 bits.
bool ComputeTargetSide(UINT side, float scale, UINT *target);

// True exactly when format is GUID_WICPixelFormat32bppBGR.
bool IsBgr32Format(REFGUID format);

// Removes and dispatches every message waiting in the calling thread's queue.
void PumpPendingMessages();
