// Volume: one folder of 1000 entries walked as the batch walks it, paced at
// 60 ms an entry (so about a minute). Every image must come out whole, and
// nothing else may appear.
#include "RobustSupport.h"

#include "imaging/SharedFlags.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>

TEST(FolderScale, ThousandEntriesLoseNothing)
{
    ASSERT_FALSE(g_quitRequested.load());
    ScaleGuard scale(0.25f);
    const std::wstring folder = MakeTempFolder(L"thousand");
    ASSERT_FALSE(folder.empty());

    // Tiny images of every kind, with a text file and a subfolder every
    // tenth entry: the walk must pass over those and go on.
    const struct
    {
        const wchar_t *extension;
        std::vector<BYTE> bytes;
    } kinds[] = {{L"jpg", MakeImageBytes(8, 8, GUID_ContainerFormatJpeg)},
                 {L"png", MakeImageBytes(8, 8, GUID_ContainerFormatPng)},
                 {L"gif", MakeImageBytes(8, 8, GUID_ContainerFormatGif)},
                 {L"bmp", MakeImageBytes(8, 8, GUID_ContainerFormatBmp)},
                 {L"tif", MakeImageBytes(8, 8, GUID_ContainerFormatTiff)}};
    std::vector<std::wstring> images;
    int others = 0;
    for (int i = 0; i < 1000; ++i)
    {
        wchar_t stem[16];
        swprintf(stem, 16, L"\\e%04d.", i);
        if (i % 10 == 9)
        {
            ASSERT_TRUE(i % 20 == 9 ? WriteFileBytes(folder + stem + L"txt", "not an image", 12)
                                    : CreateDirectoryW((folder + stem + L"dir").c_str(), NULL));
            ++others;
            continue;
        }
        const auto &kind = kinds[i % 5];
        const std::wstring name = std::wstring(stem + 1) + kind.extension;
        ASSERT_TRUE(WriteFileBytes(folder + L"\\" + name, kind.bytes.data(), kind.bytes.size()));
        images.push_back(name);
    }
    ASSERT_EQ(1000u, ListFolder(folder).size());
    const std::map<std::wstring, uint64_t> before = HashFiles(folder);

    DWORD elapsed = 0;
    EXPECT_TRUE(RunWalk(folder, 150000, &elapsed)) << "1000 entries must be done well within 150 s";

    EXPECT_EQ(before, HashFiles(folder)) << "an input file was changed";
    const std::vector<std::wstring> outputs = ListFolder(OutputFolderOf(folder));
    std::vector<std::wstring> expected = images;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, outputs) << "every image, and nothing else, must be in Resized";
    int whole = 0;
    for (const std::wstring &name : outputs)
    {
        DecodedImage image = DecodeCompletely(OutputFolderOf(folder) + L"\\" + name);
        if (image.hr == S_OK && image.width == 2 && image.height == 2)
            ++whole;
        else
            ADD_FAILURE() << Narrow(name) << ": " << Hex(image.hr) << ", " << image.width << " x " << image.height;
    }
    EXPECT_TRUE(FindLeftovers(folder).empty());
    printf("[scale] 1000 entries (%u images, %d others): %d whole outputs, %lu ms (%.1f ms an entry)\n",
           static_cast<unsigned>(images.size()), others, whole, static_cast<unsigned long>(elapsed), elapsed / 1000.0);
    RecordProperty("thousand_entries_ms", static_cast<int>(elapsed));
    RemoveTestFolder(folder);
}
