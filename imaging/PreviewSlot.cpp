#include "PreviewSlot.h"

#include <atomic>

namespace
{
enum PreviewTurn
{
    TURN_FREE,      // a worker may claim the next preview once the cadence allows
    TURN_MAKING,    // one worker is making a preview
    TURN_PUBLISHED, // a preview waits in the slot for the window to take it
};

HBITMAP g_publishedPreview = NULL;            // made, not yet taken; guarded by g_previewLock; written by workers (publish) and the UI thread (take, discard)
std::atomic<LONG> g_previewTurn(TURN_FREE);   // a PreviewTurn; claimed by workers with a compare-exchange, freed by the claimant or the UI thread
std::atomic<DWORD> g_previewShownAt(0);       // GetTickCount when the preview on screen appeared; written by the UI thread
std::atomic<bool> g_previewEverShown(false);  // a preview has appeared, so the cadence's clock runs; written by the UI thread
} // namespace

bool ClaimPreviewTurn()
{
    LONG expected = TURN_FREE;
    if (!g_previewTurn.compare_exchange_strong(expected, TURN_MAKING))
        return false;
    // Read after the claim: the turn is freed only once the clock is set.
    // Unsigned difference: correct across the clock's wrap.
    if (g_previewEverShown && GetTickCount() - g_previewShownAt < PREVIEW_CADENCE_MS)
    {
        g_previewTurn = TURN_FREE;
        return false;
    }
    return true;
}

void PublishPreview(HWND window, HBITMAP *bitmap)
{
    if (!*bitmap)
    {
        ReturnPreviewTurn();
        return;
    }
    AcquireSRWLockExclusive(&g_previewLock);
    HBITMAP stale = g_publishedPreview;
    g_publishedPreview = *bitmap;
    g_previewTurn = TURN_PUBLISHED; // under the lock, so that a take in between cannot miss it
    ReleaseSRWLockExclusive(&g_previewLock);
    *bitmap = NULL;
    if (stale)
        DeleteObject(stale);
    // Only queued: the worker goes on while the window paints when it can.
    if (window)
        InvalidateRect(window, NULL, FALSE);
}

void ReturnPreviewTurn()
{
    g_previewTurn = TURN_FREE;
}

void TakePublishedPreview(ImagingContext *shown)
{
    HBITMAP old = NULL;
    AcquireSRWLockExclusive(&g_previewLock);
    if (g_publishedPreview)
    {
        old = shown->previewBitmap;
        shown->previewBitmap = g_publishedPreview;
        g_publishedPreview = NULL;
        g_previewShownAt = GetTickCount();
        g_previewEverShown = true;
        g_previewTurn = TURN_FREE;
    }
    ReleaseSRWLockExclusive(&g_previewLock);
    if (old)
        DeleteObject(old);
}

void DiscardPublishedPreview()
{
    AcquireSRWLockExclusive(&g_previewLock);
    HBITMAP stale = g_publishedPreview;
    g_publishedPreview = NULL;
    g_previewTurn = TURN_FREE;
    ReleaseSRWLockExclusive(&g_previewLock);
    if (stale)
        DeleteObject(stale);
}
