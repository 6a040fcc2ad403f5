// Painting of the main window's client area: white, with one bitmap
// copied unscaled to its top-left corner.
#pragma once

#include <windows.h>

// WM_PAINT while an imaging context exists: the latest preview, or the
// emblem when there is none. Returns 0 when a bitmap was drawn, else 1.
int PaintPreview(HWND window);

// WM_PAINT before any imaging context exists: the emblem.
int PaintSplash(HWND window);
