// What the main window's procedure makes of a batch's messages: the title,
// the taskbar button (through a taskbar list of the test's own, as Wine
// never sends "TaskbarButtonCreated"), Esc, and the box at the end.
#include "TestImages.h"

#include "app/BatchStatus.h"
#include "app/MainWindow.h"
#include "app/TaskbarProgress.h"
#include "batch/BatchProgress.h"
#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <process.h>

namespace
{
// Notes every call the program makes, in order.
class RecordingTaskbarList : public ITaskbarList3
{
public:
    std::vector<std::string> calls;
    LONG references = 1;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_ITaskbarList || iid == IID_ITaskbarList2 || iid == IID_ITaskbarList3)
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP HrInit() override { return Note("HrInit"); }
    STDMETHODIMP AddTab(HWND) override { return Note("AddTab"); }
    STDMETHODIMP DeleteTab(HWND) override { return Note("DeleteTab"); }
    STDMETHODIMP ActivateTab(HWND) override { return Note("ActivateTab"); }
    STDMETHODIMP SetActiveAlt(HWND) override { return Note("SetActiveAlt"); }
    STDMETHODIMP MarkFullscreenWindow(HWND, BOOL) override { return Note("MarkFullscreenWindow"); }
    STDMETHODIMP SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override
    {
        return Note("value " + std::to_string(done) + "/" + std::to_string(total));
    }
    STDMETHODIMP SetProgressState(HWND, TBPFLAG state) override
    {
        const char *name = state == TBPF_NOPROGRESS ? "none" : state == TBPF_NORMAL ? "normal"
                           : state == TBPF_ERROR    ? "error" : "other";
        return Note(std::string("state ") + name);
    }
    STDMETHODIMP RegisterTab(HWND, HWND) override { return Note("RegisterTab"); }
    STDMETHODIMP UnregisterTab(HWND) override { return Note("UnregisterTab"); }
    STDMETHODIMP SetTabOrder(HWND, HWND) override { return Note("SetTabOrder"); }
    STDMETHODIMP SetTabActive(HWND, HWND, DWORD) override { return Note("SetTabActive"); }
    STDMETHODIMP ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return Note("ThumbBarAddButtons"); }
    STDMETHODIMP ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return Note("ThumbBarUpdateButtons"); }
    STDMETHODIMP ThumbBarSetImageList(HWND, HIMAGELIST) override { return Note("ThumbBarSetImageList"); }
    STDMETHODIMP SetOverlayIcon(HWND, HICON, LPCWSTR) override { return Note("SetOverlayIcon"); }
    STDMETHODIMP SetThumbnailTooltip(HWND, LPCWSTR) override { return Note("SetThumbnailTooltip"); }
    STDMETHODIMP SetThumbnailClip(HWND, RECT *) override { return Note("SetThumbnailClip"); }

private:
    HRESULT Note(const std::string &call)
    {
        calls.push_back(call);
        return S_OK;
    }
};

RecordingTaskbarList *g_recording = NULL; // the list the next button gets; test thread
int g_listsMade = 0;                      // how often the program asked for one; test thread

HRESULT MakeRecordingList(ITaskbarList3 **list)
{
    ++g_listsMade;
    g_recording->AddRef();
    *list = g_recording;
    return S_OK;
}

void PumpWindowMessages()
{
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

std::wstring TitleOf(HWND window)
{
    wchar_t title[100] = L"";
    GetWindowTextW(window, title, 100);
    return title;
}

// What the box looked like and what stood around it when it came up.
struct SeenBox
{
    std::atomic<bool> found{false};
    std::wstring text, caption, mainTitle;
    LONG style = 0;
    bool busyWhenShown = true;
    HWND owner = NULL;
};

// Finds this process's box captioned "Quillmere", notes it, closes it.
unsigned __stdcall CloseReportBox(void *argument)
{
    SeenBox *seen = static_cast<SeenBox *>(argument);
    for (int tries = 0; tries < 500 && !seen->found; ++tries)
    {
        HWND box = FindWindowW(L"#32770", L"Quillmere");
        if (!box)
        {
            Sleep(10);
            continue;
        }
        wchar_t text[2048] = L"";
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        seen->text = text;
        seen->caption = L"Quillmere";
        seen->owner = GetWindow(box, GW_OWNER);
        seen->mainTitle = TitleOf(seen->owner);
        seen->busyWhenShown = g_busy;
        seen->style = GetWindowLongW(box, GWL_STYLE);
        seen->found = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
}

class BatchStatusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL);
        g_recording = &list;
        g_listsMade = 0;
        g_makeTaskbarList = MakeRecordingList;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = g_hInstance;
        windowClass.lpszClassName = L"QmBatchStatusTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"QmBatchStatusTest", L"Quillmere", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL,
                                 NULL, g_hInstance, NULL);
        ASSERT_TRUE(window != NULL);
        // Eight files to count; what is in them does not matter here (and
        // the painting tests keep the process's imaging context to
        // themselves, so no image is made).
        folder = MakeTempFolder(L"status");
        for (const wchar_t *name : {L"good.png", L"good.jpg", L"broken.jpg", L"kept.png", L"notes.txt", L"a.txt",
                                    L"b.txt", L"c.txt"})
            ASSERT_TRUE(WriteFileBytes(folder + L"\\" + name, "x", 1));
    }
    void TearDown() override
    {
        ReleaseTaskbarList();
        // The main window's destruction raises the quit flag and posts the
        // quit message; the next test starts afresh.
        DestroyWindow(window);
        PumpWindowMessages();
        g_quitRequested = false;
        RemoveTree(folder);
        g_stopRequested = false;
        g_busy = false;
    }

    // Ends the batch as the coordinator does, while another thread looks
    // for the box (and closes it), and says what it saw.
    void EndBatchWatchingForABox(SeenBox *seen)
    {
        HANDLE closer = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, CloseReportBox, seen, 0, NULL));
        EndBatchProgress(window);
        PumpWindowMessages();
        WaitForSingleObject(closer, 10000);
        CloseHandle(closer);
    }

    // As Open and the coordinator start a batch over the report folder.
    void StartBatch()
    {
        PrepareBatchStatus();
        g_busy = true;
        BeginBatchProgress(window, folder.c_str());
        PumpWindowMessages();
    }
    void NoteFile(const wchar_t *name, OutcomeStep step, HRESULT hr)
    {
        const FileOutcome outcome = {step, hr, 40, 30, step != OUTCOME_NOT_READ, false};
        NoteFileOutcome(window, (folder + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL,
                        (folder + L"\\Resized\\" + name).c_str(), outcome);
        PumpWindowMessages();
    }

    RecordingTaskbarList list;
    HWND window = NULL;
    std::wstring folder;
};
} // namespace

TEST_F(BatchStatusTest, TitleAndTaskbarFollowTheBatchAndTheBoxComesLast)
{
    StartBatch();
    EXPECT_EQ(L"0 of 8 - Quillmere", TitleOf(window));
    NoteFile(L"good.png", OUTCOME_WRITTEN, S_OK);
    EXPECT_EQ(L"1 of 8 - Quillmere", TitleOf(window));
    EXPECT_EQ(0, g_listsMade) << "nothing may be asked of the taskbar before its button exists";

    // The button appears (again after Explorer restarts): a list each time,
    // HrInit first, and it is shown where the batch stands.
    const UINT created = TaskbarButtonCreatedMessage();
    ASSERT_NE(0u, created);
    SendMessageW(window, created, 0, 0);
    NoteFile(L"broken.jpg", OUTCOME_NOT_READ, WINCODEC_ERR_COMPONENTNOTFOUND);
    NoteFile(L"notes.txt", OUTCOME_NOT_READ, WINCODEC_ERR_COMPONENTNOTFOUND);
    PostMessageW(window, created, 0, 0);
    PumpWindowMessages();
    EXPECT_EQ(2, g_listsMade);
    EXPECT_EQ(L"3 of 8 - Quillmere", TitleOf(window));

    SeenBox seen;
    EndBatchWatchingForABox(&seen);

    const std::vector<std::string> expected = {"HrInit", "state normal", "value 1/8", "state error", "value 2/8",
                                               "state error", "value 3/8", "HrInit", "state error", "value 3/8",
                                               "state none"};
    EXPECT_EQ(expected, list.calls);
    ReleaseTaskbarList();
    EXPECT_EQ(1, list.references) << "every list the program was given is released";
    EXPECT_EQ(L"Quillmere", TitleOf(window));
    EXPECT_FALSE(g_busy);
    ASSERT_TRUE(seen.found) << "expected one box captioned Quillmere";
    EXPECT_EQ(window, seen.owner);
    EXPECT_FALSE(seen.busyWhenShown) << "the busy flag is lowered before the box shows";
    EXPECT_EQ(L"Quillmere", seen.mainTitle) << "the title is back before the box shows";
    EXPECT_EQ(L"1 of 2 images could not be resized:\nbroken.jpg: the file is damaged or is not an image that can be read",
              seen.text);
}

TEST_F(BatchStatusTest, EscStopsTheBatchAndACleanEndShowsNoBox)
{
    StartBatch();
    SendMessageW(window, TaskbarButtonCreatedMessage(), 0, 0);
    NoteFile(L"good.png", OUTCOME_WRITTEN, S_OK);
    SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(g_stopRequested.load());
    EXPECT_TRUE(BatchStopRequested()) << "the workers' stop points see Esc";
    EXPECT_EQ(L"Stopping - Quillmere", TitleOf(window));
    // A file finished after Esc changes neither the title nor the button.
    NoteFile(L"good.jpg", OUTCOME_WRITTEN, S_OK);
    NoteFile(L"kept.png", OUTCOME_STOPPED, E_ABORT);
    EXPECT_EQ(L"Stopping - Quillmere", TitleOf(window));

    SeenBox seen;
    EndBatchWatchingForABox(&seen);
    EXPECT_FALSE(seen.found) << "no image failed, so no box: " << Narrow(seen.text);
    EXPECT_EQ(L"Quillmere", TitleOf(window));
    const std::vector<std::string> expected = {"HrInit", "state normal", "value 0/8", "state normal", "value 1/8",
                                               "state none", "state none"};
    EXPECT_EQ(expected, list.calls);
    // Esc outside a batch does nothing.
    g_stopRequested = false;
    SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(g_stopRequested.load());
}

TEST_F(BatchStatusTest, AFolderWithoutFilesShowsNoProgress)
{
    const std::wstring empty = MakeTempFolder(L"empty");
    PrepareBatchStatus();
    g_busy = true;
    SendMessageW(window, TaskbarButtonCreatedMessage(), 0, 0);
    BeginBatchProgress(window, empty.c_str());
    PumpWindowMessages();
    EXPECT_EQ(L"0 of 0 - Quillmere", TitleOf(window));
    EndBatchProgress(window);
    PumpWindowMessages();
    EXPECT_EQ(L"Quillmere", TitleOf(window));
    const std::vector<std::string> expected = {"HrInit", "state none", "state none", "state none"};
    EXPECT_EQ(expected, list.calls);
    RemoveTree(empty);
}
