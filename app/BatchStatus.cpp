#include "BatchStatus.h"

#include "MainWindow.h"
#include "TaskbarProgress.h"
#include "batch/BatchProgress.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/SharedFlags.h"
#include "resource.h"

#include <string>

namespace
{
// The program's own title, "Quillmere", from the string table.
std::wstring ProgramTitle()
{
    wchar_t title[100] = L"";
    LoadStringW(g_hInstance, ID_STR_TITLE, title, 100);
    return title;
}

void ShowProgressTitle(HWND window, const BatchProgressView &view)
{
    const std::wstring title = g_stopRequested ? L"Stopping - " + ProgramTitle()
                                               : std::to_wstring(view.filesDone < view.filesTotal ? view.filesDone
                                                                                                 : view.filesTotal) +
                                                     L" of " + std::to_wstring(view.filesTotal) + L" - " +
                                                     ProgramTitle();
    SetWindowTextW(window, title.c_str());
}

// Windows' sign that work finished in the background: the button flashes
// until the window comes to the front.
void FlashIfInBackground(HWND window)
{
    if (GetForegroundWindow() == window)
        return;
    FLASHWINFO flash;
    ZeroMemory(&flash, sizeof(flash));
    flash.cbSize = sizeof(flash);
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

void ShowFailureReport(HWND window)
{
    const std::wstring report = TakeFailureReport();
    if (report.empty() || g_quitRequested)
        return;
    MessageBoxW(window, report.c_str(), ProgramTitle().c_str(), MB_ICONWARNING | MB_OK);
}
} // namespace

void PrepareBatchStatus()
{
    g_stopRequested = false;
    ResetBatchProgress();
}

LRESULT OnBatchProgress(HWND window)
{
    return AnswerWithoutThrowing(LRESULT(0), [&] {
        const BatchProgressView view = ReadBatchProgress();
        // Progress still on its way after the end or a stop changes nothing.
        if (!g_busy || !view.walking)
            return LRESULT(0);
        ShowProgressTitle(window, view);
        if (!g_stopRequested)
            ShowTaskbarProgress(window, view.filesDone, view.filesTotal, view.imagesFailed > 0);
        return LRESULT(0);
    });
}

LRESULT OnBatchEnded(HWND window)
{
    return AnswerWithoutThrowing(LRESULT(0), [&] {
        const BatchProgressView view = ReadBatchProgress();
        // Commands count again from here; any queued before this message
        // were dropped while busy, and the box comes before any after it.
        g_busy = false;
        SetCursor(LoadCursorW(NULL, IDC_ARROW));
        SetWindowTextW(window, ProgramTitle().c_str());
        ClearTaskbarProgress(window);
        if (view.walking)
            FlashIfInBackground(window);
        ShowFailureReport(window);
        return LRESULT(0);
    });
}

LRESULT OnKeyDown(HWND window, WPARAM key, LPARAM lParam)
{
    if (key != VK_ESCAPE || !g_busy)
        return DefWindowProcW(window, WM_KEYDOWN, key, lParam);
    return AnswerWithoutThrowing(LRESULT(0), [&] {
        if (g_stopRequested || BatchCoordinatorEnded())
            return LRESULT(0);
        g_stopRequested = true;
        const std::wstring title = L"Stopping - " + ProgramTitle();
        SetWindowTextW(window, title.c_str());
        ClearTaskbarProgress(window);
        return LRESULT(0);
    });
}
