// Faults on the output side of a batch: "Resized" that is a file or
// read-only, outputs that are read-only, held open or named with another
// case. The batch must go on, leave the inputs as they were, and leave
// behind only whole outputs and no temporary files.
#include "RobustSupport.h"

#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace
{
const DWORD WALK_LIMIT_MS = 30000;
const UINT WIDTH = 40, HEIGHT = 30;

class OutputFault : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(g_quitRequested.load());
        folder = MakeTempFolder(L"fault-out");
        output = OutputFolderOf(folder);
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override { RemoveTestFolder(folder); }

    void AddInput(const wchar_t *name) { ASSERT_TRUE(WriteImage(folder + L"\\" + name, WIDTH, HEIGHT, GUID_ContainerFormatPng)); }

    // Walks the folder, checking that it ends in time and changes no input.
    void Walk()
    {
        const std::map<std::wstring, uint64_t> before = HashFiles(folder);
        DWORD elapsed = 0;
        EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed)) << "the walk took longer than " << WALK_LIMIT_MS << " ms";
        EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
        for (const std::wstring &leftover : FindLeftovers(folder))
            ADD_FAILURE() << "partial file left behind: " << Narrow(leftover);
    }

    void ExpectWholeOutput(const wchar_t *name)
    {
        DecodedImage image = DecodeCompletely(output + L"\\" + name);
        EXPECT_EQ(S_OK, image.hr) << Narrow(name) << ": expected a whole output, decoding gave " << Hex(image.hr);
        EXPECT_EQ(ExpectedSide(WIDTH, 0.25f), image.width) << Narrow(name);
        EXPECT_EQ(ExpectedSide(HEIGHT, 0.25f), image.height) << Narrow(name);
    }

    ScaleGuard scale{0.25f};
    std::wstring folder, output;
};
} // namespace

TEST_F(OutputFault, ResizedIsAFileNothingIsWrittenAndItStaysAsItWas)
{
    AddInput(L"a.png");
    AddInput(L"b.png");
    // A decodable image under the name "Resized": the walk offers it to the
    // pipeline too, whose output would have to go inside it.
    ASSERT_TRUE(WriteImage(output, 20, 10, GUID_ContainerFormatPng));
    const std::vector<std::wstring> namesBefore = ListFolder(folder);

    Walk(); // the file "Resized" is among the hashed inputs

    EXPECT_EQ(namesBefore, ListFolder(folder)) << "nothing may be created beside the inputs";
    EXPECT_FALSE(GetFileAttributesW(output.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(OutputFault, ReadOnlyResizedFolderBehavesAsThePlatformAllows)
{
    AddInput(L"a.png");
    AddInput(L"b.png");
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    ASSERT_TRUE(SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    const bool attributeKept = (GetFileAttributesW(output.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;

    // Windows does not stop file creation in a read-only folder (the bit
    // only marks customised folders). Wine 8 accepts the call but drops the
    // bit on folders: GetFileAttributesW does not report it back. So ask the
    // platform itself first, then hold the batch to the same answer.
    const std::wstring probe = output + L"\\probe.bin";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    const bool creatable = file != INVALID_HANDLE_VALUE;
    if (creatable)
    {
        CloseHandle(file);
        DeleteFileW(probe.c_str());
    }
    printf("[fault] read-only \"Resized\": attribute %s, files %s be created in it\n",
           attributeKept ? "reported back" : "not reported back", creatable ? "can" : "cannot");

    Walk();

    if (creatable)
    {
        ExpectWholeOutput(L"a.png");
        ExpectWholeOutput(L"b.png");
    }
    else
        EXPECT_TRUE(ListFolder(output).empty()) << "nothing can be written, so nothing may be there";
}

TEST_F(OutputFault, ReadOnlyOutputIsKeptAndTheBatchGoesOn)
{
    AddInput(L"a.png");
    AddInput(L"b.png");
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    const std::wstring locked = output + L"\\a.png";
    ASSERT_TRUE(WriteFileBytes(locked, "do not touch", 12));
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));

    Walk();

    std::vector<BYTE> bytes = ReadFileBytes(locked);
    EXPECT_EQ("do not touch", std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(GetFileAttributesW(locked.c_str()) & FILE_ATTRIBUTE_READONLY);
    ExpectWholeOutput(L"b.png");
}

TEST_F(OutputFault, OutputHeldOpenWithoutSharingIsNeverHalfReplaced)
{
    AddInput(L"a.png");
    AddInput(L"b.png");
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    const std::wstring held = output + L"\\a.png";
    ASSERT_TRUE(WriteImage(held, 7, 7, GUID_ContainerFormatPng));
    const uint64_t oldHash = HashBytes(ReadFileBytes(held));
    HANDLE handle = CreateFileW(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);

    Walk();

    // What the holder reads through its own handle never changes.
    std::vector<BYTE> seen(GetFileSize(handle, NULL));
    DWORD read = 0;
    SetFilePointer(handle, 0, NULL, FILE_BEGIN);
    EXPECT_TRUE(ReadFile(handle, seen.data(), static_cast<DWORD>(seen.size()), &read, NULL));
    seen.resize(read);
    EXPECT_EQ(oldHash, HashBytes(seen)) << "the open handle must still read the old image";
    CloseHandle(handle);

    // Windows refuses to replace a file open without delete sharing, so
    // the old image stays; should a platform allow the replacement, the
    // new output must be whole.
    const bool replaced = HashBytes(ReadFileBytes(held)) != oldHash;
    printf("[fault] output held open without sharing: %s\n", replaced ? "replaced" : "kept");
    if (replaced)
        ExpectWholeOutput(L"a.png");
    ExpectWholeOutput(L"b.png");
}

TEST_F(OutputFault, InputHeldOpenWithoutSharingIsSkipped)
{
    AddInput(L"a.png");
    AddInput(L"b.png");
    HANDLE handle = CreateFileW((folder + L"\\a.png").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);

    Walk();

    CloseHandle(handle);
    EXPECT_FALSE(FileExists(output + L"\\a.png")) << "an input nobody may read cannot have been resized";
    ExpectWholeOutput(L"b.png");
}

TEST_F(OutputFault, StaleOutputNamedInOtherCaseIsReplacedByOneWholeFile)
{
    AddInput(L"Photo.png");
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    ASSERT_TRUE(WriteImage(output + L"\\PHOTO.PNG", 7, 7, GUID_ContainerFormatPng));

    Walk();

    std::vector<std::wstring> names = ListFolder(output);
    ASSERT_EQ(1u, names.size()) << "names that differ only in case are one file";
    EXPECT_EQ(0, _wcsicmp(L"photo.png", names[0].c_str())) << Narrow(names[0]);
    ExpectWholeOutput(L"photo.png");
}

TEST_F(OutputFault, ReadOnlyOutputNamedInOtherCaseIsKept)
{
    AddInput(L"b.png");
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    const std::wstring locked = output + L"\\B.PNG";
    ASSERT_TRUE(WriteFileBytes(locked, "locked", 6));
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));

    Walk();

    std::vector<BYTE> bytes = ReadFileBytes(locked);
    EXPECT_EQ("locked", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(1u, ListFolder(output).size());
}

TEST(CaseTwins, BothAreResizedAndResizedHoldsOnlyWholeImages)
{
    // Win32 folds case when it creates a file, on Windows and under Wine 8
    // (there even an NT create without OBJ_CASE_INSENSITIVE collides), so
    // the pair "twin.bmp" (8 x 4) and "TWIN.BMP" (4 x 8) is made by
    // make-case-twins.sh before this program runs.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring folder = std::wstring(current) + L"\\case-twins";
    if (ListFolder(folder).size() != 2)
        GTEST_SKIP() << "no case twins prepared in " << Narrow(folder) << " (made by the CTest fixture)";
    ScaleGuard scale(0.25f);
    const std::map<std::wstring, uint64_t> before = HashFiles(folder);
    ASSERT_EQ(2u, before.size());

    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, WALK_LIMIT_MS, &elapsed));

    EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
    EXPECT_TRUE(FindLeftovers(folder).empty());
    // "Resized" folds case, so the second output replaces the first under
    // one name; whatever is there must be whole and one twin's size.
    const std::vector<std::wstring> names = ListFolder(OutputFolderOf(folder));
    ASSERT_GE(names.size(), 1u);
    for (const std::wstring &name : names)
    {
        DecodedImage image = DecodeCompletely(OutputFolderOf(folder) + L"\\" + name);
        EXPECT_EQ(S_OK, image.hr) << Narrow(name) << ": " << Hex(image.hr);
        const bool wide = image.width == 2 && image.height == 1, tall = image.width == 1 && image.height == 2;
        EXPECT_TRUE(wide || tall) << Narrow(name) << " is " << image.width << " x " << image.height;
    }
    printf("[fault] inputs twin.bmp and TWIN.BMP: %u output(s) in Resized\n", static_cast<unsigned>(names.size()));
}
