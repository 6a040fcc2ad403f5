// How a preview made on a batch worker reaches the window.
//
// Promises: a worker never touches the bitmap on screen and never waits for
// the window. It makes a preview only when the cadence asks for one (no
// other worker is making one, none waits to be shown, and the one on screen
// appeared at least PREVIEW_CADENCE_MS ago), hands the finished DIB section
// over through one slot guarded by g_previewLock, and asks the window to
// repaint. The UI thread takes it from the slot when it paints, becomes its
// owner, and deletes the one it showed before. So most files of a fast
// batch make no preview at all, and the last one made stays on screen.
#pragma once

#include "ImagingContext.h"

// The shortest time a preview stays on screen before a worker makes the
// next: long enough to be seen ("wait until previews stop flashing by").
const DWORD PREVIEW_CADENCE_MS = 60;

// True when the calling worker is to make the next preview; it then ends
// its turn with PublishPreview or, when making it failed, ReturnPreviewTurn.
bool ClaimPreviewTurn();

// Hands *bitmap (a filled DIB section; NULL is allowed) to the window and
// leaves *bitmap NULL, ending the turn; window is asked to repaint. A
// preview that was published before and not yet taken is deleted.
void PublishPreview(HWND window, HBITMAP *bitmap);

// Ends a turn that produced no preview.
void ReturnPreviewTurn();

// UI thread: when a preview waits in the slot, makes it shown's
// previewBitmap, deletes the one before and starts the cadence's clock.
void TakePublishedPreview(ImagingContext *shown);

// Deletes a preview that nobody took (at exit, after every worker ended).
void DiscardPublishedPreview();
