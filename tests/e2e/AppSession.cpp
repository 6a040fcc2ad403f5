#include "AppSession.h"

const wchar_t *const ABOUT_CAPTION = L"About Quillmere";
const wchar_t *const IMAGE_SIZE_CAPTION = L"Select change in image size...";
const wchar_t *const HOW_TO_USE_CAPTION = L"How to use...";
const wchar_t *const FOLDER_BROWSER_CAPTION = L"Browse for Folder";

static const DWORD POLL_MS = 20;
static const UINT SEND_TIMEOUT_MS = 5000;

DWORD ElapsedSince(DWORD startTick)
{
    return GetTickCount() - startTick;
}

std::wstring ToWindowsPath(const std::wstring &path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    typedef WCHAR *(CDECL * ToDosName)(const char *);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    ToDosName toDos = kernel ? reinterpret_cast<ToDosName>(
                                   reinterpret_cast<void *>(GetProcAddress(kernel, "wine_get_dos_file_name")))
                             : NULL;
    if (!toDos)
        return path;
    std::string narrow(path.size() * 4 + 1, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &narrow[0],
                                         static_cast<int>(narrow.size()), NULL, NULL);
    if (size <= 0)
        return path;
    WCHAR *dos = toDos(narrow.c_str());
    if (!dos)
        return path;
    std::wstring result = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}

namespace
{
struct WindowSearch
{
    DWORD processId;
    const wchar_t *className;
    const wchar_t *caption;
    HWND found;
    std::vector<std::wstring> captions;
};

bool WindowMatches(HWND window, const WindowSearch &search)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window))
        return false;
    wchar_t className[64];
    if (!GetClassNameW(window, className, 64) || wcscmp(className, search.className) != 0)
        return false;
    return true;
}

BOOL CALLBACK FindMatchingWindow(HWND window, LPARAM parameter)
{
    WindowSearch &search = *reinterpret_cast<WindowSearch *>(parameter);
    if (!WindowMatches(window, search))
        return TRUE;
    // The text of another process's window is read from the system's copy;
    // no message is sent, so a hung program cannot block this.
    wchar_t caption[256] = L"";
    GetWindowTextW(window, caption, 256);
    if (search.caption && wcscmp(caption, search.caption) != 0)
        return TRUE;
    search.found = window;
    search.captions.push_back(caption);
    return TRUE;
}

BOOL CALLBACK CollectControl(HWND control, LPARAM parameter)
{
    std::vector<ControlInfo> &controls = *reinterpret_cast<std::vector<ControlInfo> *>(parameter);
    ControlInfo info;
    info.window = control;
    info.id = static_cast<int>(static_cast<short>(GetDlgCtrlID(control)));
    wchar_t buffer[512] = L"";
    GetClassNameW(control, buffer, 512);
    info.className = buffer;
    buffer[0] = L'\0';
    GetWindowTextW(control, buffer, 512);
    info.text = buffer;
    const LONG type = GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    info.isPicture = _wcsicmp(info.className.c_str(), L"Static") == 0 &&
                     (type == SS_BITMAP || type == SS_ICON || type == SS_ENHMETAFILE);
    GetWindowRect(control, &info.rect);
    MapWindowPoints(NULL, GetParent(control), reinterpret_cast<POINT *>(&info.rect), 2);
    controls.push_back(info);
    return TRUE;
}
} // namespace

HWND FindTopWindow(DWORD processId, const wchar_t *className, const wchar_t *caption)
{
    WindowSearch search = {processId, className, caption, NULL, {}};
    EnumWindows(FindMatchingWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::wstring> ListDialogCaptions(DWORD processId)
{
    WindowSearch search = {processId, L"#32770", NULL, NULL, {}};
    EnumWindows(FindMatchingWindow, reinterpret_cast<LPARAM>(&search));
    return search.captions;
}

HWND WaitForDialog(DWORD processId, const wchar_t *caption, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        HWND dialog = FindTopWindow(processId, L"#32770", caption);
        if (dialog || ElapsedSince(start) >= timeoutMs)
            return dialog;
        Sleep(POLL_MS);
    }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (IsWindow(window))
    {
        if (ElapsedSince(start) >= timeoutMs)
            return false;
        Sleep(POLL_MS);
    }
    return true;
}

bool StartQuillmere(const std::wstring &program, RunningApp *app, DWORD timeoutMs)
{
    ZeroMemory(app, sizeof(*app));
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &app->process))
    {
        ZeroMemory(&app->process, sizeof(app->process));
        return false;
    }
    const DWORD start = GetTickCount();
    while (!app->window && ElapsedSince(start) < timeoutMs && IsRunning(*app))
    {
        app->window = FindTopWindow(app->process.dwProcessId, L"QUILLMERE", NULL);
        if (!app->window)
            Sleep(POLL_MS);
    }
    if (!app->window)
    {
        StopQuillmere(app);
        return false;
    }
    return true;
}

bool IsRunning(const RunningApp &app)
{
    return app.process.hProcess && WaitForSingleObject(app.process.hProcess, 0) == WAIT_TIMEOUT;
}

void StopQuillmere(RunningApp *app)
{
    if (app->process.hProcess)
    {
        if (IsRunning(*app))
        {
            TerminateProcess(app->process.hProcess, 99);
            WaitForSingleObject(app->process.hProcess, 5000);
        }
        CloseHandle(app->process.hThread);
        CloseHandle(app->process.hProcess);
    }
    ZeroMemory(app, sizeof(*app));
}

bool WaitForExit(const RunningApp &app, DWORD timeoutMs, DWORD *exitCode)
{
    if (!app.process.hProcess || WaitForSingleObject(app.process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(app.process.hProcess, &code);
    if (exitCode)
        *exitCode = code;
    return true;
}

void PostCommand(const RunningApp &app, WORD commandId)
{
    PostMessageW(app.window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result)
{
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                                             &answer);
    if (result)
        *result = static_cast<LRESULT>(answer);
    return sent != 0;
}

bool ClickDialogButton(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    return button && SendWithTimeout(button, BM_CLICK, 0, 0, NULL);
}

int ReadButtonCheck(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    LRESULT state = 0;
    if (!button || !SendWithTimeout(button, BM_GETCHECK, 0, 0, &state))
        return -1;
    return static_cast<int>(state);
}

std::vector<ControlInfo> ListDialogControls(HWND dialog)
{
    std::vector<ControlInfo> controls;
    EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&controls));
    return controls;
}

// Closes every How to use dialog the process shows; a late post can have
// opened a second one inside the first one's modal loop.
static bool CloseHowToUseDialogs(DWORD processId)
{
    const DWORD start = GetTickCount();
    while (ElapsedSince(start) < 3000)
    {
        HWND dialog = FindTopWindow(processId, L"#32770", HOW_TO_USE_CAPTION);
        if (!dialog)
            return true;
        ClickDialogButton(dialog, IDOK);
        WaitForWindowGone(dialog, 1000);
    }
    return false;
}

bool WaitUntilIdle(const RunningApp &app, DWORD timeoutMs)
{
    const DWORD processId = app.process.dwProcessId;
    const DWORD start = GetTickCount();
    while (ElapsedSince(start) < timeoutMs && IsRunning(app))
    {
        HWND dialog = FindTopWindow(processId, L"#32770", HOW_TO_USE_CAPTION);
        if (!dialog)
        {
            PostCommand(app, CMD_HOW_TO_USE);
            dialog = WaitForDialog(processId, HOW_TO_USE_CAPTION, 400);
        }
        if (dialog)
        {
            Sleep(100);
            return CloseHowToUseDialogs(processId);
        }
    }
    return false;
}
