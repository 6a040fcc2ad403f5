// The 32-bit program is large-address-aware: with the low 2 GiB of the
// address space taken, everything it allocates lies above 2 GiB, and a
// photo must still be resized, turned and written exactly as below it. A
// 64-bit process has addresses past 2 GiB anyway and nothing to show.
#include "RobustSupport.h"
#include "TestPhotoBytes.h"

#include "batch/ResizePipeline.h"
#include "imaging/OwnBitmapSources.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace
{
const uint64_t TWO_GIB = 0x80000000ull;
const UINT RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF, WHITE = 0xFFFFFF;

// The low 2 GiB of the address space taken, so that every block made next
// lies above them: each free region that VirtualQuery finds below 2 GiB is
// reserved, then every block VirtualAlloc still hands out (Wine reports the
// space outside its own areas as reserved, yet allocates there) is kept
// where it lies below 2 GiB and counted and let go where it lies above.
// Everything is released when done.
class LowAddressReservation
{
public:
    LowAddressReservation()
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const uint64_t grain = system.dwAllocationGranularity;
        low.reserve(65536), high.reserve(65536); // now: their growth must not take what is freed
        MEMORY_BASIC_INFORMATION region;
        for (uint64_t at = grain; at < TWO_GIB && VirtualQuery(Address(at), &region, sizeof(region)); at = End(region))
        {
            const uint64_t start = (reinterpret_cast<uintptr_t>(region.BaseAddress) + grain - 1) / grain * grain;
            const uint64_t end = End(region) < TWO_GIB ? End(region) : TWO_GIB;
            if (region.State == MEM_FREE && start < end && VirtualAlloc(Address(start), end - start, MEM_RESERVE, PAGE_NOACCESS))
                low.push_back(Address(start)), lowBytes += end - start;
        }
        for (SIZE_T size = 16 << 20; size >= grain; size /= 16)
            while (low.size() < low.capacity() && high.size() < high.capacity())
            {
                void *block = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS);
                if (!block)
                    break;
                (reinterpret_cast<uintptr_t>(block) < TWO_GIB ? low : high).push_back(block);
                (reinterpret_cast<uintptr_t>(block) < TWO_GIB ? lowBytes : highBytes) += size;
            }
        for (void *block : high)
            VirtualFree(block, 0, MEM_RELEASE);
    }
    ~LowAddressReservation()
    {
        for (void *block : low)
            VirtualFree(block, 0, MEM_RELEASE);
    }
    static void *Address(uint64_t at) { return reinterpret_cast<void *>(static_cast<uintptr_t>(at)); }
    static uint64_t End(const MEMORY_BASIC_INFORMATION &region)
    {
        return reinterpret_cast<uintptr_t>(region.BaseAddress) + static_cast<uint64_t>(region.RegionSize);
    }
    std::vector<void *> low, high;
    uint64_t lowBytes = 0, highBytes = 0; // reserved below 2 GiB; reservable above them
};

UINT Quarters(UINT x, UINT y)
{
    return y < 600 ? (x < 800 ? RED : GREEN) : (x < 800 ? BLUE : WHITE);
}

bool IsLargeAddressAware()
{
    const BYTE *image = reinterpret_cast<const BYTE *>(GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS *headers =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew);
    return (headers->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
}

bool NearColour(UINT expected, UINT argb)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (abs(static_cast<int>((expected >> shift & 0xFF) - (argb >> shift & 0xFF))) > 24)
            return false;
    return true;
}
} // namespace

TEST(HighAddress, PhotosAreResizedTurnedAndWrittenWithEveryBlockAboveTwoGib)
{
    if (sizeof(void *) == 8)
        GTEST_SKIP() << "a 64-bit process has addresses past 2 GiB anyway: nothing to show here";
    ASSERT_TRUE(IsLargeAddressAware()) << "the test program is not linked large-address-aware";
    const std::wstring folder = MakeTempFolder(L"highaddress");
    ASSERT_FALSE(folder.empty());
    Com<IWICBitmap> bitmap;
    ASSERT_EQ(S_OK, MakeBgrBitmap(1600, 1200, Quarters, &bitmap));
    ASSERT_EQ(S_OK, EncodeToFile(bitmap, GUID_ContainerFormatPng, folder + L"\\plain.png"));
    ASSERT_EQ(S_OK, EncodeToFile(bitmap, GUID_ContainerFormatJpeg, folder + L"\\turned.jpg"));
    // Turned a quarter clockwise (orientation 6): the pipeline turns it in a block of its own,
    // and the JPEG copy carries the Exif block through the splicing stream.
    const std::vector<BYTE> turned = InsertJpegSegment(ReadFileBytes(folder + L"\\turned.jpg"), 0xE1,
                                                       ExifPayload(BuildTiffBlock(false, {IntegerTag(false, 0x0112, 3, 6)})));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\turned.jpg", turned.data(), turned.size()));

    LowAddressReservation reservation;
    IWICBitmapSource *block = NULL;
    BYTE *pixels = NULL;
    const HRESULT made = CreateMemoryBitmapSource(4096, 1024, GUID_WICPixelFormat32bppBGR, 4, 96, 96, &block, &pixels);
    if (block)
        block->Release();
    printf("[high] reserved below 2 GiB: %.0f MiB; reservable past 2 GiB: %.0f MiB; a 16 MiB block made after "
           "it: %s at %p\n", reservation.lowBytes / 1048576.0, reservation.highBytes / 1048576.0, Hex(made).c_str(),
           static_cast<void *>(pixels));
    if (reservation.highBytes < 256 * 1048576ull)
    {
        RemoveTestFolder(folder);
        GTEST_SKIP() << "this host gives the 32-bit process " << reservation.highBytes / 1048576
                     << " MiB past 2 GiB: too little to run the pipeline there";
    }
    ASSERT_EQ(S_OK, made);
    EXPECT_GE(reinterpret_cast<uintptr_t>(pixels), TWO_GIB) << "the low 2 GiB were not all taken";

    const struct
    {
        const wchar_t *input, *output;
        UINT width, height, shown[4]; // the output's size and its quarters' colours, left to right, top down
        bool carriesExif;
    } cases[] = {
        {L"plain.png", L"plain-out.tif", 2400, 1800, {RED, GREEN, BLUE, WHITE}, false},
        {L"turned.jpg", L"turned-out.jpg", 1800, 2400, {BLUE, RED, WHITE, GREEN}, true},
    };
    ScaleGuard scale(1.5f);
    for (const auto &row : cases)
    {
        const std::wstring output = folder + L"\\" + row.output;
        EXPECT_EQ(S_OK, ResizeImageFile(NULL, (folder + L"\\" + row.input).c_str(), output.c_str())) << Narrow(row.input);
        UINT width = 0, height = 0;
        GUID format;
        const std::vector<UINT> written = ReadBgraPixels(output, &width, &height, &format);
        ASSERT_FALSE(written.empty()) << Narrow(output) << " is missing or does not decode";
        EXPECT_EQ(row.width, width) << Narrow(output);
        EXPECT_EQ(row.height, height) << Narrow(output);
        const std::vector<BYTE> bytes = ReadFileBytes(output);
        const char exif[] = "Exif\0";
        EXPECT_EQ(row.carriesExif, std::search(bytes.begin(), bytes.end(), exif, exif + sizeof(exif)) != bytes.end())
            << Narrow(output) << ": the Exif block carried or not";
        for (int i = 0; i < 4; ++i)
        {
            const size_t x = width / 4 * (1 + 2 * (i % 2)), y = height / 4 * (1 + 2 * (i / 2));
            EXPECT_TRUE(NearColour(row.shown[i], written[y * width + x]))
                << Narrow(output) << " quarter " << i << ": expected " << std::hex << row.shown[i] << ", found "
                << (written[y * width + x] & 0xFFFFFF);
        }
    }
    RemoveTestFolder(folder);
}
