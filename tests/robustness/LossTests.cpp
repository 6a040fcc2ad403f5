// Images that decode, yet a batch writes nothing for them.
#include "RobustSupport.h"

#include "batch/ResizePipeline.h"

#include <gtest/gtest.h>

namespace
{
// A one-image icon whose image is a PNG, as icons have held since Vista.
std::vector<BYTE> MakeIconBytes(UINT side)
{
    const std::vector<BYTE> png = MakeImageBytes(side, side, GUID_ContainerFormatPng);
    std::vector<BYTE> icon = {0, 0, 1, 0, 1, 0,                                       // icon directory, one entry
                              static_cast<BYTE>(side), static_cast<BYTE>(side), 0, 0, // width, height, colours
                              1, 0, 32, 0};                                           // planes, bits per pixel
    const DWORD size = static_cast<DWORD>(png.size()), offset = 22;
    for (int i = 0; i < 4; ++i)
        icon.push_back(static_cast<BYTE>(size >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        icon.push_back(static_cast<BYTE>(offset >> (8 * i)));
    icon.insert(icon.end(), png.begin(), png.end());
    return icon;
}
} // namespace

// WIC decodes icons, but no ICO encoder exists (on Windows or under Wine),
// and an output never claims a container it does not hold: the icon gets
// no output at all, never an empty or partial one, and the batch goes on.
TEST(Losses, IconInputGetsNoOutputAndTheBatchGoesOn)
{
    const std::wstring folder = MakeTempFolder(L"loss");
    ASSERT_FALSE(folder.empty());
    const std::vector<BYTE> icon = MakeIconBytes(32);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\app.ico", icon.data(), icon.size()));
    ASSERT_TRUE(WriteImage(folder + L"\\zebra.png", 40, 32, GUID_ContainerFormatPng));
    GUID container;
    UINT width = 0, height = 0;
    ASSERT_EQ(S_OK, ProbeImageFile(folder + L"\\app.ico", &container, &width, &height)) << "the icon must decode";
    ASSERT_EQ(32u, width);

    DWORD elapsed = 0;
    ASSERT_TRUE(RunWalk(folder, 30000, &elapsed));
    EXPECT_EQ(std::vector<std::wstring>{L"zebra.png"}, ListFolder(OutputFolderOf(folder)));
    DecodedImage image = DecodeCompletely(OutputFolderOf(folder) + L"\\zebra.png");
    EXPECT_EQ(S_OK, image.hr);
    EXPECT_EQ(10u, image.width);
    RemoveTestFolder(folder);
}

// GetFullPathNameW drops a trailing dot or space (Windows and Wine alike),
// so "b.png." would be looked for as "b.png" and not found. Such names come
// from other systems through shares; the walk opens them by an exact
// "\\?\" path built from the listed name.
TEST(Losses, NamesEndingInADotOrASpaceAreResized)
{
    const std::wstring folder = MakeTempFolder(L"loss");
    ASSERT_FALSE(folder.empty());
    // Only "\\?\" paths can make these names.
    ASSERT_TRUE(WriteImage(L"\\\\?\\" + folder + L"\\dot.png.", 40, 30, GUID_ContainerFormatPng));
    ASSERT_TRUE(WriteImage(L"\\\\?\\" + folder + L"\\space.png ", 40, 30, GUID_ContainerFormatPng));
    ASSERT_EQ(2u, ListFolder(folder).size());

    DWORD elapsed = 0;
    ASSERT_TRUE(RunWalk(folder, 30000, &elapsed));
    // Neither name ends in an extension the writer knows, so both get ".jpg".
    const std::vector<std::wstring> expected = {L"dot.png..jpg", L"space.png .jpg"};
    EXPECT_EQ(expected, ListFolder(OutputFolderOf(folder))) << "both images decode, so both need an output";
    DeleteFileW((L"\\\\?\\" + folder + L"\\dot.png.").c_str());
    DeleteFileW((L"\\\\?\\" + folder + L"\\space.png ").c_str());
    RemoveTestFolder(folder);
}
