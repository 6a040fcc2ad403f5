#include "QuillmereTest.h"

#include "FolderBrowser.h"

static std::wstring EnvironmentPath(const wchar_t *name)
{
    wchar_t value[MAX_PATH * 2] = L"";
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2)
        return std::wstring();
    return ToWindowsPath(value);
}

std::wstring ProgramPath()
{
    return EnvironmentPath(L"QM_E2E_PROGRAM");
}

std::wstring EmblemPath()
{
    return EnvironmentPath(L"QM_E2E_EMBLEM");
}

UINT SolidGreen(UINT, UINT)
{
    return 0x00C000;
}

UINT NoisePattern(UINT x, UINT y)
{
    const UINT v = x * 2654435761u ^ y * 40503u;
    return (v ^ (v >> 13)) & 0xFFFFFF;
}

UINT RedOverBlue200(UINT, UINT y)
{
    return y < 100 ? 0xFF0000 : 0x0000FF;
}

void QuillmereTest::SetUp()
{
    ZeroMemory(&app, sizeof(app));
    const std::wstring program = ProgramPath();
    ASSERT_FALSE(program.empty()) << "QM_E2E_PROGRAM must name the Quillmere.exe to test";
    ASSERT_TRUE(FileExists(program)) << "no program at " << Narrow(program);
    folder = MakeTempFolder(L"e2e");
    ASSERT_FALSE(folder.empty()) << "could not make a temporary folder";
    ASSERT_TRUE(StartQuillmere(program, &app, START_TIMEOUT_MS))
        << "expected Quillmere.exe to show its main window within " << START_TIMEOUT_MS << " ms";
}

void QuillmereTest::TearDown()
{
    StopQuillmere(&app);
    if (!folder.empty())
        RemoveTree(folder);
}

std::wstring QuillmereTest::WriteImage(const wchar_t *name, UINT width, UINT height, PixelColour colour,
                                       REFGUID container)
{
    Com<IWICBitmap> bitmap;
    HRESULT hr = MakeBgrBitmap(width, height, colour, &bitmap);
    EXPECT_EQ(S_OK, hr) << "making " << Narrow(name) << ": " << Hex(hr);
    const std::wstring path = folder + L"\\" + name;
    if (SUCCEEDED(hr))
    {
        hr = EncodeToFile(bitmap, container, path);
        EXPECT_EQ(S_OK, hr) << "writing " << Narrow(name) << ": " << Hex(hr);
    }
    return path;
}

HWND QuillmereTest::OpenFolderBrowser()
{
    PostCommand(app, CMD_OPEN);
    return WaitForDialog(app.process.dwProcessId, FOLDER_BROWSER_CAPTION, BROWSER_TIMEOUT_MS);
}

void QuillmereTest::StartBatchOn(const std::wstring &target)
{
    HWND browser = OpenFolderBrowser();
    ASSERT_TRUE(browser != NULL) << "expected File > Open to show \"" << Narrow(FOLDER_BROWSER_CAPTION)
                                 << "\" within " << BROWSER_TIMEOUT_MS << " ms";
    std::wstring error;
    ASSERT_TRUE(ChooseFolderInBrowser(app.process.hProcess, browser, target, &error))
        << "choosing " << Narrow(target) << ": " << Narrow(error);
    ASSERT_TRUE(WaitForWindowGone(browser, DIALOG_TIMEOUT_MS)) << "the folder browser stayed open after OK";
}

void QuillmereTest::StartLongBatch(int imageCount, UINT width, UINT height)
{
    for (int i = 0; i < imageCount; ++i)
        WriteImage((L"noise" + std::to_wstring(100 + i) + L".png").c_str(), width, height, NoisePattern,
                   GUID_ContainerFormatPng);
    ASSERT_NO_FATAL_FAILURE(ChooseImageSize(1006));
    ASSERT_NO_FATAL_FAILURE(StartBatchOn(folder));
    const DWORD start = GetTickCount();
    while (ListFolder(ResizedFolder()).empty() && ElapsedSince(start) < BATCH_TIMEOUT_MS)
        Sleep(5);
    ASSERT_FALSE(ListFolder(ResizedFolder()).empty()) << "expected the batch to start writing";
}

void QuillmereTest::ChooseImageSize(int button)
{
    PostCommand(app, CMD_IMAGE_SIZE);
    HWND dialog = WaitForDialog(app.process.dwProcessId, IMAGE_SIZE_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(dialog != NULL) << "expected \"" << Narrow(IMAGE_SIZE_CAPTION) << "\"";
    ClickDialogButton(dialog, button);
    ClickDialogButton(dialog, IDOK);
    ASSERT_TRUE(WaitForWindowGone(dialog, DIALOG_TIMEOUT_MS));
}

void QuillmereTest::WaitForBatchEnd()
{
    ASSERT_TRUE(WaitUntilIdle(app, BATCH_TIMEOUT_MS))
        << "expected the batch to end and commands to be accepted again within " << BATCH_TIMEOUT_MS << " ms";
}

void QuillmereTest::ExpectStoppedEarlyWithWholeCopies(int imageCount)
{
    const std::vector<std::wstring> outputs = ListFolder(ResizedFolder());
    EXPECT_LT(outputs.size(), static_cast<size_t>(imageCount)) << "expected the batch to stop early";
    EXPECT_TRUE(NamesEndingWith(outputs, L".tmp").empty()) << "a temporary file was left in Resized";
    for (const std::wstring &name : outputs)
    {
        const HRESULT hr = DecodeCompletely(ResizedFolder() + L"\\" + name);
        EXPECT_EQ(S_OK, hr) << "Resized\\" << Narrow(name) << " does not decode completely: " << Hex(hr);
    }
}

void QuillmereTest::ExpectNoDialogAppears(const wchar_t *allowed)
{
    const DWORD start = GetTickCount();
    do
    {
        for (const std::wstring &caption : ListDialogCaptions(app.process.dwProcessId))
        {
            if (!allowed || caption != allowed)
            {
                ADD_FAILURE() << "expected no dialog, but \"" << Narrow(caption) << "\" opened";
                return;
            }
        }
        Sleep(20);
    } while (ElapsedSince(start) < NO_DIALOG_WAIT_MS);
}

static int CountEmblemMismatches(const Picture &screen, const Picture &emblem, std::string *first)
{
    int mismatches = 0;
    for (int y = 0; y < screen.height; ++y)
        for (int x = 0; x < screen.width; ++x)
        {
            const UINT expected = x < emblem.width && y < emblem.height ? emblem.At(x, y) : WHITE;
            if (screen.At(x, y) == expected)
                continue;
            if (mismatches++ == 0)
                *first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                         ColourText(screen.At(x, y)) + ", expected " + ColourText(expected);
        }
    return mismatches;
}

int WaitForEmblemOnWhite(HWND window, Picture *screen, std::string *first)
{
    Picture emblem;
    if (!LoadBmpFile(EmblemPath(), &emblem) || emblem.width != 128 || emblem.height != 128)
    {
        *first = "could not read a 128 x 128 emblem bitmap (QM_E2E_EMBLEM)";
        return -1;
    }
    // Paints may still be on their way; give them a moment.
    int mismatches = -1;
    const DWORD start = GetTickCount();
    while (mismatches != 0 && ElapsedSince(start) < 2000)
    {
        if (!CaptureClientArea(window, screen))
        {
            *first = "could not read the client area";
            return -1;
        }
        mismatches = CountEmblemMismatches(*screen, emblem, first);
        if (mismatches)
            Sleep(50);
    }
    return mismatches;
}

SIZE ImageFileSize(const std::wstring &path)
{
    GUID container;
    UINT width = 0, height = 0;
    SIZE size = {0, 0};
    if (SUCCEEDED(ProbeImageFile(path, &container, &width, &height)))
    {
        size.cx = static_cast<LONG>(width);
        size.cy = static_cast<LONG>(height);
    }
    return size;
}

HRESULT DecodeCompletely(const std::wstring &path)
{
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    UINT width = 0, height = 0;
    HRESULT hr = DecodeFrameFromFile(path, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr)) hr = TestFactory()->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, NULL, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr) && (width == 0 || height == 0))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
    {
        std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 4);
        hr = converter->CopyPixels(NULL, width * 4, static_cast<UINT>(pixels.size()), pixels.data());
    }
    return hr;
}

std::vector<std::wstring> NamesEndingWith(const std::vector<std::wstring> &list, const wchar_t *suffix)
{
    std::vector<std::wstring> found;
    const size_t length = wcslen(suffix);
    for (const std::wstring &name : list)
        if (name.size() >= length && _wcsicmp(name.c_str() + name.size() - length, suffix) == 0)
            found.push_back(name);
    return found;
}
