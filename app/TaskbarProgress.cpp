#include "TaskbarProgress.h"

#include "imaging/ImagingContext.h"

namespace
{
HRESULT MakeSystemTaskbarList(ITaskbarList3 **list)
{
    return CoCreateInstance(CLSID_TaskbarList, NULL, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                            reinterpret_cast<void **>(list));
}

// What the button shows, kept so that a new button is shown it at once.
struct TaskbarState
{
    UINT64 done, total;
    bool failed;
    bool shown; // a batch's progress is up
};

ITaskbarList3 *g_taskbarList = NULL; // made after "TaskbarButtonCreated"; UI thread only
TaskbarState g_taskbarState;         // the state last asked for; UI thread only

void ApplyTaskbarState(HWND window)
{
    if (!g_taskbarList)
        return;
    const TaskbarState &state = g_taskbarState;
    if (!state.shown || state.total == 0)
    {
        g_taskbarList->SetProgressState(window, TBPF_NOPROGRESS);
        return;
    }
    // The state first: setting a value while none is shown would show normal progress.
    g_taskbarList->SetProgressState(window, state.failed ? TBPF_ERROR : TBPF_NORMAL);
    g_taskbarList->SetProgressValue(window, state.done < state.total ? state.done : state.total, state.total);
}
} // namespace

TaskbarListMaker g_makeTaskbarList = MakeSystemTaskbarList;

UINT TaskbarButtonCreatedMessage()
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void AllowTaskbarButtonMessage(HWND window)
{
    ChangeWindowMessageFilterEx(window, TaskbarButtonCreatedMessage(), MSGFLT_ALLOW, NULL);
}

LRESULT OnTaskbarButtonCreated(HWND window)
{
    ITaskbarList3 *list = NULL;
    ReleaseTaskbarList();
    HRESULT hr = g_makeTaskbarList(&list);
    if (FAILED(hr))
        goto Cleanup;
    hr = list->HrInit();
    if (FAILED(hr))
        goto Cleanup;
    g_taskbarList = list;
    list = NULL;
    ApplyTaskbarState(window);

Cleanup:
    SafeRelease(&list);
    return 0;
}

void ShowTaskbarProgress(HWND window, UINT64 done, UINT64 total, bool failed)
{
    const TaskbarState state = {done, total, failed, true};
    g_taskbarState = state;
    ApplyTaskbarState(window);
}

void ClearTaskbarProgress(HWND window)
{
    g_taskbarState.shown = false;
    ApplyTaskbarState(window);
}

void ReleaseTaskbarList()
{
    SafeRelease(&g_taskbarList);
}
