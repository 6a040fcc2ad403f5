#include "FolderBatch.h"

#include "ImageWriter.h"
#include "LongPaths.h"
#include "ResizePipeline.h"
#include "imaging/ExceptionBoundary.h"
#include "imaging/ImagingContext.h"
#include "imaging/SharedFlags.h"

#include <shlobj.h>
#include <wchar.h>

std::atomic<DWORD> g_workerThreadId(0);

bool JoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
    const size_t lengthA = wcslen(a), lengthB = wcslen(b), lengthC = wcslen(c);
    if (lengthA + lengthB + lengthC >= MAX_PATH)
        return false;
    wmemcpy(dst, a, lengthA);
    wmemcpy(dst + lengthA, b, lengthB);
    wmemcpy(dst + lengthA + lengthB, c, lengthC + 1);
    return true;
}

// The folder browser, kept apart so that the walk can be driven without it.
static bool ChooseImageFolder(HWND window, wchar_t (&folderPath)[MAX_PATH])
{
    wchar_t displayName[MAX_PATH] = L"";
    BROWSEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.hwndOwner = window;
    info.pidlRoot = NULL;
    info.pszDisplayName = displayName;
    info.lpszTitle = L"Locate image folder...";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;

    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
    if (!list)
        return false;
    const BOOL found = SHGetPathFromIDListW(list, folderPath);
    CoTaskMemFree(list);
    return found != FALSE;
}

static bool IsDotEntry(const wchar_t *name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// GetFullPathNameW drops a trailing dot or space (a name made on another
// system), which would name a different file. Rebuilds fullPath as an exact
// "\\?\" path to the listed name; false when that does not fit.
static bool UseExactName(wchar_t (&fullPath)[MAX_PATH], wchar_t *filePart, const wchar_t *listedName)
{
    wchar_t folder[MAX_PATH];
    *filePart = L'\0';
    const bool isUnc = wcsncmp(fullPath, L"\\\\", 2) == 0;
    wcscpy(folder, isUnc ? fullPath + 1 : fullPath); // "\\server\share\" becomes "\server\share\"
    return JoinPath(fullPath, isUnc ? L"\\\\?\\UNC" : L"\\\\?\\", folder, listedName);
}

// Waits until PACING_MS have passed since lastMark, in 1 ms sleeps, leaving
// early on a quit request. Returns the last clock reading.
static DWORD WaitForPacing(DWORD lastMark)
{
    DWORD now = timeGetTime();
    // Unsigned difference: correct across the clock's wrap at 2^32.
    while (now - lastMark < PACING_MS)
    {
        Sleep(1);
        if (g_quitRequested)
            break;
        now = timeGetTime();
    }
    return now;
}

// On Windows the current directory is an open handle on its folder: kept
// on the chosen folder, it would stop Explorer from renaming or deleting it
// and Windows from ejecting the card or stick it is on, until the program
// exits. So the walk puts back what it found.
struct CurrentDirectoryGuard
{
    wchar_t saved[MAX_PATH]; // the directory before the walk
    bool valid;              // saved holds it whole
};

static CurrentDirectoryGuard ResolveEntriesIn(const wchar_t *folderPath)
{
    CurrentDirectoryGuard guard;
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, guard.saved);
    // A directory too long to keep is replaced by the program's own folder
    // afterwards, which is never the chosen one's handle to hold.
    guard.valid = length > 0 && length < MAX_PATH;
    SetCurrentDirectoryW(folderPath);
    return guard;
}

static void RestoreCurrentDirectory(const CurrentDirectoryGuard &guard)
{
    if (guard.valid && SetCurrentDirectoryW(guard.saved))
        return;
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
    wchar_t *slash = length > 0 && length < MAX_PATH ? wcsrchr(program, L'\\') : NULL;
    if (!slash)
        return;
    slash[slash == program + 2 ? 1 : 0] = L'\0'; // keep a drive root's own separator
    SetCurrentDirectoryW(program);
}

void WalkImageFolder(HWND window, const wchar_t *folderPath)
{
    wchar_t outputFolder[MAX_PATH], searchPattern[MAX_PATH], fullPath[MAX_PATH], outputPath[MAX_PATH];
    WIN32_FIND_DATAW entry;
    DWORD lastMark = timeGetTime();

    if (!JoinPath(outputFolder, folderPath, L"\\Resized") || !JoinPath(searchPattern, folderPath, L"\\*.*"))
        return;
    CreateFolderWhole(outputFolder); // an existing "Resized" is used again
    DeleteLeftoverTempFiles(outputFolder);
    // Entries are resolved against the chosen folder while the walk runs;
    // afterwards the process lets go of it (ResolveEntriesIn).
    CurrentDirectoryGuard directory = ResolveEntriesIn(folderPath);

    ZeroMemory(&entry, sizeof(entry));
    HANDLE find = FindFirstFileW(searchPattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
    {
        RestoreCurrentDirectory(directory);
        return;
    }
    do
    {
        // A drive root lists no dot entries, so they are skipped by name.
        if (IsDotEntry(entry.cFileName))
            continue;

        wchar_t *filePart = NULL;
        ZeroMemory(fullPath, sizeof(fullPath));
        const DWORD length = GetFullPathNameW(entry.cFileName, MAX_PATH, fullPath, &filePart);
        if (length == 0)
            break;
        // Too long for the buffer, or no name part: skip it untouched rather
        // than write it under a cut-down name.
        if (length >= MAX_PATH || !filePart)
            continue;
        if (wcscmp(filePart, entry.cFileName) != 0 && !UseExactName(fullPath, filePart, entry.cFileName))
            continue;
        if (!JoinPath(outputPath, outputFolder, L"\\", entry.cFileName))
            continue;

        if (g_quitRequested)
            break;
        // The pipeline answers what the standard library throws as a failed
        // file; should anything pass it all the same, only this entry fails,
        // and the walk still closes its search and puts the directory back.
        AnswerWithoutThrowing([&] { return ResizeImageFile(window, fullPath, outputPath); });
        PumpPendingMessages();
        if (g_quitRequested)
            break;
        const DWORD now = WaitForPacing(lastMark);
        PumpPendingMessages();
        if (g_quitRequested)
            break;
        lastMark = now;
    } while (FindNextFileW(find, &entry));
    FindClose(find);

    // The last frame holds its file open; the preview already has its
    // pixels, so let go of it rather than keep the user's photo locked
    // for as long as the program stays open.
    if (g_imaging)
        SafeRelease(&g_imaging->currentSource);
    RestoreCurrentDirectory(directory);
}

void ResizeFolder(HWND window)
{
    wchar_t folderPath[MAX_PATH] = L"";
    if (!g_imaging || !g_imaging->factory)
        return;
    if (!ChooseImageFolder(window, folderPath))
        return;
    WalkImageFolder(window, folderPath);
}

void RunInWorkerApartment(HWND window, void (*batch)(HWND))
{
    // The folder browser needs a single-threaded apartment on its thread,
    // and on Windows the codecs are COM classes. A thread that already has
    // an apartment of another kind keeps it, and the batch runs there.
    const HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // Whatever the run throws ends the run, not the program; the apartment
    // is still left.
    AnswerWithoutThrowing([&] {
        batch(window);
        return S_OK;
    });
    // The walk let go of the current source; the factory belongs to the UI
    // thread. Nothing made on this thread is alive any more.
    if (SUCCEEDED(hr))
        CoUninitialize();
}

void __cdecl BatchWorkerThread(void *argument)
{
    HWND window = static_cast<HWND>(argument);
    g_busy = true;
    g_workerThreadId = GetCurrentThreadId();
    SetCursor(LoadCursorW(NULL, IDC_WAIT));
    // Nothing thrown in the run gets past RunInWorkerApartment, so the
    // flags below always come down and the window can close.
    RunInWorkerApartment(window, ResizeFolder);
    SetCursor(LoadCursorW(NULL, IDC_WAIT));
    // g_busy is still up, so the window picks the wait cursor once more.
    SendMessageW(window, WM_SETCURSOR, 0, 0);
    g_workerThreadId = 0;
    g_busy = false;
}

static BOOL CALLBACK CancelDialogWindow(HWND window, LPARAM)
{
    return AnswerWithoutThrowing(TRUE, [&]() -> BOOL {
        wchar_t className[16];
        if (GetClassNameW(window, className, 16) && wcscmp(className, L"#32770") == 0)
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    });
}

void CancelFolderBrowser()
{
    const DWORD thread = g_workerThreadId;
    if (thread)
        EnumThreadWindows(thread, CancelDialogWindow, 0);
}
