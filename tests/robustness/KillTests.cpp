// A batch process killed in the middle of writing (Task Manager, a crash,
// a power cut) must not leave a cut-off image under the output's name. A
// child copy of this program resizes one large image over and over; the
// test kills it at varying moments and looks at what is left.
#include "RobustSupport.h"

#include "batch/ResizePipeline.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace
{
const wchar_t CHILD_VARIABLE[] = L"QM_KILL_CHILD_FOLDER";
const UINT WIDTH = 1600, HEIGHT = 1200;

std::wstring ChildFolder()
{
    wchar_t value[MAX_PATH] = L"";
    return GetEnvironmentVariableW(CHILD_VARIABLE, value, MAX_PATH) ? value : L"";
}

// Starts this program again, running only the child test, with folder in
// its environment.
HANDLE StartChild(const std::wstring &folder)
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(NULL, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=KillChild.ResizesUntilKilled";
    SetEnvironmentVariableW(CHILD_VARIABLE, folder.c_str());
    // The child's own report would only clutter this one.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(program, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    SetEnvironmentVariableW(CHILD_VARIABLE, NULL);
    CloseHandle(nul);
    if (!started)
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}
} // namespace

// Not a test of its own: the body of the child process. Skipped in every
// ordinary run.
TEST(KillChild, ResizesUntilKilled)
{
    const std::wstring folder = ChildFolder();
    if (folder.empty())
        GTEST_SKIP() << "runs only as the child process of KilledMidWrite";
    ASSERT_TRUE(TestFactory() != NULL); // the imaging context that Open would make
    ScaleGuard scale(1.5f);
    const std::wstring input = folder + L"\\big.png", output = OutputFolderOf(folder) + L"\\big.png";
    const DWORD start = timeGetTime();
    for (int round = 0; timeGetTime() - start < 60000; ++round)
    {
        ResizeImageFile(NULL, input.c_str(), output.c_str());
        if (round == 0)
            WriteFileBytes(folder + L"\\child-ready", "1", 1);
    }
}

TEST(KilledMidWrite, NeverLeavesACutOffImageUnderTheOutputName)
{
    const std::wstring folder = MakeTempFolder(L"kill");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(WriteImage(folder + L"\\big.png", WIDTH, HEIGHT, GUID_ContainerFormatPng));
    ASSERT_TRUE(CreateDirectoryW(OutputFolderOf(folder).c_str(), NULL));
    const std::wstring output = OutputFolderOf(folder) + L"\\big.png";

    // The first child shows how long one round takes; later kills are
    // spread over that time.
    HANDLE child = StartChild(folder);
    ASSERT_TRUE(child != NULL) << "could not start the child: error " << GetLastError();
    const DWORD started = timeGetTime();
    while (!FileExists(folder + L"\\child-ready") && timeGetTime() - started < 20000)
        Sleep(5);
    const DWORD firstRound = timeGetTime() - started;
    TerminateProcess(child, 1);
    WaitForSingleObject(child, INFINITE);
    CloseHandle(child);
    ASSERT_TRUE(FileExists(folder + L"\\child-ready")) << "the child never finished a round";

    Random random(11);
    const int kills = 8;
    int leftovers = 0, whole = 0, absent = 0;
    for (int i = 0; i < kills; ++i)
    {
        child = StartChild(folder);
        ASSERT_TRUE(child != NULL);
        // Start-up, then a moment somewhere within a round.
        Sleep(200 + random.Below(firstRound + 1));
        TerminateProcess(child, 1);
        WaitForSingleObject(child, INFINITE);
        CloseHandle(child);

        if (FileExists(output))
        {
            DecodedImage image = DecodeCompletely(output);
            EXPECT_EQ(S_OK, image.hr) << "kill " << i << ": the output under its own name is cut off";
            EXPECT_EQ(ExpectedSide(WIDTH, 1.5f), image.width);
            EXPECT_EQ(ExpectedSide(HEIGHT, 1.5f), image.height);
            ++whole;
        }
        else
            ++absent;
        leftovers = static_cast<int>(FindLeftovers(folder).size());
    }
    printf("[kill] %d kills (a round takes about %lu ms): output whole %d times, absent %d times; "
           "temporary files left in Resized: %d\n",
           kills, static_cast<unsigned long>(firstRound), whole, absent, leftovers);
    RecordProperty("temporary_files_after_kills", leftovers);
    RemoveTestFolder(folder);
}

// A writer killed halfway leaves its temporary file ("qmw*.tmp" in
// Resized); the state below is what the test above produces whenever a
// kill lands inside a write. The next batch over the folder removes it.
TEST(KilledMidWrite, NextBatchClearsTheTemporaryFileOfAKilledWriter)
{
    const std::wstring folder = MakeTempFolder(L"kill");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(WriteImage(folder + L"\\a.png", 40, 30, GUID_ContainerFormatPng));
    ASSERT_TRUE(CreateDirectoryW(OutputFolderOf(folder).c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(OutputFolderOf(folder) + L"\\qmw1A2B.tmp", "\x89PNG\r\n", 6));
    DWORD elapsed = 0;
    ASSERT_TRUE(RunWalk(folder, 30000, &elapsed));
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "the killed writer's temporary file is still in Resized";
    RemoveTestFolder(folder);
}
