// The batch's progress on the taskbar button.
//
// Promises: nothing is asked of the taskbar before the window has received
// the registered message "TaskbarButtonCreated"; each time it comes (again
// after Explorer restarts) the list is made anew (CLSID_TaskbarList,
// HrInit first) on the UI thread and shown the current state. The state is
// normal progress done of total while a batch runs, the error state once
// an image has failed, and no progress when the batch ends or stops or the
// folder holds no file. The message is let through the window's message
// filter, so that it arrives when the program runs elevated too.
#pragma once

#include <windows.h>
#include <shobjidl.h>

// Makes the taskbar's list; the program makes CLSID_TaskbarList.
typedef HRESULT (*TaskbarListMaker)(ITaskbarList3 **list);

// How the list is made; UI thread. Tests give their own.
extern TaskbarListMaker g_makeTaskbarList;

// The registered message's id (the same in every process).
UINT TaskbarButtonCreatedMessage();

// At window creation: lets the message through the window's filter.
void AllowTaskbarButtonMessage(HWND window);

// The message came: a new list, shown the current state.
LRESULT OnTaskbarButtonCreated(HWND window);

// Normal progress done of total, or the error state when failed; no
// progress when total is 0.
void ShowTaskbarProgress(HWND window, UINT64 done, UINT64 total, bool failed);

// No progress.
void ClearTaskbarProgress(HWND window);

// At the end of the program, before COM is left.
void ReleaseTaskbarList();
