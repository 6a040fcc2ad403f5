// Mutation fuzzing of the per-image pipeline: small JPEG, PNG, GIF, BMP and
// TIFF images are damaged in seeded, repeatable ways and resized one after
// another in this process. Nothing may crash or hang, and after every file
// the output folder holds either nothing or one whole image of the right
// size, never a temporary or cut-off file. The readers of a file's own
// bytes (photo/) are fuzzed natively, coverage-guided, by tests/native/fuzz.
//
// QM_FUZZ_SECONDS (default 30) and QM_FUZZ_SEED (default 1), as environment
// variables or as --fuzz-seconds=N and --fuzz-seed=N on the command line,
// run it longer or differently. A crash ends the process, so it cannot be
// counted here: the handler below names the file that caused it, and the
// file stays in fuzz-work\ under the current directory.
#include "RobustSupport.h"

#include "TestPhotoBytes.h"

#include "batch/ResizePipeline.h"
#include "imaging/Orientation.h"
#include "imaging/Win32PhotoFile.h"

#include <gtest/gtest.h>

#include <process.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>

namespace
{
const DWORD HANG_LIMIT_MS = 20000;

struct Seed
{
    const wchar_t *extension;
    std::vector<BYTE> bytes;
};

std::atomic<DWORD> g_fileStarted(0); // 0 while no file is in the pipeline
std::atomic<unsigned> g_iteration(0);
std::wstring g_inputPath;

unsigned long Setting(const char *variable, const wchar_t *option, unsigned long fallback)
{
    const wchar_t *line = GetCommandLineW();
    const wchar_t *found = wcsstr(line, option);
    if (found)
        return wcstoul(found + wcslen(option), NULL, 10);
    const char *value = getenv(variable);
    return value && *value ? strtoul(value, NULL, 10) : fallback;
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS *exception)
{
    printf("CRASH: exception 0x%08lX at iteration %u; the input is %s\n",
           static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode), g_iteration.load(),
           Narrow(g_inputPath).c_str());
    fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

unsigned __stdcall Watchdog(void *stop)
{
    while (WaitForSingleObject(static_cast<HANDLE>(stop), 250) == WAIT_TIMEOUT)
    {
        const DWORD started = g_fileStarted;
        if (started && timeGetTime() - started > HANG_LIMIT_MS)
        {
            printf("HANG: iteration %u took more than %lu ms; the input is %s\n", g_iteration.load(),
                   static_cast<unsigned long>(HANG_LIMIT_MS), Narrow(g_inputPath).c_str());
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    return 0;
}

// Recomputes every PNG chunk's CRC, so that damage inside a chunk reaches
// the decoder instead of being stopped by the checksum.
void FixPngChecksums(std::vector<BYTE> &bytes)
{
    size_t p = 8;
    while (p + 12 <= bytes.size())
    {
        const size_t length = static_cast<size_t>(bytes[p]) << 24 | bytes[p + 1] << 16 | bytes[p + 2] << 8 | bytes[p + 3];
        if (length > bytes.size() - p - 12)
            return;
        const uint32_t crc = Crc32(&bytes[p + 4], length + 4);
        BYTE *at = &bytes[p + 8 + length];
        at[0] = static_cast<BYTE>(crc >> 24);
        at[1] = static_cast<BYTE>(crc >> 16);
        at[2] = static_cast<BYTE>(crc >> 8);
        at[3] = static_cast<BYTE>(crc);
        p += length + 12;
    }
}

// A JPEG whose Exif block says the picture is shown turned a quarter.
std::vector<BYTE> TagOrientation(const std::vector<BYTE> &jpeg, bool bigEndian)
{
    const std::vector<TestTiffTag> tags = {{0x010F, 2, 6, {'C', 'a', 'm', 'e', 'r', 0}},
                                           IntegerTag(bigEndian, 0x0112, 3, 6),
                                           IntegerTag(bigEndian, 0x8769, 4, 0)};
    return InsertJpegSegment(jpeg, 0xE1, ExifPayload(BuildTiffBlock(bigEndian, tags)));
}

void Mutate(std::vector<BYTE> &bytes, Random &random)
{
    static const uint32_t bigValues[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
    const size_t size = bytes.size();
    if (size < 2)
        return;
    const size_t at = random.Below(static_cast<uint32_t>(size));
    switch (random.Below(7))
    {
    case 0: // one bit
        bytes[at] ^= static_cast<BYTE>(1u << random.Below(8));
        break;
    case 1: // one byte set to a boundary value
        bytes[at] = static_cast<BYTE>(bigValues[random.Below(5)]);
        break;
    case 2: // a 16- or 32-bit field, either byte order, set to a boundary value
    {
        const uint32_t value = bigValues[random.Below(10)];
        const size_t width = random.Below(2) ? 2 : 4;
        const bool bigEndian = random.Below(2) != 0;
        for (size_t i = 0; i < width && at + i < size; ++i)
            bytes[at + i] = static_cast<BYTE>(value >> (8 * (bigEndian ? width - 1 - i : i)));
        break;
    }
    case 3: // cut off
        bytes.resize(at);
        break;
    case 4: // a range removed
        bytes.erase(bytes.begin() + at, bytes.begin() + at + random.Below(static_cast<uint32_t>(size - at) + 1));
        break;
    case 5: // a range repeated
    {
        const size_t length = random.Below(static_cast<uint32_t>(size - at) + 1);
        std::vector<BYTE> copy(bytes.begin() + at, bytes.begin() + at + length);
        bytes.insert(bytes.begin() + random.Below(static_cast<uint32_t>(size)), copy.begin(), copy.end());
        break;
    }
    default: // random bytes inserted
        for (uint32_t n = random.Below(16) + 1; n > 0; --n)
            bytes.insert(bytes.begin() + at, static_cast<BYTE>(random.Next()));
        break;
    }
}
} // namespace

TEST(Fuzz, MutatedImagesNeverCrashHangOrLeavePartialFiles)
{
    const unsigned long seconds = Setting("QM_FUZZ_SECONDS", L"--fuzz-seconds=", 30);
    const unsigned long seed = Setting("QM_FUZZ_SEED", L"--fuzz-seed=", 1);
    const Seed seeds[] = {{L"jpg", MakeImageBytes(32, 24, GUID_ContainerFormatJpeg)},
                          {L"png", MakeImageBytes(32, 24, GUID_ContainerFormatPng)},
                          {L"gif", MakeImageBytes(32, 24, GUID_ContainerFormatGif)},
                          {L"bmp", MakeImageBytes(32, 24, GUID_ContainerFormatBmp)},
                          {L"tif", MakeImageBytes(32, 24, GUID_ContainerFormatTiff)},
                          {L"jpg", TagOrientation(MakeImageBytes(32, 24, GUID_ContainerFormatJpeg), true)},
                          {L"jpg", AddPhotoSegments(MakeImageBytes(32, 24, GUID_ContainerFormatJpeg), CameraSegments(false, false))}};
    const unsigned seedCount = sizeof(seeds) / sizeof(seeds[0]);
    for (const Seed &s : seeds)
        ASSERT_FALSE(s.bytes.empty()) << "could not make the ." << Narrow(s.extension) << " seed";

    // Kept in the build tree, so that whatever crashed is still there.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring folder = std::wstring(current) + L"\\fuzz-work";
    RemoveTestFolder(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    const std::wstring output = OutputFolderOf(folder);
    ASSERT_TRUE(CreateDirectoryW(output.c_str(), NULL));
    printf("[fuzz] seed %lu, %lu s; each input is written to %s before it is tried\n", seed, seconds,
           Narrow(folder).c_str());

    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(ReportCrash);
    HANDLE stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE watchdog = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, Watchdog, stop, 0, NULL));
    ASSERT_TRUE(watchdog != NULL);

    Random random(static_cast<uint32_t>(seed));
    const float scales[] = {0.25f, 0.5f, 1.5f};
    unsigned tried = 0, written = 0, partial = 0;
    DWORD slowest = 0;
    const DWORD start = timeGetTime();
    while (timeGetTime() - start < seconds * 1000)
    {
        const Seed &from = seeds[tried % seedCount];
        std::vector<BYTE> bytes = from.bytes;
        for (uint32_t n = random.Below(4) + 1; n > 0; --n)
            Mutate(bytes, random);
        if (from.extension[0] == L'p' && random.Below(4) != 0)
            FixPngChecksums(bytes);
        // A fresh name every time: the context keeps the last decoded input
        // open, so an earlier name may not be writable yet.
        const std::wstring name = L"in" + std::to_wstring(tried) + L"." + from.extension;
        const std::wstring input = folder + L"\\" + name, result = output + L"\\" + name;
        if (!WriteFileBytes(input, bytes.empty() ? from.bytes.data() : bytes.data(), bytes.size()))
        {
            ADD_FAILURE() << "could not write " << Narrow(input);
            break;
        }
        const float scale = scales[random.Below(3)];
        ScaleGuard scaleGuard(scale);
        g_inputPath = input;
        g_iteration = tried;
        const DWORD fileStart = timeGetTime();
        g_fileStarted = fileStart ? fileStart : 1;
        ResizeImageFile(NULL, input.c_str(), result.c_str());
        g_fileStarted = 0;
        const DWORD took = timeGetTime() - fileStart;
        slowest = took > slowest ? took : slowest;
        ++tried;

        std::string problem;
        if (!FindLeftovers(output).empty() || ListFolder(output).size() > (FileExists(result) ? 1u : 0u))
            problem = "a temporary or stray file in Resized";
        else if (FileExists(result))
        {
            ++written;
            GUID container;
            UINT width = 0, height = 0;
            const DecodedImage image = DecodeCompletely(result);
            const HRESULT probe = ProbeImageFile(input, &container, &width, &height);
            // A photo shown turned a quarter is written that way up.
            PhotoHeader header;
            ReadPhotoFileHeader(input.c_str(), &header);
            const bool tagged = (header.kind == PHOTO_JPEG && IsEqualGUID(container, GUID_ContainerFormatJpeg)) ||
                                (header.kind == PHOTO_TIFF && IsEqualGUID(container, GUID_ContainerFormatTiff));
            if (SUCCEEDED(probe) && tagged && OrientationSwapsSides(header.orientation))
                std::swap(width, height);
            if (image.hr != S_OK)
                problem = "the output does not decode: " + Hex(image.hr);
            else if (FAILED(probe) || image.width != ExpectedSide(width, scale) || image.height != ExpectedSide(height, scale))
                problem = "the output is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                          " for an input read as " + std::to_string(width) + " x " + std::to_string(height) + " (" +
                          Hex(probe) + ") at scale " + std::to_string(scale);
        }
        if (!problem.empty())
        {
            const std::wstring kept = folder + L"\\partial-" + name;
            CopyFileW(input.c_str(), kept.c_str(), FALSE);
            if (partial++ < 10)
                ADD_FAILURE() << "iteration " << tried - 1 << ": " << problem << "; input kept as " << Narrow(kept);
        }
        for (const std::wstring &left : ListFolder(output))
            DeleteFileW((output + L"\\" + left).c_str());
        DeleteFileW(input.c_str()); // fails while the context still holds it
    }
    SetEvent(stop);
    WaitForSingleObject(watchdog, INFINITE);
    CloseHandle(watchdog);
    CloseHandle(stop);
    SetUnhandledExceptionFilter(previousFilter);

    const DWORD elapsed = timeGetTime() - start;
    printf("[fuzz] files tried: %u in %lu ms (%.0f per second)\n", tried, static_cast<unsigned long>(elapsed),
           tried * 1000.0 / (elapsed ? elapsed : 1));
    printf("[fuzz] crashes: 0 (a crash ends this process before this line)\n");
    printf("[fuzz] hangs: 0 (the watchdog ends the process on a file slower than %lu ms); slowest file: %lu ms\n",
           static_cast<unsigned long>(HANG_LIMIT_MS), static_cast<unsigned long>(slowest));
    printf("[fuzz] outputs written: %u, partial or wrong files found: %u\n", written, partial);
    RecordProperty("files_tried", static_cast<int>(tried));
    RecordProperty("outputs_written", static_cast<int>(written));
    RecordProperty("partial_files", static_cast<int>(partial));
    RecordProperty("slowest_file_ms", static_cast<int>(slowest));
    EXPECT_GT(tried, 100u) << "the loop hardly ran";
    EXPECT_GT(written, 0u) << "no mutated file was ever resized: the mutations are too destructive to test anything";
    EXPECT_EQ(0u, partial);
    if (partial == 0)
        RemoveTestFolder(folder);
}
