// Whole batches through the real window and the real folder browser: what
// lands in "Resized", what the window shows afterwards, and that nothing
// else can be started while a batch runs.
#include "FolderBrowser.h"
#include "KeyboardInput.h"
#include "QuillmereTest.h"

namespace
{
// Pixels of the client area that differ from what the last preview should
// look like: the 600 x 200 red-over-blue image fitted into 284 x 160 is
// 284 x 95 (600/200 = 3 is wider than 16:9, so the width fills the box and
// the height is 284/3 = 94.67, rounded to 95), with white below it.
// Pixels next to the red-blue edge are left out, so that it does not matter
// whether the scaler picks the nearest pixel or averages; the preview's own
// border is checked to the pixel.
int CountPreviewMismatches(const Picture &screen, std::string *first)
{
    const int previewWidth = 284, previewHeight = 95;
    auto inPreview = [&](int x, int y) { return x >= 0 && y >= 0 && x < previewWidth && y < previewHeight; };
    auto sourceAt = [&](int x, int y) { return RedOverBlue200(x * 600 / previewWidth, y * 200 / previewHeight); };
    int mismatches = 0;
    for (int y = 0; y < screen.height; ++y)
        for (int x = 0; x < screen.width; ++x)
        {
            const UINT expected = inPreview(x, y) ? sourceAt(x, y) : WHITE;
            if (inPreview(x, y) && ((inPreview(x, y - 1) && sourceAt(x, y - 1) != expected) ||
                                    (inPreview(x, y + 1) && sourceAt(x, y + 1) != expected)))
                continue;
            if (screen.At(x, y) == expected)
                continue;
            if (mismatches++ == 0)
                *first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                         ColourText(screen.At(x, y)) + ", expected " + ColourText(expected);
        }
    return mismatches;
}

struct ExpectedOutput
{
    const wchar_t *name;
    LONG width, height;
};

void ExpectOutputs(const std::wstring &resized, const std::vector<ExpectedOutput> &outputs)
{
    std::vector<std::wstring> expectedNames;
    for (const ExpectedOutput &output : outputs)
    {
        expectedNames.push_back(output.name);
        const SIZE size = ImageFileSize(resized + L"\\" + output.name);
        EXPECT_EQ(output.width, size.cx) << "width of Resized\\" << Narrow(output.name);
        EXPECT_EQ(output.height, size.cy) << "height of Resized\\" << Narrow(output.name);
    }
    EXPECT_EQ(expectedNames, ListFolder(resized)) << "names in Resized";
}
} // namespace

TEST_F(QuillmereTest, OpenResizesEveryImageIntoResizedBy25Percent)
{
    WriteImage(L"a.png", 202, 122, SolidGreen, GUID_ContainerFormatPng);
    WriteImage(L"b.bmp", 101, 61, SolidGreen, GUID_ContainerFormatBmp);
    WriteImage(L"c.jpg", 80, 40, SolidGreen, GUID_ContainerFormatJpeg);
    WriteImage(L"d.tif", 30, 18, SolidGreen, GUID_ContainerFormatTiff);
    const char text[] = "not an image";
    ASSERT_TRUE(WriteFileBytes(folder + L"\\notes.txt", text, sizeof(text) - 1));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), NULL));

    StartBatchOn(folder);
    WaitForBatchEnd();

    // Both sides times 0.25, halves rounded up: 50.5 -> 51, 30.5 -> 31, 7.5 -> 8, 4.5 -> 5.
    ExpectOutputs(ResizedFolder(), {{L"a.png", 51, 31}, {L"b.bmp", 25, 15}, {L"c.jpg", 20, 10}, {L"d.tif", 8, 5}});
    const struct
    {
        const wchar_t *name;
        GUID container;
    } formats[] = {{L"a.png", GUID_ContainerFormatPng},
                   {L"b.bmp", GUID_ContainerFormatBmp},
                   {L"c.jpg", GUID_ContainerFormatJpeg},
                   {L"d.tif", GUID_ContainerFormatTiff}};
    for (const auto &format : formats)
    {
        GUID container = GUID_NULL;
        UINT width = 0, height = 0;
        ProbeImageFile(ResizedFolder() + L"\\" + format.name, &container, &width, &height);
        EXPECT_TRUE(IsEqualGUID(format.container, container)) << Narrow(format.name) << " changed its format";
    }
}

// Whichever file's preview was made last stays; both show the same picture.
TEST_F(QuillmereTest, LastPreviewStaysOnScreenAfterTheBatch)
{
    WriteImage(L"a-first.png", 600, 200, RedOverBlue200, GUID_ContainerFormatPng);
    WriteImage(L"zz-last.png", 600, 200, RedOverBlue200, GUID_ContainerFormatPng);

    StartBatchOn(folder);
    WaitForBatchEnd();

    // Closing the probe's dialog uncovers the client area: the repaint must
    // bring the preview back.
    Picture screen;
    std::string first;
    int mismatches = -1;
    const DWORD start = GetTickCount();
    while (mismatches != 0 && ElapsedSince(start) < 2000)
    {
        ASSERT_TRUE(CaptureClientArea(app.window, &screen)) << "could not read the client area";
        mismatches = CountPreviewMismatches(screen, &first);
        if (mismatches)
            Sleep(50);
    }
    EXPECT_EQ(0, mismatches) << "expected the picture fitted to 284 x 95 at the top-left on white; first difference: "
                             << first;
}

TEST_F(QuillmereTest, Choosing150PercentEnlargesTheNextBatch)
{
    WriteImage(L"a.png", 202, 122, SolidGreen, GUID_ContainerFormatPng);
    PostCommand(app, CMD_IMAGE_SIZE);
    HWND dialog = WaitForDialog(app.process.dwProcessId, IMAGE_SIZE_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(dialog != NULL) << "expected \"" << Narrow(IMAGE_SIZE_CAPTION) << "\"";
    ClickDialogButton(dialog, 1006);
    ASSERT_TRUE(FocusWindow(dialog));
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitForWindowGone(dialog, DIALOG_TIMEOUT_MS)) << "expected Enter to close Image size";

    PostCommand(app, CMD_IMAGE_SIZE);
    dialog = WaitForDialog(app.process.dwProcessId, IMAGE_SIZE_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(dialog != NULL);
    EXPECT_EQ(BST_CHECKED, ReadButtonCheck(dialog, 1006)) << "150% when opened again";
    EXPECT_EQ(BST_UNCHECKED, ReadButtonCheck(dialog, 1002)) << "25% when opened again";
    ClickDialogButton(dialog, IDOK);
    ASSERT_TRUE(WaitForWindowGone(dialog, DIALOG_TIMEOUT_MS));

    StartBatchOn(folder);
    WaitForBatchEnd();
    ExpectOutputs(ResizedFolder(), {{L"a.png", 303, 183}});
}

TEST_F(QuillmereTest, CancellingTheFolderBrowserCreatesNothing)
{
    WriteImage(L"a.png", 40, 40, SolidGreen, GUID_ContainerFormatPng);
    // File > Open through the real menu bar this time.
    ASSERT_TRUE(ChooseMenuItem(app.window, L'F', L'O'));
    HWND browser = WaitForDialog(app.process.dwProcessId, FOLDER_BROWSER_CAPTION, BROWSER_TIMEOUT_MS);
    ASSERT_TRUE(browser != NULL) << "expected Alt+F, O to open the folder browser";
    std::wstring error;
    ASSERT_TRUE(SelectFolderInBrowser(app.process.hProcess, browser, folder, &error)) << Narrow(error);
    ClickDialogButton(browser, FOLDER_BROWSER_CANCEL);
    ASSERT_TRUE(WaitForWindowGone(browser, DIALOG_TIMEOUT_MS)) << "expected Cancel to close the browser";

    WaitForBatchEnd();
    EXPECT_FALSE(FileExists(ResizedFolder())) << "expected no Resized folder after Cancel";
    EXPECT_EQ(std::vector<std::wstring>{L"a.png"}, ListFolder(folder)) << "the folder changed";
}

TEST_F(QuillmereTest, EmblemStaysUntilTheFirstPreview)
{
    HWND browser = OpenFolderBrowser();
    ASSERT_TRUE(browser != NULL) << "expected the folder browser";
    ClickDialogButton(browser, FOLDER_BROWSER_CANCEL);
    ASSERT_TRUE(WaitForWindowGone(browser, DIALOG_TIMEOUT_MS));
    WaitForBatchEnd();

    Picture screen;
    std::string first;
    const int mismatches = WaitForEmblemOnWhite(app.window, &screen, &first);
    EXPECT_EQ(0, mismatches) << "expected the emblem on white after an Open without images; first difference: "
                             << first;
}

TEST_F(QuillmereTest, CommandsAreIgnoredWhileTheFolderBrowserIsOpen)
{
    HWND browser = OpenFolderBrowser();
    ASSERT_TRUE(browser != NULL) << "expected the folder browser";
    for (WORD command : {CMD_ABOUT, CMD_IMAGE_SIZE, CMD_HOW_TO_USE, CMD_OPEN, CMD_EXIT})
        PostCommand(app, command);
    ExpectNoDialogAppears(FOLDER_BROWSER_CAPTION);
    EXPECT_EQ(1u, ListDialogCaptions(app.process.dwProcessId).size()) << "expected the one folder browser only";
    EXPECT_TRUE(IsRunning(app)) << "Exit was carried out while the folder browser was open";

    ClickDialogButton(browser, FOLDER_BROWSER_CANCEL);
    ASSERT_TRUE(WaitForWindowGone(browser, DIALOG_TIMEOUT_MS));
    // Dropped, not queued: nothing turns up once the browser has gone.
    ExpectNoDialogAppears(NULL);
    EXPECT_TRUE(IsRunning(app)) << "a dropped Exit was carried out later";
}

TEST_F(QuillmereTest, CommandsAreIgnoredWhileABatchRuns)
{
    // Enlarged noise: each file takes a while to encode, so the batch runs
    // for seconds on every core this machine has.
    const int imageCount = 24;
    ASSERT_NO_FATAL_FAILURE(StartLongBatch(imageCount, 800, 600));

    for (WORD command : {CMD_ABOUT, CMD_IMAGE_SIZE, CMD_HOW_TO_USE, CMD_OPEN, CMD_EXIT})
        PostCommand(app, command);
    ASSERT_TRUE(FocusWindow(app.window));
    PressKey(VK_OEM_2, VK_MENU); // Alt+/
    ExpectNoDialogAppears(NULL);
    ASSERT_TRUE(IsRunning(app)) << "Exit was carried out during the batch";
    // The checks above only mean something if the batch was still running.
    EXPECT_LT(ListFolder(ResizedFolder()).size(), static_cast<size_t>(imageCount))
        << "the batch ended before the commands were checked";

    WaitForBatchEnd();
    EXPECT_EQ(static_cast<size_t>(imageCount), ListFolder(ResizedFolder()).size())
        << "expected every image resized: the batch went on untouched";
    ExpectNoDialogAppears(NULL);
}
