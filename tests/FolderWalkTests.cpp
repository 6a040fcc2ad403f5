// The folder walk over real folders: which entries become which outputs,
// that no entry waits for the clock or the window, and the quit flag.
#include "TestImages.h"

#include "batch/FolderBatch.h"
#include "batch/ImageWriter.h"
#include "batch/ResizeSettings.h"
#include "imaging/PreviewSlot.h"
#include "imaging/SharedFlags.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
std::atomic<int> g_slowPaintMs(0);       // next repaint sleeps this long (test thread)
std::atomic<bool> g_quitOnPaint(false);  // next repaint raises the quit flag
std::wstring g_paintCountsIn;            // folder whose files a slow repaint counts once it has slept (test thread)
std::atomic<int> g_filesAfterSlowPaint(-1); // what it counted

LRESULT CALLBACK PreviewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    // As the main window does: the preview a worker finished becomes this
    // thread's to show.
    TakePublishedPreview(g_imaging);
    EndPaint(window, &paint);
    if (int ms = g_slowPaintMs.exchange(0))
    {
        Sleep(ms);
        g_filesAfterSlowPaint = static_cast<int>(ListFolder(g_paintCountsIn).size());
    }
    if (g_quitOnPaint.exchange(false))
        g_quitRequested = true;
    return 0;
}

// A window on the test thread stands in for the main window: the walk's
// thread serves its paints while it waits for its workers, which lets a
// test act in the middle of a batch.
HWND MakePreviewWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PreviewWindowProc;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"QmWalkTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"QmWalkTestWindow", L"walk", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                  200, NULL, NULL, windowClass.hInstance, NULL);
    // Its first paint is had now, so that the next one is a preview's.
    if (window)
        UpdateWindow(window);
    return window;
}

UINT Checker(UINT x, UINT y)
{
    return (x / 4 + y / 4) % 2 ? 0x204060 : 0xE0C0A0;
}

class FolderWalkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder(L"walk");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(TestFactory() != NULL);
        g_quitRequested = false;
    }
    void TearDown() override
    {
        g_quitRequested = false;
        g_slowPaintMs = 0;
        g_quitOnPaint = false;
        if (window)
            DestroyWindow(window);
        RemoveTree(folder);
    }
    void MakeImage(const std::wstring &name, UINT width, UINT height, REFGUID container)
    {
        Com<IWICBitmap> bitmap;
        ASSERT_EQ(S_OK, MakeBgrBitmap(width, height, Checker, &bitmap));
        HRESULT hr = EncodeToFile(bitmap, container, folder + L"\\" + name);
        ASSERT_EQ(S_OK, hr) << Narrow(name) << ": " << Hex(hr);
    }
    std::map<std::wstring, std::vector<BYTE>> SnapshotInputs()
    {
        std::map<std::wstring, std::vector<BYTE>> files;
        for (const std::wstring &name : ListFolder(folder))
            files[name] = ReadFileBytes(folder + L"\\" + name);
        return files;
    }
    DWORD TimeWalk(UINT workers = 0)
    {
        const DWORD start = timeGetTime();
        WalkImageFolder(window, folder.c_str(), workers);
        return timeGetTime() - start;
    }
    std::wstring Resized() const { return folder + L"\\Resized"; }

    std::wstring folder;
    HWND window = NULL;
};

struct Expected
{
    std::wstring name;
    const GUID *container;
    UINT width, height;
};

void ExpectOutputs(const std::wstring &resized, const std::vector<Expected> &expected)
{
    std::vector<std::wstring> names;
    for (const Expected &e : expected)
    {
        names.push_back(e.name);
        GUID container;
        UINT width = 0, height = 0;
        HRESULT hr = ProbeImageFile(resized + L"\\" + e.name, &container, &width, &height);
        ASSERT_EQ(S_OK, hr) << Narrow(e.name) << ": " << Hex(hr);
        EXPECT_TRUE(IsEqualGUID(*e.container, container)) << Narrow(e.name);
        EXPECT_EQ(e.width, width) << Narrow(e.name);
        EXPECT_EQ(e.height, height) << Narrow(e.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, ListFolder(resized));
}
} // namespace

TEST_F(FolderWalkTest, MixedFolderBecomesExactlyTheExpectedOutputs)
{
    const std::wstring longName = std::wstring(70, L'L') + L".png";
    MakeImage(L"a.jpg", 40, 20, GUID_ContainerFormatJpeg);
    MakeImage(L"B.PNG", 40, 20, GUID_ContainerFormatPng);
    MakeImage(L"c.Bmp", 40, 20, GUID_ContainerFormatBmp);
    MakeImage(L"d.gif", 40, 20, GUID_ContainerFormatGif);
    MakeImage(L"e.tiff", 40, 20, GUID_ContainerFormatTiff);
    MakeImage(L"\u5199\u771F \u00E9t\u00E9.png", 40, 20, GUID_ContainerFormatPng);
    MakeImage(L"disguised.webp", 40, 20, GUID_ContainerFormatPng);
    MakeImage(L"no-encoder.ico", 40, 20, GUID_ContainerFormatPng);
    MakeImage(longName, 40, 20, GUID_ContainerFormatPng);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\readme.txt", "text", 4));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), NULL));
    ASSERT_TRUE(CopyFileW((folder + L"\\a.jpg").c_str(), (folder + L"\\sub\\inner.jpg").c_str(), TRUE));
    const auto before = SnapshotInputs();

    const DWORD elapsed = TimeWalk();

    ExpectOutputs(Resized(), {{L"a.jpg", &GUID_ContainerFormatJpeg, 10, 5},
                              {L"B.PNG", &GUID_ContainerFormatPng, 10, 5},
                              {L"c.Bmp", &GUID_ContainerFormatBmp, 10, 5},
                              {L"d.gif", &GUID_ContainerFormatGif, 10, 5},
                              {L"e.tiff", &GUID_ContainerFormatTiff, 10, 5},
                              {L"\u5199\u771F \u00E9t\u00E9.png", &GUID_ContainerFormatPng, 10, 5},
                              {L"disguised.webp.jpg", &GUID_ContainerFormatJpeg, 10, 5},
                              {longName, &GUID_ContainerFormatPng, 10, 5}});
    // Twelve entries were offered (the files, "sub" and "Resized" itself);
    // none waits for the clock, as each once did for 60 ms.
    EXPECT_LT(elapsed, 12 * PREVIEW_CADENCE_MS);
    EXPECT_FALSE(FileExists(folder + L"\\sub\\Resized")) << "subfolders are not walked into";
    auto after = SnapshotInputs();
    after.erase(L"Resized");
    EXPECT_TRUE(before == after) << "inputs must be byte-identical afterwards";
}

// On Windows a current directory is an open handle on its folder, which
// would keep the user's folder and its card or stick from being let go.
TEST_F(FolderWalkTest, TheChosenFolderIsNotTheCurrentDirectoryAfterTheWalk)
{
    MakeImage(L"a.png", 8, 8, GUID_ContainerFormatPng);
    wchar_t before[MAX_PATH], after[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, before));
    TimeWalk();
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, after));
    EXPECT_STREQ(before, after) << "the walk must put back the directory it found";
    EXPECT_TRUE(FileExists(Resized() + L"\\a.png")) << "the walk resolved its entries";
}

TEST_F(FolderWalkTest, SecondWalkReusesResizedAndReplacesOutputs)
{
    MakeImage(L"one.png", 8, 8, GUID_ContainerFormatPng);
    WalkImageFolder(NULL, folder.c_str());
    ApplySizeChoice(ID_SIZE_50);
    WalkImageFolder(NULL, folder.c_str());
    ApplySizeChoice(ID_SIZE_25);
    ExpectOutputs(Resized(), {{L"one.png", &GUID_ContainerFormatPng, 4, 4}});
}

TEST_F(FolderWalkTest, EntriesWhoseOutputPathWouldNotFitAreSkipped)
{
    // Wine accepts paths beyond MAX_PATH, so only the walk's own check can
    // keep this name from being cut down.
    const size_t room = MAX_PATH - 1 - (folder.size() + 1);
    const std::wstring tooLong = std::wstring(room - 4 - 3, L'x') + L".png"; // input fits, output does not
    MakeImage(tooLong, 8, 8, GUID_ContainerFormatPng);
    MakeImage(L"short.png", 8, 8, GUID_ContainerFormatPng);
    WalkImageFolder(NULL, folder.c_str());
    ExpectOutputs(Resized(), {{L"short.png", &GUID_ContainerFormatPng, 2, 2}});
}

TEST_F(FolderWalkTest, EmptyFolderGetsResizedAndWaitsForNoClock)
{
    const DWORD elapsed = TimeWalk();
    EXPECT_TRUE(ListFolder(Resized()).empty());
    EXPECT_LT(elapsed, 3 * PREVIEW_CADENCE_MS);
}

// A worker hands its preview over and goes on: a window that takes a whole
// second to paint it holds up no file.
TEST_F(FolderWalkTest, SlowEntryIsNotDelayedFurther)
{
    window = MakePreviewWindow();
    ASSERT_TRUE(window != NULL);
    MakeImage(L"1.png", 8, 8, GUID_ContainerFormatPng);
    MakeImage(L"2.png", 8, 8, GUID_ContainerFormatPng);
    MakeImage(L"3.png", 8, 8, GUID_ContainerFormatPng);
    g_paintCountsIn = Resized();
    g_filesAfterSlowPaint = -1;
    g_slowPaintMs = 1000;

    TimeWalk(1);
    EXPECT_EQ(3, g_filesAfterSlowPaint.load()) << "outputs written while the window took 1 s to paint (-1: no paint)";
    EXPECT_EQ(3u, ListFolder(Resized()).size());
}

namespace
{
struct QuitWatch
{
    std::wstring outputPath;
    DWORD raisedAt;
};

DWORD WINAPI RaiseQuitWhenOutputAppears(void *argument)
{
    QuitWatch *watch = static_cast<QuitWatch *>(argument);
    while (!FileExists(watch->outputPath))
        Sleep(1);
    watch->raisedAt = timeGetTime();
    g_quitRequested = true;
    return 0;
}
} // namespace

// Entries large enough that the quit flag, raised as the first output
// appears, always comes while the next one is in work.
TEST_F(FolderWalkTest, QuitBetweenEntriesStartsNoNewFile)
{
    MakeImage(L"1.png", 1200, 1200, GUID_ContainerFormatPng);
    MakeImage(L"2.png", 1200, 1200, GUID_ContainerFormatPng);
    MakeImage(L"3.png", 1200, 1200, GUID_ContainerFormatPng);
    QuitWatch watch = {Resized() + L"\\1.png", 0};
    CreateDirectoryW(Resized().c_str(), NULL);
    HANDLE watcher = CreateThread(NULL, 0, RaiseQuitWhenOutputAppears, &watch, 0, NULL);
    ASSERT_TRUE(watcher != NULL);

    WalkImageFolder(NULL, folder.c_str(), 1);
    const DWORD endedAt = timeGetTime();
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);

    // The file in work is finished (a second or so on a busy machine), and
    // nothing after it starts.
    EXPECT_LE(endedAt - watch.raisedAt, 3000u) << "the walk went on after the quit flag";
    std::vector<Expected> expected = {{L"1.png", &GUID_ContainerFormatPng, 300, 300}};
    if (FileExists(Resized() + L"\\2.png")) // in work when the flag went up
        expected.push_back({L"2.png", &GUID_ContainerFormatPng, 300, 300});
    ExpectOutputs(Resized(), expected);
}

// The quit flag goes up while the first entry's preview is painted, long
// before its large file is written: that file is finished, and the next is
// never started.
TEST_F(FolderWalkTest, QuitDuringAnEntryLetsItFinishItsFile)
{
    window = MakePreviewWindow();
    ASSERT_TRUE(window != NULL);
    MakeImage(L"1.png", 1600, 800, GUID_ContainerFormatPng);
    MakeImage(L"2.png", 1600, 800, GUID_ContainerFormatPng);
    g_quitOnPaint = true; // raised while entry 1 shows its preview

    TimeWalk(1);
    ExpectOutputs(Resized(), {{L"1.png", &GUID_ContainerFormatPng, 400, 200}});
}

// Each input's path is the folder joined with the listed name, never
// resolved against the current directory; a name ending in a dot or a
// space keeps it through the "\\?\" form.
TEST(EntryPath, JoinsTheFolderAndTheListedNameAsTheyAre)
{
    const struct
    {
        const wchar_t *folder, *name, *expected;
    } rows[] = {
        {L"C:\\Photos", L"IMG_0001.JPG", L"C:\\Photos\\IMG_0001.JPG"},
        {L"D:\\", L"a.png", L"D:\\a.png"},
        {L"C:\\Photos", L"dotted.", L"\\\\?\\C:\\Photos\\dotted."},
        {L"D:\\", L"spaced ", L"\\\\?\\D:\\spaced "},
        {L"\\\\server\\share\\pics", L"x.jpg.", L"\\\\?\\UNC\\server\\share\\pics\\x.jpg."},
        {L"\\\\server\\share\\pics", L"x.jpg", L"\\\\server\\share\\pics\\x.jpg"},
    };
    for (const auto &row : rows)
    {
        wchar_t path[MAX_PATH] = L"";
        ASSERT_TRUE(JoinEntryPath(path, row.folder, row.name)) << Narrow(row.folder) << " + " << Narrow(row.name);
        EXPECT_STREQ(row.expected, path);
    }
    wchar_t path[MAX_PATH] = L"untouched";
    const std::wstring longFolder = L"C:\\" + std::wstring(MAX_PATH - 8, L'f');
    EXPECT_FALSE(JoinEntryPath(path, longFolder.c_str(), L"name.jpg")) << "a path beyond MAX_PATH is refused";
    EXPECT_FALSE(JoinEntryPath(path, longFolder.c_str(), L"n.")) << "and so is its \\\\?\\ form";
    EXPECT_STREQ(L"untouched", path);
}
