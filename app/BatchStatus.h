// What the main window tells of a running batch: its title, its taskbar
// button, a flash when the batch ends in the background, and the one
// message naming the images that failed.
//
// Promises: everything here runs on the UI thread, from the window
// procedure. While a batch runs the title reads "<done> of <total> -
// Quillmere", after Esc "Stopping - Quillmere" until the workers are done,
// and "Quillmere" again when the batch has ended. At the end the busy flag
// is lowered and the cursor put back first, then the button flashes when
// the window is not in front, then, if any image failed and the window is
// not closing, one warning box (owner the window, caption "Quillmere",
// OK) names them. A batch where every image was resized ends without a
// word.
#pragma once

#include <windows.h>

// Open, before the coordinator starts: a fresh count, no stop asked for.
void PrepareBatchStatus();

// WM_BATCH_PROGRESS: the title and the taskbar follow the workers' counts.
LRESULT OnBatchProgress(HWND window);

// WM_BATCH_ENDED: as promised above.
LRESULT OnBatchEnded(HWND window);

// WM_KEYDOWN: Esc during a batch stops it, and the program stays open.
LRESULT OnKeyDown(HWND window, WPARAM key, LPARAM lParam);
