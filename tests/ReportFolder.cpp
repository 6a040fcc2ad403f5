#include "ReportFolder.h"

#include "TestImages.h"

#include <algorithm>

namespace
{
UINT Grey(UINT, UINT)
{
    return 0x808080;
}

bool MakeImageFile(const std::wstring &path, REFGUID container)
{
    Com<IWICBitmap> bitmap;
    return SUCCEEDED(MakeBgrBitmap(40, 30, Grey, &bitmap)) && SUCCEEDED(EncodeToFile(bitmap, container, path));
}
} // namespace

bool MakeReportFolder(const std::wstring &folder)
{
    const char text[] = "not an image";
    // A PNG signature and then nothing a decoder can read.
    const unsigned char brokenPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1, 2};
    const std::wstring resized = folder + L"\\Resized";
    const std::wstring readOnlyCopy = resized + L"\\kept.png";
    return MakeImageFile(folder + L"\\good.png", GUID_ContainerFormatPng) &&
           MakeImageFile(folder + L"\\good.jpg", GUID_ContainerFormatJpeg) &&
           MakeImageFile(folder + L"\\kept.png", GUID_ContainerFormatPng) &&
           WriteFileBytes(folder + L"\\broken.jpg", text, sizeof(text) - 1) &&
           WriteFileBytes(folder + L"\\broken.png", brokenPng, sizeof(brokenPng)) &&
           WriteFileBytes(folder + L"\\notes.txt", text, sizeof(text) - 1) &&
           WriteFileBytes(folder + L"\\desktop.ini", text, sizeof(text) - 1) &&
           WriteFileBytes(folder + L"\\Thumbs.db", brokenPng, sizeof(brokenPng)) &&
           CreateDirectoryW((folder + L"\\sub.jpg").c_str(), NULL) && CreateDirectoryW(resized.c_str(), NULL) &&
           WriteFileBytes(readOnlyCopy, text, sizeof(text) - 1) &&
           SetFileAttributesW(readOnlyCopy.c_str(), FILE_ATTRIBUTE_READONLY);
}

std::vector<std::wstring> ExpectedReportLines()
{
    return {L"3 of 5 images could not be resized:",
            L"broken.jpg: the file is damaged or is not an image that can be read",
            L"broken.png: the file is damaged or is not an image that can be read",
            L"kept.png: the copy could not be written because Resized\\kept.png is read-only"};
}

std::vector<std::wstring> ReportLinesInNameOrder(const std::wstring &text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    // A message box's text may come back with "\r\n".
    for (std::wstring &line : lines)
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
    if (lines.size() > 1)
        std::sort(lines.begin() + 1, lines.end());
    return lines;
}
