// Drives the real Quillmere.exe from another process: starts it, finds its
// window and dialogs, posts commands, and stops it again. Every wait is
// bounded, and every message sent across processes has a timeout, so a
// hung program fails a check instead of hanging the caller.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The program's command ids, as its menu and accelerators send them. The
// tests keep their own copy: a changed id in the program must show up here.
const WORD CMD_ABOUT = 104;
const WORD CMD_EXIT = 105;
const WORD CMD_OPEN = 32771;
const WORD CMD_IMAGE_SIZE = 32773;
const WORD CMD_HOW_TO_USE = 32774;

// Dialog captions.
extern const wchar_t *const ABOUT_CAPTION;
extern const wchar_t *const IMAGE_SIZE_CAPTION;
extern const wchar_t *const HOW_TO_USE_CAPTION;
extern const wchar_t *const FOLDER_BROWSER_CAPTION;

struct RunningApp
{
    PROCESS_INFORMATION process; // zero when nothing runs
    HWND window;                 // the main window, once found
};

// Turns a host path given on the command line or in the environment into
// one this process can open. Under Wine a path starting with "/" is a host
// path; Wine's kernel32 translates it. Anything else is returned unchanged.
std::wstring ToWindowsPath(const std::wstring &path);

// Starts the program and waits until its visible main window (class
// QUILLMERE, owned by the new process) exists. False, with nothing left
// running, when it cannot be started or shows no window in time.
bool StartQuillmere(const std::wstring &program, RunningApp *app, DWORD timeoutMs);

// Ends the program if it still runs and closes the handles. Safe to call twice.
void StopQuillmere(RunningApp *app);

bool IsRunning(const RunningApp &app);

// Waits for the process to end; false on timeout. exitCode may be NULL.
bool WaitForExit(const RunningApp &app, DWORD timeoutMs, DWORD *exitCode);

// Posts WM_COMMAND with this id to the main window, as a menu item would.
void PostCommand(const RunningApp &app, WORD commandId);

// The visible top-level window of this process with this class and, if
// caption is not NULL, this exact caption; NULL if there is none.
HWND FindTopWindow(DWORD processId, const wchar_t *className, const wchar_t *caption);

// Polls FindTopWindow for a dialog (class #32770) until it appears.
HWND WaitForDialog(DWORD processId, const wchar_t *caption, DWORD timeoutMs);

// Captions of every visible dialog (class #32770) the process shows.
std::vector<std::wstring> ListDialogCaptions(DWORD processId);

// Waits until the window no longer exists; false on timeout.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

// Sends a message with a timeout; false when the receiver did not answer.
bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

// Clicks the button with this id inside a dialog (BM_CLICK).
bool ClickDialogButton(HWND dialog, int controlId);

// Check state (BST_*) of a check box or radio button; -1 when it cannot be read.
int ReadButtonCheck(HWND dialog, int controlId);

struct ControlInfo
{
    HWND window;
    int id;
    std::wstring className;
    std::wstring text;
    RECT rect; // in the dialog's client coordinates
    bool isPicture; // a static control showing a bitmap or icon; its text is the resource id
};

// The dialog's child controls, in creation order.
std::vector<ControlInfo> ListDialogControls(HWND dialog);

// Waits until commands are accepted again, that is until no batch runs:
// posts How to use and waits for its dialog; a busy window drops the
// command. The dialog is closed again before returning. Gives up after
// timeoutMs. The main window must not have another dialog open.
bool WaitUntilIdle(const RunningApp &app, DWORD timeoutMs);

// Milliseconds since the first call; for bounded polling loops.
DWORD ElapsedSince(DWORD startTick);
