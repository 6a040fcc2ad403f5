// Times the per-image pipeline over a folder of images, without the batch's
// pacing, window or folder browser, and reports how much memory the process
// needed at its peak.
//
// usage: ResizeBenchmark <input-folder> <output-folder> [percent [pull | batch<N> | decode<N>]]
//
// Every file directly inside the input folder goes through one
// ResizeImageFile call, in listing order; the copies go into the output
// folder under the same names. Files the pipeline refuses are counted, not
// timed. There is no window: each preview is still built and copied into the
// context's bitmap, but nothing paints it. Each image's time is also split
// into the pipeline's steps (batch/StepClock.h); "rest" is what no step
// claims (the releases at the end of the pipeline). `pull` measures other
// ways of asking WIC for pixels (imaging/RowPull.h): a number of rows per
// request, or "former" (requests passed on whole, the encoder converting
// band by band). `batch<N>` instead times the whole folder through the
// batch's walk with N workers (0: one per processor), as the window runs it
// but with no window: the copies go into the input folder's "Resized", and
// only the total time and the peak memory are reported. `decode<N>` times
// what the platform alone takes for the folder on N threads (0: one per
// processor): each thread, in the multithreaded apartment with a factory of
// its own, takes the next file, decodes frame 0 and reads one row of it.

#include "batch/ImageWriter.h"
#include "batch/BatchPool.h"
#include "batch/FolderBatch.h"
#include "batch/ResizePipeline.h"
#include "batch/ResizeSettings.h"
#include "batch/StepClock.h"
#include "imaging/ImagingContext.h"
#include "imaging/RowPull.h"
#include "resource.h"

#include <windows.h>
#include <process.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

const double BYTES_PER_MIB = 1024.0 * 1024.0;
// The memory target: one decoded frame at 4 bytes per pixel, plus this much.
const double MEMORY_ALLOWANCE_MIB = 40.0;

// Names as the report prints them, in PipelineStep order, then the rest.
const char *const STEP_NAMES[STEP_COUNT + 1] = {"header", "decode", "preview", "encode", "metadata", "move", "rest"};

struct BenchmarkTotals
{
    std::vector<double> imageMilliseconds; // one entry per image the pipeline resized
    std::vector<double> stepMilliseconds[STEP_COUNT + 1]; // per step, one entry per image resized
    UINT skippedCount;                     // files the pipeline refused, or whose copy never appeared
    UINT64 largestFramePixels;             // width x height of the largest decoded frame
    UINT largestFrameWidth;
    UINT largestFrameHeight;
};

// The size choice whose factor is percent / 100, or 0 when there is none:
// the benchmark measures only what the program can be set to.
static int FindSizeChoiceId(const wchar_t *percentText)
{
    wchar_t *end = NULL;
    const long percent = wcstol(percentText, &end, 10);
    if (end == percentText || (*end != L'\0' && wcscmp(end, L"%") != 0))
        return 0;
    for (const SizeChoice &choice : g_sizeChoices)
    {
        if (static_cast<long>(choice.factor * 100.0f + 0.5f) == percent)
            return choice.id;
    }
    return 0;
}

static double ComputeMilliseconds(LARGE_INTEGER start, LARGE_INTEGER end, LARGE_INTEGER frequency)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Middle value, or the mean of the two middle values; 0 for no values.
static double ComputeMedian(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

static double ReadPeakWorkingSetMib()
{
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof(counters));
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 0.0;
    return static_cast<double>(counters.PeakWorkingSetSize) / BYTES_PER_MIB;
}

// Prints a file name as UTF-8, so that any name survives a narrow console.
static void PrintFileName(const wchar_t *name)
{
    char utf8[MAX_PATH * 4];
    if (WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, static_cast<int>(sizeof(utf8)), NULL, NULL) == 0)
        printf("?");
    else
        printf("%s", utf8);
}

// The pipeline keeps the frame it last decoded as the context's current
// source; its size is the frame this image needed in memory.
static HRESULT ReadCurrentFrameSize(UINT *width, UINT *height)
{
    *width = 0;
    *height = 0;
    if (!g_imaging->currentSource)
        return E_FAIL;
    return g_imaging->currentSource->GetSize(width, height);
}

// Resizes one file and records its time and frame size. The copy must exist
// afterwards: the pipeline reports success for a failed write, and a write
// that never happened must not count as a fast image.
static void MeasureOneImage(const wchar_t *inputPath, const wchar_t *outputPath, const wchar_t *name,
                            LARGE_INTEGER frequency, BenchmarkTotals *totals)
{
    LARGE_INTEGER start = {}, end = {};
    UINT width = 0, height = 0;
    wchar_t writtenPath[MAX_PATH];
    StepTimes steps = {};

    // The writer adds ".jpg" to a name whose extension it does not know.
    HRESULT hr = ComposeWrittenPath(outputPath, writtenPath);
    if (SUCCEEDED(hr))
    {
        DeleteFileW(writtenPath);
        g_stepTimes = &steps;
        QueryPerformanceCounter(&start);
        hr = ResizeImageFile(NULL, inputPath, outputPath);
        QueryPerformanceCounter(&end);
        g_stepTimes = NULL;
    }
    if (SUCCEEDED(hr) && GetFileAttributesW(writtenPath) == INVALID_FILE_ATTRIBUTES)
        hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (SUCCEEDED(hr))
        hr = ReadCurrentFrameSize(&width, &height);

    PrintFileName(name);
    if (FAILED(hr))
    {
        printf("  skipped (0x%08lX)\n", static_cast<unsigned long>(hr));
        ++totals->skippedCount;
        return;
    }
    const double milliseconds = ComputeMilliseconds(start, end, frequency);
    printf("  %u x %u  %.1f ms\n", width, height, milliseconds);
    totals->imageMilliseconds.push_back(milliseconds);
    double rest = milliseconds;
    printf("  steps:");
    for (int step = 0; step < STEP_COUNT; ++step)
    {
        const double spent = static_cast<double>(steps.ticks[step]) * 1000.0 / static_cast<double>(frequency.QuadPart);
        totals->stepMilliseconds[step].push_back(spent);
        rest -= spent;
        printf(" %s %.2f", STEP_NAMES[step], spent);
    }
    totals->stepMilliseconds[STEP_COUNT].push_back(rest);
    printf(" %s %.2f\n", STEP_NAMES[STEP_COUNT], rest);
    const UINT64 pixels = static_cast<UINT64>(width) * height;
    if (pixels > totals->largestFramePixels)
    {
        totals->largestFramePixels = pixels;
        totals->largestFrameWidth = width;
        totals->largestFrameHeight = height;
    }
}

// Offers every file directly inside inputFolder to the pipeline, in listing
// order, with no pause between them.
static HRESULT MeasureImageFolder(const wchar_t *inputFolder, const wchar_t *outputFolder, BenchmarkTotals *totals)
{
    wchar_t searchPattern[MAX_PATH], inputPath[MAX_PATH], outputPath[MAX_PATH];
    WIN32_FIND_DATAW entry;
    LARGE_INTEGER frequency;

    if (!JoinPath(searchPattern, inputFolder, L"\\*", L""))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    QueryPerformanceFrequency(&frequency);
    ZeroMemory(&entry, sizeof(entry));
    HANDLE find = FindFirstFileW(searchPattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(GetLastError());
    do
    {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!JoinPath(inputPath, inputFolder, L"\\", entry.cFileName) ||
            !JoinPath(outputPath, outputFolder, L"\\", entry.cFileName))
        {
            ++totals->skippedCount;
            continue;
        }
        MeasureOneImage(inputPath, outputPath, entry.cFileName, frequency, totals);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return S_OK;
}

static void PrintSummary(const BenchmarkTotals &totals, double baselineMib, double peakMib)
{
    double totalMilliseconds = 0.0;
    for (double milliseconds : totals.imageMilliseconds)
        totalMilliseconds += milliseconds;
    const double frameMib = static_cast<double>(totals.largestFramePixels) * 4.0 / BYTES_PER_MIB;

    printf("images: %u\n", static_cast<unsigned>(totals.imageMilliseconds.size()));
    printf("skipped: %u\n", totals.skippedCount);
    printf("median ms per image: %.1f\n", ComputeMedian(totals.imageMilliseconds));
    printf("median ms per image by step:");
    for (int step = 0; step <= STEP_COUNT; ++step)
        printf(" %s %.2f", STEP_NAMES[step], ComputeMedian(totals.stepMilliseconds[step]));
    printf("\n");
    printf("total ms: %.1f\n", totalMilliseconds);
    printf("working set before the first image MiB: %.1f\n", baselineMib);
    printf("peak working set MiB: %.1f\n", peakMib);
    printf("largest frame: %u x %u\n", totals.largestFrameWidth, totals.largestFrameHeight);
    printf("largest frame pixels: %llu\n", static_cast<unsigned long long>(totals.largestFramePixels));
    printf("memory target MiB: %.1f\n", frameMib + MEMORY_ALLOWANCE_MIB);
}

namespace
{
// The files of the folder that decode<N> threads share.
struct DecodeShare
{
    std::vector<std::wstring> paths;
    std::atomic<size_t> next{0};
    std::atomic<UINT> decoded{0};
};

unsigned __stdcall DecodeFiles(void *argument)
{
    DecodeShare *share = static_cast<DecodeShare *>(argument);
    IWICImagingFactory *factory = NULL;
    if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED)))
        return 1;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void **>(&factory))))
    {
        for (size_t i; (i = share->next++) < share->paths.size();)
        {
            IWICBitmapDecoder *decoder = NULL;
            IWICBitmapFrameDecode *frame = NULL;
            UINT width = 0, height = 0;
            HRESULT hr = factory->CreateDecoderFromFilename(share->paths[i].c_str(), NULL, GENERIC_READ,
                                                            WICDecodeMetadataCacheOnDemand, &decoder);
            if (SUCCEEDED(hr))
                hr = decoder->GetFrame(0, &frame);
            if (SUCCEEDED(hr))
                hr = frame->GetSize(&width, &height);
            // One row read: a decoder that waits until asked has decoded
            // what the first row needs.
            std::vector<BYTE> row(static_cast<size_t>(width) * 16);
            const WICRect first = {0, 0, static_cast<INT>(width), 1};
            if (SUCCEEDED(hr) && width > 0)
                hr = frame->CopyPixels(&first, width * 16, static_cast<UINT>(row.size()), row.data());
            if (SUCCEEDED(hr))
                ++share->decoded;
            SafeRelease(&frame);
            SafeRelease(&decoder);
        }
        factory->Release();
    }
    CoUninitialize();
    return 0;
}
} // namespace

// What the platform's decoders alone take for the folder on `threads` threads.
static void MeasureFolderDecode(const wchar_t *inputFolder, UINT threads)
{
    DecodeShare share;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((std::wstring(inputFolder) + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                share.paths.push_back(std::wstring(inputFolder) + L"\\" + entry.cFileName);
        while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    if (threads == 0)
        threads = CountBatchWorkers();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::vector<HANDLE> running;
    for (UINT i = 0; i < threads; ++i)
    {
        const uintptr_t thread = _beginthreadex(NULL, 0, DecodeFiles, &share, 0, NULL);
        if (thread)
            running.push_back(reinterpret_cast<HANDLE>(thread));
    }
    for (HANDLE thread : running)
    {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    QueryPerformanceCounter(&end);
    printf("decode threads: %u\n", static_cast<unsigned>(running.size()));
    printf("decoded: %u of %u\n", share.decoded.load(), static_cast<unsigned>(share.paths.size()));
    printf("total ms: %.1f\n", ComputeMilliseconds(start, end, frequency));
    printf("peak working set MiB: %.1f\n", ReadPeakWorkingSetMib());
}

// The whole folder through the batch's pool of workers (0: one per processor).
static void MeasureFolderBatch(const wchar_t *inputFolder, UINT workers)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    const double baselineMib = ReadPeakWorkingSetMib();
    QueryPerformanceCounter(&start);
    WalkImageFolder(NULL, inputFolder, workers);
    QueryPerformanceCounter(&end);
    printf("batch workers: %u (0: one per processor, here %u)\n", workers, CountBatchWorkers());
    printf("total ms: %.1f\n", ComputeMilliseconds(start, end, frequency));
    printf("working set before the batch MiB: %.1f\n", baselineMib);
    printf("peak working set MiB: %.1f\n", ReadPeakWorkingSetMib());
}

static void PrintUsage()
{
    printf("usage: ResizeBenchmark <input-folder> <output-folder> [percent [pull | batch<N>]]\n"
           "percent is one of the program's size choices: 10, 25, 50, 75, 125, 150 (default 25)\n"
           "pull is the rows asked of a scaler per request, or former (default: the program's)\n"
           "batch<N> times the folder through the batch with N workers (0: one per processor)\n"
           "decode<N> times the platform's decode of the folder on N threads (0: one per processor)\n");
}

// Sets how pixels are pulled; false for text that says no way.
static bool ApplyPullWay(const wchar_t *text)
{
    wchar_t *end = NULL;
    if (wcscmp(text, L"former") == 0)
    {
        g_rowsPerPull = 0;
        g_convertOnce = false;
        return true;
    }
    const unsigned long rows = wcstoul(text, &end, 10);
    if (end == text || *end != L'\0' || rows == 0 || rows > 65536)
        return false;
    g_rowsPerPull = static_cast<UINT>(rows);
    return true;
}

int wmain(int argc, wchar_t **argv)
{
    BenchmarkTotals totals;
    bool comStarted = false;
    double baselineMib = 0.0;
    int sizeChoiceId = ID_SIZE_25;
    int exitCode = 1;
    int batchWorkers = -1; // a batch<N> run's N
    int decodeThreads = -1; // a decode<N> run's N
    HRESULT hr;

    totals.skippedCount = 0;
    totals.largestFramePixels = 0;
    totals.largestFrameWidth = 0;
    totals.largestFrameHeight = 0;

    if (argc < 3 || argc > 5)
    {
        PrintUsage();
        return 2;
    }
    if (argc >= 4)
    {
        sizeChoiceId = FindSizeChoiceId(argv[3]);
        if (argc == 5 && wcsncmp(argv[4], L"batch", 5) == 0)
            batchWorkers = static_cast<int>(wcstoul(argv[4] + 5, NULL, 10));
        if (argc == 5 && wcsncmp(argv[4], L"decode", 6) == 0)
            decodeThreads = static_cast<int>(wcstoul(argv[4] + 6, NULL, 10));
        if (sizeChoiceId == 0 || (argc == 5 && batchWorkers < 0 && decodeThreads < 0 && !ApplyPullWay(argv[4])))
        {
            PrintUsage();
            return 2;
        }
    }
    // An existing output folder is reused, as the batch reuses "Resized".
    if (!CreateDirectoryW(argv[2], NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
    {
        printf("cannot create the output folder (error %lu)\n", GetLastError());
        return 1;
    }

    // The same apartment the program's UI thread creates the factory in.
    hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(hr))
        goto Cleanup;
    comStarted = true;
    CreateImagingContext();
    if (!g_imaging || !g_imaging->factory)
    {
        hr = E_FAIL;
        goto Cleanup;
    }
    ApplySizeChoice(sizeChoiceId);
    printf("scale: %.0f %%\n", static_cast<double>(g_scaleFactor.load()) * 100.0);
    printf("pull: %u rows per request (0: whole), %s\n", g_rowsPerPull.load(),
           g_convertOnce ? "one converter per file" : "the encoder converts each band");

    if (decodeThreads >= 0)
    {
        MeasureFolderDecode(argv[1], static_cast<UINT>(decodeThreads));
        exitCode = 0;
        goto Cleanup;
    }
    if (batchWorkers >= 0)
    {
        MeasureFolderBatch(argv[1], static_cast<UINT>(batchWorkers));
        exitCode = 0;
        goto Cleanup;
    }
    baselineMib = ReadPeakWorkingSetMib();
    hr = MeasureImageFolder(argv[1], argv[2], &totals);
    if (FAILED(hr))
        goto Cleanup;
    PrintSummary(totals, baselineMib, ReadPeakWorkingSetMib());
    exitCode = totals.imageMilliseconds.empty() ? 1 : 0;

Cleanup:
    if (FAILED(hr))
        printf("failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (g_imaging)
    {
        FreeImagingContext(g_imaging);
        g_imaging = NULL;
    }
    if (comStarted)
        CoUninitialize();
    fflush(stdout);
    return exitCode;
}
