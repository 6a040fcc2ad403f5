#include "Painting.h"

#include "MainWindow.h"
#include "imaging/ImagingContext.h"
#include "imaging/PreviewSlot.h"
#include "resource.h"

static void FillClientWhite(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, NULL, 0, 0, WHITENESS);
}

// Copies bitmap at its own size to the top-left corner; 0 when it was drawn.
static int DrawBitmapAtOrigin(HDC dc, HBITMAP bitmap)
{
    int result = 1;
    HDC memory = CreateCompatibleDC(NULL);
    if (!memory)
        return result;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BITMAP info;
    if (previous && GetObjectW(bitmap, sizeof(info), &info) == static_cast<int>(sizeof(info)))
    {
        BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        result = 0;
    }
    DeleteDC(memory);
    return result;
}

// Loaded for each paint and deleted again: nothing is cached.
static int DrawEmblem(HDC dc)
{
    HBITMAP emblem = LoadBitmapW(g_hInstance, MAKEINTRESOURCEW(ID_BMP_EMBLEM));
    if (!emblem)
        return 1;
    const int result = DrawBitmapAtOrigin(dc, emblem);
    DeleteObject(emblem);
    return result;
}

int PaintPreview(HWND window)
{
    ImagingContext *context = g_imaging;
    PAINTSTRUCT paint;
    int result = 1;
    bool hasPreview = false;

    HDC dc = BeginPaint(window, &paint);
    if (dc)
    {
        FillClientWhite(window, dc);
        // A preview a worker has finished since the last paint is taken over
        // now; this thread alone replaces and deletes the one it shows.
        TakePublishedPreview(context);
        AcquireSRWLockShared(&g_previewLock);
        if (context->previewBitmap)
        {
            hasPreview = true;
            result = DrawBitmapAtOrigin(dc, context->previewBitmap);
        }
        ReleaseSRWLockShared(&g_previewLock);
        if (!hasPreview)
            result = DrawEmblem(dc);
    }
    EndPaint(window, &paint);
    return result;
}

int PaintSplash(HWND window)
{
    PAINTSTRUCT paint;
    int result = 1;
    HDC dc = BeginPaint(window, &paint);
    if (dc)
    {
        FillClientWhite(window, dc);
        result = DrawEmblem(dc);
    }
    EndPaint(window, &paint);
    return result;
}
