// A picture large enough to keep a closing program open for seconds is
// given up instead of finished.
//
// Promises: the stoppable source passes every request on to the source it
// wraps until g_quitRequested is raised; from then on each CopyPixels
// answers E_ABORT, so the encoder pulling it fails between two bands and
// the writer keeps nothing of the copy. Pixels it hands out are the inner
// source's, unchanged.
#pragma once

#include <windows.h>
#include <wincodec.h>

// Frames of at least this many pixels (100 MP: several seconds of work
// under Wine) are written through a stoppable source.
const UINT64 STOPPABLE_FRAME_PIXELS = 100000000;

// Replaces *source by a stoppable source in front of it, which holds its
// own reference; on failure *source is left as it was.
HRESULT CreateStoppableSource(IWICBitmapSource **source);
