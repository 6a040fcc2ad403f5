// Ending the program: from the menu, by closing the window, during a batch
// and while the folder browser is open. Every way ends with status 0, soon,
// and never leaves a half-written file behind.
#include "FolderBrowser.h"
#include "KeyboardInput.h"
#include "QuillmereTest.h"

namespace
{
void ExpectExitsWithZero(const RunningApp &app, DWORD timeoutMs, const char *how)
{
    DWORD exitCode = 12345;
    ASSERT_TRUE(WaitForExit(app, timeoutMs, &exitCode)) << "expected " << how << " to end the program within "
                                                        << timeoutMs << " ms; it still runs";
    EXPECT_EQ(0u, exitCode) << "exit status after " << how;
}
} // namespace

TEST_F(QuillmereTest, ExitCommandEndsWithStatusZero)
{
    PostCommand(app, CMD_EXIT);
    ExpectExitsWithZero(app, EXIT_TIMEOUT_MS, "command 105 (Exit)");
}

TEST_F(QuillmereTest, FileExitFromTheKeyboardEndsWithStatusZero)
{
    ASSERT_TRUE(ChooseMenuItem(app.window, L'F', L'X'));
    ExpectExitsWithZero(app, EXIT_TIMEOUT_MS, "Alt+F, X");
}

TEST_F(QuillmereTest, ClosingWhileTheFolderBrowserIsOpenEndsWithStatusZero)
{
    HWND browser = OpenFolderBrowser();
    ASSERT_TRUE(browser != NULL) << "expected the folder browser";
    const DWORD start = GetTickCount();
    PostMessageW(app.window, WM_CLOSE, 0, 0);
    ASSERT_NO_FATAL_FAILURE(ExpectExitsWithZero(app, EXIT_TIMEOUT_MS, "WM_CLOSE with the folder browser open"));
    EXPECT_LT(ElapsedSince(start), 2000u) << "closing took too long";
    EXPECT_FALSE(FileExists(ResizedFolder())) << "nothing was chosen, yet Resized appeared";
}

TEST_F(QuillmereTest, ClosingDuringABatchEndsWithStatusZeroAndLeavesOnlyWholeFiles)
{
    // Enlarged noise takes long to encode, so the close lands while the
    // first outputs are being written, one per worker: a temporary file is
    // what shows that writing has begun. Eight are more than the workers of
    // any machine this runs on can have in work at once here.
    const int imageCount = 8;
    ASSERT_NO_FATAL_FAILURE(StartLongBatch(imageCount, 1200, 900));

    PostMessageW(app.window, WM_CLOSE, 0, 0);
    // The program finishes the entries in progress, one per worker, and
    // starts no other; on a busy machine writing them takes a few seconds.
    ASSERT_NO_FATAL_FAILURE(ExpectExitsWithZero(app, 4 * EXIT_TIMEOUT_MS, "WM_CLOSE during a batch"));

    ExpectStoppedEarlyWithWholeCopies(imageCount);
}
