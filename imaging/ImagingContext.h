// The imaging layer: the one record through which the program reaches WIC,
// and the builders that turn a decoded frame into a preview and into a
// scaled 32bpp BGR source.
//
// Threads: a context belongs to the thread that made it, in that thread's
// COM apartment: the UI thread's (g_imaging) and one for every batch worker,
// each with its own factory and current source, so that no WIC object
// passes between threads. The builders run on the context's own thread.
// The UI thread's previewBitmap is the one on screen; a worker's preview
// reaches it through the slot of PreviewSlot.h.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <atomic>

// The preview box, into which previews are fitted; the main window's client
// area is made exactly this size.
const UINT PREVIEW_BOX_WIDTH = 284;
const UINT PREVIEW_BOX_HEIGHT = 160;

struct ImagingContext
{
    HBITMAP previewBitmap;           // latest preview (32bpp top-down DIB) or NULL; g_imaging's is painted by the UI thread, replaced under g_previewLock
    IWICImagingFactory *factory;     // made once by the owning thread, in its apartment
    IWICBitmapSource *currentSource; // frame being processed; used by the owning thread only
};

// Releases a COM reference if there is one and leaves the pointer NULL.
template <class T> inline void SafeRelease(T **unknown)
{
    if (*unknown)
    {
        (*unknown)->Release();
        *unknown = NULL;
    }
}

extern ImagingContext *g_imaging;           // the UI thread's; NULL until the first Open; written on the UI thread only
extern std::atomic<bool> g_imagingPending;  // creation not yet tried; cleared by the first Open
extern SRWLOCK g_previewLock;               // guards g_imaging's previewBitmap and the published preview: held only to replace, hand over or draw one, never across a call into a window

// Makes the context and its WIC factory on the first call; later calls do
// nothing. On failure the user is told and g_quitRequested is raised.
void CreateImagingContext();

// A batch worker's own context: its factory made in the calling thread's
// apartment, no current source, no preview. Tells nobody of a failure
// (a worker shows no message box); the caller frees it before it leaves
// its apartment.
HRESULT CreateThreadImagingContext(ImagingContext **context);

// Releases everything the context holds and frees the record.
void FreeImagingContext(ImagingContext *context);

// Makes frame (a decoded frame or the program's own copy of one) the
// context's current source, releasing the one before, and reads its size.
// On failure currentSource may be NULL.
HRESULT SetCurrentSource(ImagingContext *context, IWICBitmapSource *frame, UINT *width, UINT *height);

// The fit rule: the preview size of a W x H frame inside the preview box.
// A side may come out 0 for extreme shapes; nothing clamps it.
void ComputePreviewSize(UINT width, UINT height, UINT *previewWidth, UINT *previewHeight);

// Makes the frame the context's current source and returns a new 32bpp BGR
// source of preview size, shown the way orientation says and, for a frame
// with alpha, laid onto white; or NULL on any failure. The caller releases
// the result.
IWICBitmapSource *BuildPreviewSource(ImagingContext *context, IWICBitmapSource *frame, UINT orientation,
                                     bool hasAlpha);

// Scales the current source, as stored, to width x height (Fant). Without
// alpha the result is 32bpp BGR; with alpha it is scaled premultiplied and
// stays 32bpp PBGRA. However the caller pulls the result, the scaler is
// asked for its rows the way it serves them (RowPull.h). On failure
// *source is NULL.
HRESULT CreateScaledSource(ImagingContext *context, UINT width, UINT height, bool hasAlpha,
                           IWICBitmapSource **source);

// A 32bpp top-down DIB section, or NULL. *bits receives its pixel memory.
HBITMAP CreateTopDownDib(UINT width, UINT height, void **bits);

// Replaces the context's preview bitmap with the pixels of previewSource.
HRESULT UpdatePreviewBitmap(ImagingContext *context, IWICBitmapSource *previewSource);
