// QuillmereDriver: runs one folder through the real Quillmere window, as a
// user would, for demonstrations and screenshots.
//
//   QuillmereDriver resize <Quillmere.exe> <folder> [percent]
//       starts the program, picks the size (10, 25, 50, 75, 125 or 150;
//       25 if not given) in Options > Image size, chooses the folder in
//       File > Open's folder browser, waits until the batch has ended and
//       lists what is in <folder>\Resized, with how long after the folder
//       was chosen the browser closed, the first and the last copy appeared
//       and the title said the batch had ended. The program is left
//       running, showing its last preview.
//   QuillmereDriver close
//       closes the running program's window and waits for it to end; the
//       driver's exit status is the program's.
#include "AppSession.h"
#include "FolderBrowser.h"

#include <stdio.h>

#include <atomic>
#include <string>

namespace
{
const DWORD TIMEOUT_MS = 20000;

int Fail(RunningApp *app, const char *message)
{
    fprintf(stderr, "QuillmereDriver: %s\n", message);
    if (app)
        StopQuillmere(app);
    return 1;
}

bool ChooseSize(const RunningApp &app, int percent)
{
    const int percents[] = {10, 25, 50, 75, 125, 150};
    int controlId = 0;
    for (int i = 0; i < 6; ++i)
        if (percents[i] == percent)
            controlId = 1001 + i;
    if (!controlId)
        return false;
    PostCommand(app, CMD_IMAGE_SIZE);
    HWND dialog = WaitForDialog(app.process.dwProcessId, IMAGE_SIZE_CAPTION, TIMEOUT_MS);
    return dialog && ClickDialogButton(dialog, controlId) && ClickDialogButton(dialog, IDOK) &&
           WaitForWindowGone(dialog, TIMEOUT_MS);
}

// Copies in a "Resized" folder, temporary files left out.
size_t CountCopies(const std::wstring &resized)
{
    size_t copies = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((resized + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
    {
        const size_t length = wcslen(entry.cFileName);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(length > 4 && _wcsicmp(entry.cFileName + length - 4, L".tmp") == 0))
            ++copies;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return copies;
}

// When the folder browser went away, the number of copies first and last
// changed and the title said the batch had ended, from the moment the
// folder was chosen: where a batch's time goes through the window, beside
// what the program's own clock measures.
struct CopyWatch
{
    std::wstring resized;
    HWND browser, window;
    DWORD start;
    HANDLE ended;                  // set once the title is the program's name again
    std::atomic<bool> stop{false}, counting{false}; // counting: the title has counted files
    std::atomic<DWORD> browserGoneMs{0}, firstChangeMs{0}, lastChangeMs{0}, endedMs{0};
};

// Every look at the folder costs the workers a little of a 2-core machine
// (measured: listing it every 5 ms added 100 to 250 ms to a 13-photo
// batch), so the folder is listed every 40 ms; the window and its title
// cost one question each and are looked at every 5 ms.
const DWORD LISTING_EVERY_MS = 40, LOOK_EVERY_MS = 5;

DWORD WINAPI WatchCopies(void *argument)
{
    CopyWatch *watch = static_cast<CopyWatch *>(argument);
    size_t seen = 0;
    for (DWORD look = 0; !watch->stop; ++look)
    {
        wchar_t title[64] = L"";
        GetWindowTextW(watch->window, title, 64);
        const DWORD now = GetTickCount() - watch->start;
        if (!watch->browserGoneMs && !IsWindow(watch->browser))
            watch->browserGoneMs = now;
        // While a batch runs the title counts its files ("3 of 13 - ...").
        const bool named = wcscmp(title, L"Quillmere") == 0;
        if (!named)
            watch->counting = true;
        const bool ended = watch->counting && named;
        if (ended || look % (LISTING_EVERY_MS / LOOK_EVERY_MS) == 0)
        {
            const size_t copies = CountCopies(watch->resized);
            if (copies != seen)
            {
                if (!seen)
                    watch->firstChangeMs = now;
                seen = copies;
                watch->lastChangeMs = now;
            }
        }
        if (ended && !watch->endedMs)
        {
            watch->endedMs = now;
            SetEvent(watch->ended);
        }
        Sleep(LOOK_EVERY_MS);
    }
    return 0;
}

void PrintOutputs(const std::wstring &resized)
{
    printf("Outputs in %ls:\n", resized.c_str());
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((resized + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            printf("  %ls (%lu bytes)\n", entry.cFileName, entry.nFileSizeLow);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

int Resize(const std::wstring &program, const std::wstring &folder, int percent)
{
    RunningApp app;
    if (!StartQuillmere(program, &app, TIMEOUT_MS))
        return Fail(NULL, "the program did not start or showed no window");
    if (percent != 25 && !ChooseSize(app, percent))
        return Fail(&app, "could not choose that size (10, 25, 50, 75, 125 or 150)");
    PostCommand(app, CMD_OPEN);
    HWND browser = WaitForDialog(app.process.dwProcessId, FOLDER_BROWSER_CAPTION, TIMEOUT_MS);
    if (!browser)
        return Fail(&app, "File > Open showed no folder browser");
    std::wstring error;
    CopyWatch watch;
    watch.resized = folder + L"\\Resized";
    watch.browser = browser;
    watch.window = app.window;
    watch.ended = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!ChooseFolderInBrowser(app.process.hProcess, browser, folder, &error))
    {
        fprintf(stderr, "QuillmereDriver: %ls\n", error.c_str());
        return Fail(&app, "could not choose the folder");
    }
    watch.start = GetTickCount();
    HANDLE watcher = CreateThread(NULL, 0, WatchCopies, &watch, 0, NULL);
    // Asking the window whether it is idle costs the batch more than the
    // watch; it is asked once the title says the batch ended.
    // A batch over before the title was seen counting is left to the
    // question alone.
    for (DWORD waited = 0; watcher && watch.ended && waited < 60000; waited += 1000)
        if (WaitForSingleObject(watch.ended, 1000) == WAIT_OBJECT_0 || (!watch.counting && waited >= 1000))
            break;
    const bool ended = WaitUntilIdle(app, 60000);
    watch.stop = true;
    if (watcher)
    {
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (!ended)
        return Fail(&app, "the batch did not end within a minute");
    printf("The folder browser closed %lu ms and the first copy appeared %lu ms after the folder was chosen.\n",
           static_cast<unsigned long>(watch.browserGoneMs.load()), static_cast<unsigned long>(watch.firstChangeMs.load()));
    printf("The last copy appeared %lu ms after the folder was chosen.\n",
           static_cast<unsigned long>(watch.lastChangeMs.load()));
    printf("The title said the batch had ended %lu ms after the folder was chosen.\n",
           static_cast<unsigned long>(watch.endedMs.load()));
    if (watch.ended)
        CloseHandle(watch.ended);
    // Closing the probe's dialog uncovered the client area; let it repaint
    // before anyone takes a picture.
    Sleep(300);
    PrintOutputs(folder + L"\\Resized");
    CloseHandle(app.process.hThread);
    CloseHandle(app.process.hProcess);
    return 0;
}

int Close()
{
    HWND window = FindWindowW(L"QUILLMERE", NULL);
    if (!window)
        return Fail(NULL, "no Quillmere window");
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process)
        return Fail(NULL, "cannot watch the program's process");
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    const bool ended = WaitForSingleObject(process, TIMEOUT_MS) == WAIT_OBJECT_0;
    if (ended)
        GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    if (!ended)
        return Fail(NULL, "the program did not end after WM_CLOSE");
    printf("Quillmere ended with status %lu\n", exitCode);
    return static_cast<int>(exitCode);
}
} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 4 && argc <= 5 && wcscmp(argv[1], L"resize") == 0)
        return Resize(ToWindowsPath(argv[2]), ToWindowsPath(argv[3]), argc == 5 ? _wtoi(argv[4]) : 25);
    if (argc == 2 && wcscmp(argv[1], L"close") == 0)
        return Close();
    fprintf(stderr, "usage: QuillmereDriver resize <Quillmere.exe> <folder> [percent]\n"
                    "       QuillmereDriver close\n");
    return 2;
}
