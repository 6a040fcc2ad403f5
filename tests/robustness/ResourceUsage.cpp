#include "ResourceUsage.h"

#include <process.h>
#include <psapi.h>
#include <string.h>

#include <set>

namespace
{
SRWLOCK g_gdiLock = SRWLOCK_INIT;
std::set<HANDLE> g_liveGdi;
bool g_counting = false;

decltype(&CreateDIBSection) g_createDibSection;
decltype(&CreateCompatibleDC) g_createCompatibleDc;
decltype(&CreateCompatibleBitmap) g_createCompatibleBitmap;
decltype(&DeleteObject) g_deleteObject;
decltype(&DeleteDC) g_deleteDc;
decltype(&GetDC) g_getDc;
decltype(&ReleaseDC) g_releaseDc;

template <class T> T Remember(T object)
{
    if (object)
    {
        AcquireSRWLockExclusive(&g_gdiLock);
        g_liveGdi.insert(object);
        ReleaseSRWLockExclusive(&g_gdiLock);
    }
    return object;
}

BOOL Forget(HANDLE object, BOOL deleted)
{
    if (deleted)
    {
        AcquireSRWLockExclusive(&g_gdiLock);
        g_liveGdi.erase(object);
        ReleaseSRWLockExclusive(&g_gdiLock);
    }
    return deleted;
}

HBITMAP WINAPI CountedCreateDibSection(HDC dc, const BITMAPINFO *info, UINT usage, void **bits, HANDLE section, DWORD offset)
{
    return Remember(g_createDibSection(dc, info, usage, bits, section, offset));
}
HDC WINAPI CountedCreateCompatibleDc(HDC dc) { return Remember(g_createCompatibleDc(dc)); }
HBITMAP WINAPI CountedCreateCompatibleBitmap(HDC dc, int width, int height)
{
    return Remember(g_createCompatibleBitmap(dc, width, height));
}
BOOL WINAPI CountedDeleteObject(HGDIOBJ object) { return Forget(object, g_deleteObject(object)); }
BOOL WINAPI CountedDeleteDc(HDC dc) { return Forget(dc, g_deleteDc(dc)); }
HDC WINAPI CountedGetDc(HWND window) { return Remember(g_getDc(window)); }
int WINAPI CountedReleaseDc(HWND window, HDC dc) { return Forget(dc, g_releaseDc(window, dc)); }

// Points this program's import of module!function at replacement and
// returns what it pointed at before (NULL if there is no such import).
void *PatchImport(const char *module, const char *function, void *replacement)
{
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         import->Name; ++import)
    {
        if (_stricmp(reinterpret_cast<char *>(base + import->Name), module) != 0)
            continue;
        IMAGE_THUNK_DATA *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        IMAGE_THUNK_DATA *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), PAGE_READWRITE, &protection);
            void *previous = reinterpret_cast<void *>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), protection, &protection);
            return previous;
        }
    }
    return NULL;
}

template <class T> void Patch(const char *module, const char *function, T replacement, T *original)
{
    void *previous = PatchImport(module, function, reinterpret_cast<void *>(replacement));
    if (previous)
        *original = reinterpret_cast<T>(previous);
}

bool GuiResourcesWork()
{
    return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) != 0;
}

bool HandleCountWorks()
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0;
}

// Handles are multiples of 4; a process of this kind holds far fewer than
// 16384, and leaked ones take the lowest free values first.
long ProbeHandles()
{
    long count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
    {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}
} // namespace

void StartCountingGdiObjects()
{
    if (g_counting)
        return;
    g_counting = true;
    Patch("gdi32.dll", "CreateDIBSection", &CountedCreateDibSection, &g_createDibSection);
    Patch("gdi32.dll", "CreateCompatibleDC", &CountedCreateCompatibleDc, &g_createCompatibleDc);
    Patch("gdi32.dll", "CreateCompatibleBitmap", &CountedCreateCompatibleBitmap, &g_createCompatibleBitmap);
    Patch("gdi32.dll", "DeleteObject", &CountedDeleteObject, &g_deleteObject);
    Patch("gdi32.dll", "DeleteDC", &CountedDeleteDc, &g_deleteDc);
    Patch("user32.dll", "GetDC", &CountedGetDc, &g_getDc);
    Patch("user32.dll", "ReleaseDC", &CountedReleaseDc, &g_releaseDc);
}

ResourceUsage MeasureResourceUsage()
{
    ResourceUsage usage = {};
    if (GuiResourcesWork())
        usage.gdiObjects = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    else
    {
        AcquireSRWLockShared(&g_gdiLock);
        usage.gdiObjects = static_cast<long>(g_liveGdi.size());
        ReleaseSRWLockShared(&g_gdiLock);
    }
    DWORD handles = 0;
    if (HandleCountWorks() && GetProcessHandleCount(GetCurrentProcess(), &handles))
        usage.handles = static_cast<long>(handles);
    else
        usage.handles = ProbeHandles();
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof(counters)))
        usage.privateKb = (counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage) / 1024.0;
    return usage;
}

PeakMemorySampler::PeakMemorySampler() : stop(CreateEventW(NULL, TRUE, FALSE, NULL)), thread(NULL), peakKb(0)
{
    peakKb = MeasureResourceUsage().privateKb;
    thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, Run, this, 0, NULL));
}

PeakMemorySampler::~PeakMemorySampler()
{
    SetEvent(stop);
    if (thread)
    {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(stop);
}

double PeakMemorySampler::PeakKb() const
{
    const double now = MeasureResourceUsage().privateKb;
    return now > peakKb ? now : peakKb;
}

unsigned __stdcall PeakMemorySampler::Run(void *argument)
{
    PeakMemorySampler *self = static_cast<PeakMemorySampler *>(argument);
    do
    {
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof(counters)))
        {
            const double kb = (counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage) / 1024.0;
            if (kb > self->peakKb)
                self->peakKb = kb;
        }
    } while (WaitForSingleObject(self->stop, 5) == WAIT_TIMEOUT);
    return 0;
}

std::string DescribeResourceCounters()
{
    std::string text = GuiResourcesWork() ? "GDI: GetGuiResources" : "GDI: objects made through this program's imports";
    text += HandleCountWorks() ? "; handles: GetProcessHandleCount" : "; handles: probed handle values";
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof(counters));
    text += counters.PrivateUsage ? "; memory: PrivateUsage" : "; memory: PagefileUsage (PrivateUsage is 0)";
    return text;
}
