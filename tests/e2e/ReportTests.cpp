// What a batch tells through the real window: its progress in the title,
// Esc, and the one box naming the images that failed.
#include "KeyboardInput.h"
#include "QuillmereTest.h"
#include "../ReportFolder.h"

#include <algorithm>

namespace
{
const wchar_t *const REPORT_CAPTION = L"Quillmere";

std::wstring TitleOf(HWND window)
{
    wchar_t title[100] = L"";
    GetWindowTextW(window, title, 100);
    return title;
}

// Polls the title until wanted(title) holds; every title seen meanwhile is
// appended to seen when it differs from the one before. False on timeout.
template <class Wanted> bool WatchTitleUntil(HWND window, Wanted wanted, std::vector<std::wstring> *seen)
{
    const DWORD start = GetTickCount();
    while (ElapsedSince(start) < BATCH_TIMEOUT_MS)
    {
        const std::wstring title = TitleOf(window);
        if (seen->empty() || seen->back() != title)
            seen->push_back(title);
        if (wanted(title))
            return true;
        Sleep(2);
    }
    return false;
}

// "<done> of <total> - Quillmere": done, or -1 for any other title.
int DoneInTitle(const std::wstring &title, unsigned total)
{
    const std::wstring tail = L" of " + std::to_wstring(total) + L" - Quillmere";
    if (title.size() <= tail.size() || title.compare(title.size() - tail.size(), tail.size(), tail) != 0)
        return -1;
    const std::wstring done = title.substr(0, title.size() - tail.size());
    if (done.find_first_not_of(L"0123456789") != std::wstring::npos)
        return -1;
    return std::stoi(done);
}

std::string Joined(const std::vector<std::wstring> &titles)
{
    std::string text;
    for (const std::wstring &title : titles)
        text += "\"" + Narrow(title) + "\" ";
    return text;
}

// The text of a message box: its static control without an id of its own.
std::wstring MessageBoxText(HWND box)
{
    for (const ControlInfo &control : ListDialogControls(box))
        if (_wcsicmp(control.className.c_str(), L"Static") == 0 && !control.isPicture && !control.text.empty())
            return control.text;
    return std::wstring();
}

} // namespace

TEST_F(QuillmereTest, FailedImagesAreNamedInOneBoxAfterTheBatch)
{
    ASSERT_TRUE(MakeReportFolder(folder));
    StartBatchOn(folder);
    HWND box = WaitForDialog(app.process.dwProcessId, REPORT_CAPTION, BATCH_TIMEOUT_MS);
    ASSERT_TRUE(box != NULL) << "expected a box captioned \"Quillmere\" at the end of the batch";

    const std::wstring text = MessageBoxText(box);
    EXPECT_EQ(ExpectedReportLines(), ReportLinesInNameOrder(text)) << Narrow(text);
    EXPECT_EQ(app.window, GetWindow(box, GW_OWNER)) << "the main window owns the box";
    EXPECT_FALSE(IsWindowEnabled(app.window)) << "the box is modal to the main window";
    EXPECT_EQ(L"Quillmere", TitleOf(app.window)) << "the title is plain again once the batch has ended";
    bool hasIcon = false, hasOk = false;
    for (const ControlInfo &control : ListDialogControls(box))
    {
        hasIcon = hasIcon || control.isPicture;
        hasOk = hasOk || control.id == IDOK;
    }
    EXPECT_TRUE(hasIcon && hasOk) << "a warning icon and OK";
    // For a screenshot of the box (QM_E2E_HOLD_BOX_MS=5000 keeps it open).
    wchar_t hold[16] = L"";
    if (GetEnvironmentVariableW(L"QM_E2E_HOLD_BOX_MS", hold, 16))
        Sleep(static_cast<DWORD>(_wtoi(hold)));

    ASSERT_TRUE(ClickDialogButton(box, IDOK));
    ASSERT_TRUE(WaitForWindowGone(box, DIALOG_TIMEOUT_MS));
    WaitForBatchEnd();
    ExpectNoDialogAppears(NULL);
}

TEST_F(QuillmereTest, TitleCountsTheFilesWhileABatchRunsAndACleanBatchEndsSilently)
{
    const int imageCount = 12;
    for (int i = 0; i < imageCount; ++i)
        WriteImage((L"noise" + std::to_wstring(100 + i) + L".png").c_str(), 800, 600, NoisePattern,
                   GUID_ContainerFormatPng);
    const char text[] = "not an image";
    ASSERT_TRUE(WriteFileBytes(folder + L"\\notes.txt", text, sizeof(text) - 1));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), NULL));
    const unsigned files = imageCount + 1; // the text file counts, the folder does not
    ASSERT_NO_FATAL_FAILURE(ChooseImageSize(1006));

    StartBatchOn(folder);
    std::vector<std::wstring> seen;
    ASSERT_TRUE(WatchTitleUntil(app.window, [&](const std::wstring &t) { return DoneInTitle(t, files) >= 0; }, &seen))
        << "expected \"<done> of " << files << " - Quillmere\"; saw " << Joined(seen);
    ASSERT_TRUE(WatchTitleUntil(app.window, [](const std::wstring &t) { return t == L"Quillmere"; }, &seen))
        << "expected the title to be plain again at the end; saw " << Joined(seen);

    // Progress only goes forward, ends with every file, then the plain title.
    int last = -1;
    std::vector<int> counts;
    for (size_t i = 1; i + 1 < seen.size(); ++i)
    {
        const int done = DoneInTitle(seen[i], files);
        ASSERT_GE(done, 0) << "unexpected title \"" << Narrow(seen[i]) << "\" in " << Joined(seen);
        EXPECT_GE(done, last) << Joined(seen);
        last = done;
    }
    // The last count and the end are handled back to back, so the last
    // title seen may be any count; the walk's own test checks the total.
    EXPECT_LE(last, static_cast<int>(files)) << Joined(seen);
    EXPECT_GE(seen.size(), 4u) << "expected to see the count move: " << Joined(seen);
    ExpectNoDialogAppears(NULL);
    WaitForBatchEnd();
}

TEST_F(QuillmereTest, EscStopsTheBatchWithWholeCopiesAndTheProgramStaysOpen)
{
    const int imageCount = 16;
    ASSERT_NO_FATAL_FAILURE(StartLongBatch(imageCount, 1200, 900));

    ASSERT_TRUE(FocusWindow(app.window));
    ASSERT_TRUE(PressKey(VK_ESCAPE));
    std::vector<std::wstring> seen;
    EXPECT_TRUE(WatchTitleUntil(app.window, [](const std::wstring &t) { return t == L"Stopping - Quillmere"; }, &seen))
        << "saw " << Joined(seen);
    ASSERT_TRUE(WatchTitleUntil(app.window, [](const std::wstring &t) { return t == L"Quillmere"; }, &seen))
        << "saw " << Joined(seen);
    EXPECT_TRUE(IsRunning(app)) << "Esc must not end the program";
    ExpectNoDialogAppears(NULL);
    WaitForBatchEnd();

    ExpectStoppedEarlyWithWholeCopies(imageCount);
}
