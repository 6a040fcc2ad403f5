#include "MainWindow.h"

#include "BatchStatus.h"
#include "Dialogs.h"
#include "Painting.h"
#include "TaskbarProgress.h"
#include "batch/BatchProgress.h"
#include "batch/FolderBatch.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"
#include "imaging/PreviewSlot.h"
#include "imaging/SharedFlags.h"
#include "resource.h"

#include <process.h>

HINSTANCE g_hInstance = NULL;      // module whose resources are loaded; UI thread
static wchar_t g_titleText[100];       // window title from the string table; UI thread
static wchar_t g_windowClassName[100]; // window class name from the string table; UI thread

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(ID_ICON_MAIN));
    windowClass.hCursor = NULL;        // set on every WM_SETCURSOR
    windowClass.hbrBackground = NULL;  // each paint fills the whole client area itself
    windowClass.lpszMenuName = MAKEINTRESOURCEW(ID_MENU_MAIN);
    windowClass.lpszClassName = g_windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(ID_ICON_SMALL));
    RegisterClassExW(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int showState)
{
    g_hInstance = instance;
    // The client area is exactly the preview box. The frame's true thickness
    // (padded borders included) is known only to the system, so let it size
    // the window around the client area.
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    RECT frame = {0, 0, PREVIEW_BOX_WIDTH, PREVIEW_BOX_HEIGHT};
    AdjustWindowRectEx(&frame, style, TRUE, 0);

    HWND window = CreateWindowExW(0, g_windowClassName, g_titleText, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, instance, NULL);
    if (!window)
        return false;
    ShowWindow(window, showState);
    UpdateWindow(window);
    return true;
}

void __cdecl StartupRepaintThread(void *argument)
{
    HWND window = static_cast<HWND>(argument);
    AnswerWithoutThrowing([&] {
        Sleep(50);
        RECT client;
        GetClientRect(window, &client);
        InvalidateRect(window, &client, FALSE);
        return S_OK;
    });
}

static void ShowDialog(HWND window, int templateId, DLGPROC procedure)
{
    DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(templateId), window, procedure, 0);
}

static void StartBatch(HWND window)
{
    CreateImagingContext();
    if (g_quitRequested)
        return;
    PrepareBatchStatus();
    // Busy from here on, so that no second Open slips in before the worker
    // raises the flag itself.
    g_busy = true;
    if (_beginthread(BatchWorkerThread, 0, window) == static_cast<uintptr_t>(-1))
        g_busy = false;
}

static void ExitApplication(HWND window)
{
    g_quitRequested = true;
    DestroyWindow(window);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (g_busy)
        return 0;
    switch (LOWORD(wParam))
    {
    case ID_CMD_ABOUT:       ShowDialog(window, ID_DLG_ABOUT, SimpleDialogProc); return 0;
    case ID_CMD_EXIT:        ExitApplication(window); return 0;
    case ID_CMD_OPEN:        StartBatch(window); return 0;
    case ID_CMD_IMAGE_SIZE:  ShowDialog(window, ID_DLG_IMAGE_SIZE, ImageSizeDialogProc); return 0;
    case ID_CMD_HOW_TO_USE:  ShowDialog(window, ID_DLG_HOW_TO_USE, SimpleDialogProc); return 0;
    }
    return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

static LRESULT OnCreate(HWND window)
{
    AllowTaskbarButtonMessage(window);
    _beginthread(StartupRepaintThread, 0, window);
    return 0;
}

static LRESULT OnDestroy()
{
    g_quitRequested = true;
    // Gives a running walk the chance to see the flag between files.
    Sleep(100);
    PostQuitMessage(0);
    return 0;
}

static LRESULT OnSetCursor()
{
    SetCursor(LoadCursorW(NULL, g_busy ? IDC_WAIT : IDC_ARROW));
    return 0;
}

// Messages whose ids are known only at run time, then the default.
static LRESULT OnOtherMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TaskbarButtonCreatedMessage())
        return OnTaskbarButtonCreated(window);
    return DefWindowProcW(window, message, wParam, lParam);
}

static LRESULT HandleMainWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:    return OnCreate(window);
    case WM_DESTROY:   return OnDestroy();
    case WM_PAINT:     return g_imaging ? PaintPreview(window) : PaintSplash(window);
    case WM_SETCURSOR: return OnSetCursor();
    case WM_COMMAND:   return OnCommand(window, wParam, lParam);
    case WM_KEYDOWN:   return OnKeyDown(window, wParam, lParam);
    case WM_BATCH_PROGRESS: return OnBatchProgress(window);
    case WM_BATCH_ENDED:    return OnBatchEnded(window);
    }
    return OnOtherMessage(window, message, wParam, lParam);
}

// A message whose handling throws gets the system's default answer: a
// paint still validates the window (else WM_PAINT would come again and
// again), a command does nothing. No handler raises a flag that a throw
// could leave up, and WM_DESTROY posts its quit message through nothing
// that can throw.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT answer = 0;
    const bool handled = AnswerWithoutThrowing(false, [&] {
        answer = HandleMainWindowMessage(window, message, wParam, lParam);
        return true;
    });
    return handled ? answer : DefWindowProcW(window, message, wParam, lParam);
}

// The context and COM must outlive the worker: wait until it has finished
// the entry in progress. A folder browser still open is cancelled, and
// messages sent by the worker are served meanwhile.
static void WaitForBatchWorker()
{
    // A coordinator that is done may have posted its end to a window that
    // is gone: nobody is left to lower g_busy then.
    while (g_busy && !BatchCoordinatorEnded())
    {
        CancelFolderBrowser();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

int RunApplication(HINSTANCE instance, HINSTANCE, PWSTR, int showState)
{
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
        return 1;
    LoadStringW(instance, ID_STR_TITLE, g_titleText, 100);
    LoadStringW(instance, ID_STR_CLASS, g_windowClassName, 100);
    RegisterMainWindowClass(instance);
    if (!CreateMainWindow(instance, showState))
    {
        CoUninitialize();
        return 0;
    }

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(ID_MENU_MAIN));
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0)
    {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    WaitForBatchWorker();
    DiscardPublishedPreview();
    ReleaseTaskbarList();
    if (g_imaging)
        FreeImagingContext(g_imaging);
    CoUninitialize();
    return static_cast<int>(message.wParam);
}
