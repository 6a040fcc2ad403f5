#include "RobustSupport.h"

#include "batch/FolderBatch.h"
#include "batch/ResizeSettings.h"
#include "imaging/ImagingContext.h"
#include "imaging/SharedFlags.h"

#include <math.h>
#include <process.h>
#include <stdio.h>

namespace
{
// A crash in any robustness program ends it at once, saying so, instead of
// leaving it to wait for Wine's debugger until CTest's time limit.
LONG WINAPI ReportCrashAndExit(EXCEPTION_POINTERS *exception)
{
    printf("CRASH: exception 0x%08lX at address %p\n", static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
           exception->ExceptionRecord->ExceptionAddress);
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct CrashReporter
{
    CrashReporter() { SetUnhandledExceptionFilter(ReportCrashAndExit); }
} g_crashReporter;
} // namespace

UINT PatternPixel(UINT x, UINT y)
{
    return ((x * 37 + y * 11) & 0xFF) << 16 | ((x * y + 3 * y) & 0xFF) << 8 | ((x ^ y) * 5 & 0xFF);
}

std::vector<BYTE> MakeImageBytes(UINT width, UINT height, REFGUID container)
{
    std::vector<BYTE> bytes;
    Com<IWICBitmap> bitmap;
    Com<IStream> stream;
    if (FAILED(MakeBgrBitmap(width, height, PatternPixel, &bitmap)) ||
        FAILED(EncodeToMemory(bitmap, container, &stream)))
        return bytes;
    STATSTG stat;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return bytes;
    bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    if (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)))
        read = 0;
    bytes.resize(read);
    return bytes;
}

bool WriteImage(const std::wstring &path, UINT width, UINT height, REFGUID container)
{
    const std::vector<BYTE> bytes = MakeImageBytes(width, height, container);
    return !bytes.empty() && WriteFileBytes(path, bytes.data(), bytes.size());
}

ImageSet MakeImageSet(const wchar_t *tag, UINT width, UINT height)
{
    const struct
    {
        const wchar_t *name;
        const GUID *container;
    } kinds[] = {{L"a.jpg", &GUID_ContainerFormatJpeg},
                 {L"b.png", &GUID_ContainerFormatPng},
                 {L"c.gif", &GUID_ContainerFormatGif},
                 {L"d.bmp", &GUID_ContainerFormatBmp},
                 {L"e.tif", &GUID_ContainerFormatTiff}};
    ImageSet set;
    set.folder = MakeTempFolder(tag);
    CreateDirectoryW(OutputFolderOf(set.folder).c_str(), NULL);
    for (const auto &kind : kinds)
    {
        if (WriteImage(set.folder + L"\\" + kind.name, width, height, *kind.container))
        {
            set.inputs.push_back(set.folder + L"\\" + kind.name);
            set.outputs.push_back(OutputFolderOf(set.folder) + L"\\" + kind.name);
        }
    }
    return set;
}

uint64_t HashBytes(const std::vector<BYTE> &bytes)
{
    // FNV-1a, 64 bits; the size is mixed in so that an emptied file differs.
    uint64_t hash = 0xCBF29CE484222325ull ^ bytes.size();
    for (BYTE b : bytes)
    {
        hash ^= b;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::map<std::wstring, uint64_t> HashFiles(const std::wstring &folder)
{
    std::map<std::wstring, uint64_t> hashes;
    for (const std::wstring &name : ListFolder(folder))
    {
        const std::wstring path = folder + L"\\" + name;
        if (!(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
            hashes[name] = HashBytes(ReadFileBytes(path));
    }
    return hashes;
}

UINT ExpectedSide(UINT side, float scale)
{
    return static_cast<UINT>(floor(static_cast<double>(side) * scale + 0.5));
}

ScaleGuard::ScaleGuard(float scale) : saved(g_scaleFactor)
{
    g_scaleFactor = scale;
}

ScaleGuard::~ScaleGuard()
{
    g_scaleFactor = saved;
}

DecodedImage DecodeCompletely(const std::wstring &path)
{
    DecodedImage image = {E_FAIL, 0, 0};
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    HRESULT hr = DecodeFrameFromFile(path, &frame);
    if (SUCCEEDED(hr))
        hr = frame->GetSize(&image.width, &image.height);
    if (SUCCEEDED(hr))
        hr = TestFactory()->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, NULL, 0.0,
                                   WICBitmapPaletteTypeCustom);
    // Row by row, so that a large output does not need one huge buffer.
    std::vector<BYTE> row(static_cast<size_t>(image.width) * 4);
    for (UINT y = 0; SUCCEEDED(hr) && y < image.height; ++y)
    {
        WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(image.width), 1};
        hr = converter->CopyPixels(&rect, image.width * 4, static_cast<UINT>(row.size()), row.data());
    }
    image.hr = hr;
    return image;
}

std::vector<std::wstring> FindLeftovers(const std::wstring &folder)
{
    std::vector<std::wstring> found;
    for (const std::wstring &name : ListFolder(folder))
    {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        {
            std::vector<std::wstring> inner = FindLeftovers(path);
            found.insert(found.end(), inner.begin(), inner.end());
        }
        else if (name.size() >= 4 && _wcsicmp(name.c_str() + name.size() - 4, L".tmp") == 0)
            found.push_back(path);
    }
    return found;
}

namespace
{
struct WalkArgument
{
    std::wstring folder;
    UINT workers;
};

unsigned __stdcall WalkThread(void *argument)
{
    WalkArgument *walk = static_cast<WalkArgument *>(argument);
    WalkImageFolder(NULL, walk->folder.c_str(), walk->workers);
    delete walk;
    return 0;
}
} // namespace

WalkRun StartWalk(const std::wstring &folder, UINT workers)
{
    WalkRun run;
    wchar_t directory[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, directory);
    run.savedDirectory = directory;
    // The factory is made on this (COM) thread first, as the UI thread does.
    TestFactory();
    run.started = timeGetTime();
    WalkArgument *argument = new WalkArgument{folder, workers};
    run.thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, WalkThread, argument, 0, NULL));
    if (!run.thread)
        delete argument;
    return run;
}

bool FinishWalk(WalkRun &run, DWORD limitMs, DWORD *elapsedMs)
{
    bool inTime = false;
    if (run.thread)
    {
        inTime = WaitForSingleObject(run.thread, limitMs) == WAIT_OBJECT_0;
        if (!inTime)
        {
            g_quitRequested = true;
            if (WaitForSingleObject(run.thread, 30000) != WAIT_OBJECT_0)
            {
                printf("HANG: the folder walk did not end within %lu ms, nor 30 s after the quit flag\n",
                       static_cast<unsigned long>(limitMs));
                fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 3);
            }
            g_quitRequested = false;
        }
        CloseHandle(run.thread);
        run.thread = NULL;
    }
    *elapsedMs = timeGetTime() - run.started;
    SetCurrentDirectoryW(run.savedDirectory.c_str());
    return inTime;
}

bool RunWalk(const std::wstring &folder, DWORD limitMs, DWORD *elapsedMs)
{
    WalkRun run = StartWalk(folder);
    return FinishWalk(run, limitMs, elapsedMs);
}

void ReleaseLastFrame()
{
    if (g_imaging && g_imaging->currentSource)
    {
        g_imaging->currentSource->Release();
        g_imaging->currentSource = NULL;
    }
}

void RemoveTestFolder(const std::wstring &folder)
{
    ReleaseLastFrame();
    RemoveTree(folder);
}

std::wstring OutputFolderOf(const std::wstring &folder)
{
    return folder + L"\\Resized";
}

