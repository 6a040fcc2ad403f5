// The application manifest: resource 1 of the program file and its only
// one, read by the system as asking for the invoker's rights, naming
// Windows 7 to 11, GDI scaling and nothing about DPI awareness; in the
// running program, the dialogs' buttons coming from Common Controls 6. And
// the version resource, as Explorer's Properties > Details reads it.
#include "QuillmereTest.h"

#include <psapi.h>

#include <string>
#include <vector>

namespace
{
BOOL CALLBACK CollectManifestName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list)
{
    reinterpret_cast<std::vector<int> *>(list)->push_back(IS_INTRESOURCE(name) ? LOWORD(name) : -1);
    return TRUE;
}
} // namespace

TEST(ProgramManifest, IsResourceOneAndTheOnlyOneAndSaysWhatItMust)
{
    const std::wstring program = ProgramPath();
    HMODULE module = LoadLibraryExW(program.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module != NULL) << "could not load the program file's resources";
    std::vector<int> names;
    EnumResourceNamesW(module, RT_MANIFEST, CollectManifestName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(std::vector<int>{1}, names) << "expected exactly one manifest, resource 1";
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_TRUE(found != NULL);
    const std::string text(static_cast<const char *>(LockResource(LoadResource(module, found))),
                           SizeofResource(module, found));
    FreeLibrary(module);

    // Windows 7, 8, 8.1 and 10/11 by their documented ids. Without DPI
    // awareness the system scales the 284 x 160 client area up, with GDI
    // scaling drawing its text sharp (Wine ignores that setting).
    const struct
    {
        const char *text;
        bool present;
    } rows[] = {{"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", true}, {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", true},
                {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", true}, {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", true},
                {"<gdiScaling xmlns=\"http://schemas.microsoft.com/SMI/2017/WindowsSettings\">true</gdiScaling>", true},
                {"dpiAware", false}};
    for (const auto &row : rows)
        EXPECT_EQ(row.present, text.find(row.text) != std::string::npos) << row.text;

    // The system's own reading: a manifest it cannot parse keeps the
    // program from starting on Windows.
    ACTCTXW request;
    ZeroMemory(&request, sizeof(request));
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "the system refuses the manifest: error " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel;
    ZeroMemory(&runLevel, sizeof(runLevel));
    EXPECT_TRUE(QueryActCtxW(0, context, NULL, RunlevelInformationInActivationContext, &runLevel, sizeof(runLevel), NULL));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, runLevel.RunLevel);
    EXPECT_EQ(0u, runLevel.UiAccess);
    ReleaseActCtx(context);
}

// Read through the system's own version API, as Explorer does. The version
// is the About box's "1.04".
TEST(ProgramVersionResource, SaysWhatExplorerShows)
{
    const std::wstring program = ProgramPath();
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource: error " << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(0x00010004u, fixed->dwFileVersionMS) << "file version 1.4";
    EXPECT_EQ(0u, fixed->dwFileVersionLS) << "file version .0.0";
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x409, translation[0]) << "US English";
    EXPECT_EQ(1200, translation[1]) << "Unicode";

    const struct
    {
        const wchar_t *name;
        const wchar_t *value;
    } rows[] = {{L"ProductName", L"Quillmere"},
                {L"ProductVersion", L"1.04"},
                {L"FileVersion", L"1.4.0.0"},
                {L"FileDescription", L"Quillmere image resizer"},
                {L"LegalCopyright", L"Copyright (C) 2026 Quillmere team"},
                {L"OriginalFilename", L"Quillmere.exe"}};
    for (const auto &row : rows)
    {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + row.name;
        wchar_t *value = NULL;
        const bool found = VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void **>(&value), &length) && value;
        EXPECT_EQ(std::wstring(row.value), found ? std::wstring(value) : L"(none)") << Narrow(row.name);
    }
}

// The program links no comctl32: only the manifest's dependency has the
// system bring in version 6, for the dialog's buttons.
TEST_F(QuillmereTest, DialogButtonsComeFromCommonControls6)
{
    PostCommand(app, CMD_ABOUT);
    HWND about = WaitForDialog(app.process.dwProcessId, ABOUT_CAPTION, DIALOG_TIMEOUT_MS);
    ASSERT_TRUE(about != NULL);
    HMODULE modules[512];
    DWORD needed = 0;
    ASSERT_TRUE(EnumProcessModules(app.process.hProcess, modules, sizeof(modules), &needed));
    std::wstring found;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i)
    {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameExW(app.process.hProcess, modules[i], path, MAX_PATH);
        const std::wstring lowered = _wcslwr(path);
        if (lowered.find(L"\\comctl32.dll") != std::wstring::npos)
            found = lowered;
    }
    EXPECT_NE(std::wstring::npos, found.find(L"common-controls_6595b64144ccf1df_6.")) << "comctl32: " << Narrow(found);
    ClickDialogButton(about, IDOK);
    EXPECT_TRUE(WaitForWindowGone(about, DIALOG_TIMEOUT_MS));
}
