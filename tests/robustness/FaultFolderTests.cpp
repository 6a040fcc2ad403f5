// Faults on the input side of a batch: the folder renamed or deleted while
// it is walked, a drive root, folders with no or one entry, and names near
// the path limit.
#include "RobustSupport.h"

#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <winioctl.h>

namespace
{
const DWORD WALK_LIMIT_MS = 30000;
const UINT WIDTH = 40, HEIGHT = 30;

void ExpectWholeOutput(const std::wstring &path)
{
    DecodedImage image = DecodeCompletely(path);
    EXPECT_EQ(S_OK, image.hr) << Narrow(path) << ": expected a whole output, decoding gave " << Hex(image.hr);
    EXPECT_EQ(ExpectedSide(WIDTH, 0.25f), image.width) << Narrow(path);
    EXPECT_EQ(ExpectedSide(HEIGHT, 0.25f), image.height) << Narrow(path);
}

// Every file in Resized decodes whole; the number of them.
size_t ExpectOnlyWholeOutputs(const std::wstring &folder)
{
    const std::vector<std::wstring> names = ListFolder(OutputFolderOf(folder));
    for (const std::wstring &name : names)
        ExpectWholeOutput(OutputFolderOf(folder) + L"\\" + name);
    return names.size();
}

std::wstring FillFolder(const std::wstring &folder, int count)
{
    for (int i = 0; i < count; ++i)
    {
        wchar_t name[32];
        swprintf(name, 32, L"\\img%03d.png", i);
        if (!WriteImage(folder + name, WIDTH, HEIGHT, GUID_ContainerFormatPng))
            return name;
    }
    return std::wstring();
}

// Waits until the walk has written its first output.
bool WaitForFirstOutput(const std::wstring &folder)
{
    for (int i = 0; i < 1000; ++i)
    {
        if (!ListFolder(OutputFolderOf(folder)).empty())
            return true;
        Sleep(10);
    }
    return false;
}

// Walks `walked` and renames `renamed` (the walked folder or one of its
// parents) as soon as the first output exists. The walk must end in time,
// the inputs must be as they were, and Resized may hold only whole images.
// *now receives where `renamed` is afterwards.
void ExpectWalkSurvivesRename(const std::wstring walked, const std::wstring renamed, std::wstring *now)
{
    *now = renamed;
    ASSERT_EQ(L"", FillFolder(walked, 20));
    const std::map<std::wstring, uint64_t> before = HashFiles(walked);
    WalkRun run = StartWalk(walked);
    ASSERT_TRUE(WaitForFirstOutput(walked)) << "no output appeared within 10 s";

    const std::wstring moved = renamed + L"-moved";
    const bool done = MoveFileW(renamed.c_str(), moved.c_str()) != FALSE;
    const DWORD error = done ? 0 : GetLastError();
    DWORD elapsed = 0;
    EXPECT_TRUE(FinishWalk(run, WALK_LIMIT_MS, &elapsed)) << "the walk must end after the rename";

    if (done)
        *now = moved;
    const std::wstring walkedNow = *now + walked.substr(renamed.size());
    EXPECT_EQ(before, HashFiles(walkedNow)) << "an input file was changed";
    const size_t outputs = ExpectOnlyWholeOutputs(walkedNow);
    std::vector<std::wstring> leftovers = FindLeftovers(*now);
    if (done && walked != renamed && !leftovers.empty())
    {
        // Windows refuses to move a parent of the listed folder; Wine 8 moves
        // it while copies are in work, one per worker, and a temporary file
        // then deleted through its handle can stay under the new path. The
        // next batch over the folder clears it.
        printf("[fault] %u temporary file(s) under the moved parent; walking the folder again\n",
               static_cast<unsigned>(leftovers.size()));
        DWORD again = 0;
        EXPECT_TRUE(RunWalk(walkedNow, WALK_LIMIT_MS, &again));
        leftovers = FindLeftovers(*now);
    }
    for (const std::wstring &leftover : leftovers)
        ADD_FAILURE() << "partial file left behind: " << Narrow(leftover);
    if (done)
    {
        EXPECT_FALSE(FileExists(renamed)) << "the walk must not recreate the old folder";
        RemoveTestFolder(renamed);
    }
    printf("[fault] %s renamed during the walk: %s (error %lu), %u of 20 outputs, %lu ms\n",
           walked == renamed ? "folder" : "parent folder", done ? "done" : "refused", static_cast<unsigned long>(error),
           static_cast<unsigned>(outputs), static_cast<unsigned long>(elapsed));
}

// Wine's mount manager defines a drive letter for a Unix folder (what its
// configuration tool does); the request carries the folder's Unix path.
struct WineUnixDrive
{
    ULONG size, type, fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset, deviceOffset, labelOffset;
};
const DWORD IOCTL_DEFINE_WINE_UNIX_DRIVE = CTL_CODE(static_cast<ULONG>('m'), 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

bool DefineWineDrive(wchar_t letter, const char *unixPath)
{
    char request[1024] = {};
    WineUnixDrive *drive = reinterpret_cast<WineUnixDrive *>(request);
    drive->letter = letter;
    drive->size = sizeof(WineUnixDrive);
    drive->type = DRIVE_NO_ROOT_DIR; // removes the drive
    if (unixPath)
    {
        if (strlen(unixPath) + 1 > sizeof(request) - sizeof(WineUnixDrive))
            return false;
        drive->type = DRIVE_FIXED;
        drive->mountPointOffset = sizeof(WineUnixDrive);
        strcpy(request + sizeof(WineUnixDrive), unixPath);
        drive->size += static_cast<ULONG>(strlen(unixPath) + 1);
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(manager, IOCTL_DEFINE_WINE_UNIX_DRIVE, drive, drive->size, NULL, 0, &returned, NULL);
    CloseHandle(manager);
    return ok != FALSE;
}

// A drive letter whose root is folder, for one test.
class MappedDrive
{
public:
    explicit MappedDrive(const std::wstring &folder) : letter(0), wine(false)
    {
        const std::wstring marker = folder + L"\\marker.txt";
        WriteFileBytes(marker, "x", 1);
        const DWORD used = GetLogicalDrives();
        wchar_t candidate = L'Y';
        while (candidate > L'J' && (used & (1u << (candidate - L'A'))))
            --candidate;
        if (candidate == L'J')
            return;
        const wchar_t device[] = {candidate, L':', 0};
        const wchar_t probe[] = {candidate, L':', L'\\', L'm', L'a', L'r', L'k', L'e', L'r', L'.', L't', L'x', L't', 0};
        // Windows: a substituted drive. Wine 8 accepts the definition and
        // reports it through QueryDosDeviceW, but file access does not follow
        // it (ERROR_PATH_NOT_FOUND), so there the mount manager is used.
        if (DefineDosDeviceW(0, device, folder.c_str()) && FileExists(probe))
            letter = candidate;
        else
        {
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, device, NULL);
            typedef char *(CDECL * UnixName)(LPCWSTR);
            UnixName unixName = reinterpret_cast<UnixName>(
                reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
            char *path = unixName ? unixName(folder.c_str()) : NULL;
            if (path && DefineWineDrive(candidate, path) && FileExists(probe))
            {
                letter = candidate;
                wine = true;
            }
            if (path)
                HeapFree(GetProcessHeap(), 0, path);
        }
        DeleteFileW(marker.c_str());
    }
    ~MappedDrive()
    {
        const wchar_t device[] = {letter, L':', 0};
        if (letter && wine)
            DefineWineDrive(letter, NULL);
        else if (letter)
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, device, NULL);
    }
    std::wstring Root() const { return std::wstring(1, letter) + L":\\"; }

    wchar_t letter;
    bool wine;
};

class FolderFault : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(g_quitRequested.load());
        folder = MakeTempFolder(L"fault-in");
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override { RemoveTestFolder(folder); }

    ScaleGuard scale{0.25f};
    std::wstring folder;
};
} // namespace

TEST_F(FolderFault, RenamedWhileWalkingEndsCleanly)
{
    // Windows refuses: the walk holds the folder as its current directory
    // and through its listing. Wine 8 refuses as well (error 32).
    ExpectWalkSurvivesRename(folder, folder, &folder);
}

TEST_F(FolderFault, ParentRenamedWhileWalkingEndsCleanly)
{
    // Windows refuses this too; Wine 8 lets the parent move underneath the
    // walk, whose paths then lead nowhere.
    const std::wstring photos = folder + L"\\photos";
    ASSERT_TRUE(CreateDirectoryW(photos.c_str(), NULL));
    ExpectWalkSurvivesRename(photos, folder, &folder);
}

TEST_F(FolderFault, DeletedWhileWalkingEndsCleanly)
{
    ASSERT_EQ(L"", FillFolder(folder, 20));
    WalkRun run = StartWalk(folder);
    ASSERT_TRUE(WaitForFirstOutput(folder)) << "no output appeared within 10 s";

    // The folder itself stays, on Windows and under Wine 8 alike: it is the
    // walk's current directory and its listing is open. Its files go.
    // (Plain RemoveTree: the walk is still using the imaging context.)
    RemoveTree(folder);
    const bool gone = !FileExists(folder);
    DWORD elapsed = 0;
    EXPECT_TRUE(FinishWalk(run, WALK_LIMIT_MS, &elapsed)) << "the walk must end after its folder went";

    if (!gone)
    {
        ExpectOnlyWholeOutputs(folder);
        for (const std::wstring &leftover : FindLeftovers(folder))
            ADD_FAILURE() << "partial file left behind: " << Narrow(leftover);
    }
    else
    {
        EXPECT_FALSE(FileExists(folder)) << "the walk must not recreate a deleted folder";
    }
    printf("[fault] folder deleted during the walk: folder %s, walk ended after %lu ms\n",
           gone ? "gone" : "kept by the platform", static_cast<unsigned long>(elapsed));
}

TEST_F(FolderFault, DriveRootIsWalkedFromItsFirstEntry)
{
    // A root lists no "." and "..": every one of its entries is an image
    // to resize, the first two included.
    const wchar_t *names[] = {L"a.png", L"b.png", L"c.png"};
    for (const wchar_t *name : names)
        ASSERT_TRUE(WriteImage(folder + L"\\" + name, WIDTH, HEIGHT, GUID_ContainerFormatPng));
    MappedDrive drive(folder);
    ASSERT_NE(0, drive.letter) << "could not give the folder a drive letter";
    printf("[fault] drive %lc: mapped through %s\n", drive.letter,
           drive.wine ? "Wine's mount manager (DefineDosDeviceW links are not followed)" : "DefineDosDeviceW");

    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((drive.Root() + L"*.*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    EXPECT_STREQ(L"a.png", entry.cFileName) << "a root's listing starts with its first real entry";

    const std::map<std::wstring, uint64_t> before = HashFiles(folder);
    DWORD elapsed = 0;
    // The folder browser hands a root over with its separator: "Y:\".
    EXPECT_TRUE(RunWalk(drive.Root(), WALK_LIMIT_MS, &elapsed));
    EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
    for (const wchar_t *name : names)
        ExpectWholeOutput(drive.Root() + L"Resized\\" + name);
    EXPECT_EQ(3u, ListFolder(folder + L"\\Resized").size());
    EXPECT_TRUE(FindLeftovers(folder).empty());
}

TEST_F(FolderFault, EmptyFolderGetsAnEmptyResized)
{
    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed));
    EXPECT_TRUE(GetFileAttributesW(OutputFolderOf(folder).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(std::vector<std::wstring>{L"Resized"}, ListFolder(folder));
    EXPECT_TRUE(ListFolder(OutputFolderOf(folder)).empty());
}

TEST_F(FolderFault, OneEntryGivesOneWholeOutput)
{
    ASSERT_TRUE(WriteImage(folder + L"\\only.png", WIDTH, HEIGHT, GUID_ContainerFormatPng));
    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed));
    EXPECT_EQ(std::vector<std::wstring>{L"only.png"}, ListFolder(OutputFolderOf(folder)));
    ExpectWholeOutput(OutputFolderOf(folder) + L"\\only.png");
}

TEST_F(FolderFault, NamesOf200CharactersAndNamesTooLongForTheOutput)
{
    // 200 characters fit both paths; the other two are skipped untouched,
    // one because its output path, one because its own path would pass
    // MAX_PATH. (Wine accepts longer paths, so only the walk's own limits
    // can keep them out.)
    const size_t base = folder.size();
    const std::wstring fits = std::wstring(196, L'p') + L".png";
    const std::wstring outputTooLong = std::wstring(MAX_PATH - base - 9 - 4, L'q') + L".png";
    const std::wstring inputTooLong = std::wstring(MAX_PATH - base - 4, L'r') + L".png";
    ASSERT_LT(base + 9 + fits.size(), static_cast<size_t>(MAX_PATH)) << "the temporary folder's path is too long for this test";
    ASSERT_LE(inputTooLong.size(), 255u);
    // Windows needs the "\\?\\" form to make (and remove) a file whose path
    // passes MAX_PATH; Wine takes it as well.
    const std::wstring longInput = L"\\\\?\\" + folder + L"\\" + inputTooLong;
    for (const std::wstring &name : {fits, outputTooLong, std::wstring(L"zz.png")})
        ASSERT_TRUE(WriteImage(folder + L"\\" + name, WIDTH, HEIGHT, GUID_ContainerFormatPng)) << name.size();
    ASSERT_TRUE(WriteImage(longInput, WIDTH, HEIGHT, GUID_ContainerFormatPng));
    const std::map<std::wstring, uint64_t> before = HashFiles(folder);

    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed));

    EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
    const std::vector<std::wstring> expected = {fits, L"zz.png"};
    EXPECT_EQ(expected, ListFolder(OutputFolderOf(folder))) << "only whole names may be written";
    ExpectOnlyWholeOutputs(folder);
    EXPECT_TRUE(FindLeftovers(folder).empty());
    DeleteFileW(longInput.c_str());
}
