// The batch's pool of workers: four workers write exactly what one writes,
// copies that land on one name are written in listing order, and a stop
// with every worker busy leaves only whole files.
#include "RobustSupport.h"
#include "TestPhotoBytes.h"

#include "batch/FolderBatch.h"
#include "batch/ImageWriter.h"
#include "batch/MemoryBudget.h"
#include "imaging/DecoderSignatures.h"
#include "imaging/SharedFlags.h"
#include "imaging/StoppableSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

namespace
{
typedef std::map<std::wstring, std::vector<BYTE>> FolderBytes;

UINT SeeThrough(UINT x, UINT y)
{
    return ((x + y) % 3 ? 0xFF000000u : 0x40000000u) | (x * 5 & 0xFF) << 16 | (y * 3 & 0xFF);
}

bool ListedBefore(const std::vector<std::wstring> &order, const wchar_t *first, const wchar_t *second)
{
    const auto a = std::find(order.begin(), order.end(), first), b = std::find(order.begin(), order.end(), second);
    return a < b;
}

// A JPEG that a camera might have written (orientation 6 with Exif, XMP and
// a colour profile), a PNG with see-through parts, a GIF, a BMP, a TIFF, a
// cut-off JPEG, a text file, and photos enough to keep four workers busy.
void MakeVariedImages(const std::wstring &folder)
{
    ASSERT_TRUE(WriteImage(folder + L"\\plain.jpg", 320, 240, GUID_ContainerFormatJpeg));
    const std::vector<BYTE> camera = AddPhotoSegments(ReadFileBytes(folder + L"\\plain.jpg"), CameraSegments(false, false));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\camera.jpg", camera.data(), camera.size()));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\cut.jpg", camera.data(), camera.size() / 2));
    Com<IWICBitmap> alpha;
    ASSERT_EQ(S_OK, MakeBgraBitmap(200, 150, SeeThrough, &alpha));
    ASSERT_EQ(S_OK, EncodeToFile(alpha, GUID_ContainerFormatPng, folder + L"\\alpha.png"));
    ASSERT_TRUE(WriteImage(folder + L"\\anim.gif", 120, 90, GUID_ContainerFormatGif));
    ASSERT_TRUE(WriteImage(folder + L"\\plain.bmp", 101, 67, GUID_ContainerFormatBmp));
    ASSERT_TRUE(WriteImage(folder + L"\\scan.tif", 150, 100, GUID_ContainerFormatTiff));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\notes.txt", "not an image", 12));
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(WriteImage(folder + L"\\photo" + std::to_wstring(i) + L".jpg", 640 + 16 * i, 480, GUID_ContainerFormatJpeg));
    // Two copies that land on "a.heic.jpg": a PNG named a.heic, and a JPEG.
    ASSERT_TRUE(WriteImage(folder + L"\\a.heic", 40, 20, GUID_ContainerFormatPng));
    ASSERT_TRUE(WriteImage(folder + L"\\a.heic.jpg", 80, 40, GUID_ContainerFormatJpeg));
}

// Walks folder with that many workers and returns what Resized holds,
// removing it afterwards.
FolderBytes ResizeWith(const std::wstring &folder, UINT workers)
{
    FolderBytes written;
    WalkImageFolder(NULL, folder.c_str(), workers);
    for (const std::wstring &name : ListFolder(OutputFolderOf(folder)))
        written[name] = ReadFileBytes(OutputFolderOf(folder) + L"\\" + name);
    RemoveTree(OutputFolderOf(folder));
    return written;
}

void ExpectSize(const FolderBytes &written, const wchar_t *name, UINT width, UINT height)
{
    const auto found = written.find(name);
    ASSERT_TRUE(found != written.end()) << Narrow(name) << " was not written";
    const std::wstring probe = MakeTempFolder(L"probe") + L"\\copy";
    ASSERT_TRUE(WriteFileBytes(probe, found->second.data(), found->second.size()));
    GUID container;
    UINT gotWidth = 0, gotHeight = 0;
    EXPECT_EQ(S_OK, ProbeImageFile(probe, &container, &gotWidth, &gotHeight));
    EXPECT_TRUE(gotWidth == width && gotHeight == height) << Narrow(name) << ": expected the later twin's " << width
                                                          << " x " << height << ", got " << gotWidth << " x " << gotHeight;
    RemoveTree(probe.substr(0, probe.size() - 5));
}
} // namespace

TEST(BatchPool, FourWorkersWriteWhatOneWritesAndTheLaterTwinWins)
{
    // Case twins cannot be made from inside Wine (it folds case on every
    // create); the CTest fixture makes "twin.bmp" (8 x 4) and "TWIN.BMP"
    // (4 x 8) in this folder, and the test adds the rest.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring folder = std::wstring(current) + L"\\pool-twins";
    if (ListFolder(folder).size() != 2)
        GTEST_SKIP() << "no case twins prepared in " << Narrow(folder) << " (made by the CTest fixture)";
    ScaleGuard scale(0.25f);
    ASSERT_NO_FATAL_FAILURE(MakeVariedImages(folder));
    const std::vector<std::wstring> order = ListFolderInListingOrder(folder);

    const FolderBytes one = ResizeWith(folder, 1);
    const FolderBytes four = ResizeWith(folder, 4);

    EXPECT_GE(one.size(), 14u) << "expected a copy of every image";
    EXPECT_EQ(one.size(), four.size());
    for (const auto &copy : one)
    {
        const auto other = four.find(copy.first);
        EXPECT_TRUE(other != four.end() && other->second == copy.second)
            << Narrow(copy.first) << ": four workers wrote other bytes than one (or none)";
    }
    for (const FolderBytes *written : {&one, &four})
    {
        const bool upperLater = ListedBefore(order, L"twin.bmp", L"TWIN.BMP");
        // "Resized" folds case: the one name carries whichever twin came first.
        const std::wstring twinName = written->count(L"twin.bmp") ? L"twin.bmp" : L"TWIN.BMP";
        ExpectSize(*written, twinName.c_str(), upperLater ? 1 : 2, upperLater ? 2 : 1);
        const bool jpegLater = ListedBefore(order, L"a.heic", L"a.heic.jpg");
        ExpectSize(*written, L"a.heic.jpg", jpegLater ? 20 : 10, jpegLater ? 10 : 5);
    }
    EXPECT_TRUE(FindLeftovers(folder).empty());
}

// Closing the window with every worker busy: the files in work are
// finished, no new one starts, and nothing half-written stays.
TEST(BatchPool, StoppingWithFourWorkersBusyLeavesOnlyWholeFiles)
{
    const std::wstring folder = MakeTempFolder(L"poolstop");
    ASSERT_FALSE(folder.empty());
    const int imageCount = 16;
    for (int i = 0; i < imageCount; ++i)
        ASSERT_TRUE(WriteImage(folder + L"\\big" + std::to_wstring(i) + L".png", 1200, 900, GUID_ContainerFormatPng));
    ScaleGuard scale(1.5f); // enlarged, so that every file takes a while to encode

    WalkRun run = StartWalk(folder, 4);
    const DWORD start = timeGetTime();
    while (ListFolder(OutputFolderOf(folder)).empty() && timeGetTime() - start < 60000)
        Sleep(5);
    g_quitRequested = true;
    const DWORD raised = timeGetTime();
    DWORD elapsed = 0;
    const bool inTime = FinishWalk(run, 20000, &elapsed);
    const DWORD afterQuit = timeGetTime() - raised;
    g_quitRequested = false;

    EXPECT_TRUE(inTime);
    EXPECT_LT(afterQuit, 15000u) << "the workers went on long after the stop";
    const std::vector<std::wstring> outputs = ListFolder(OutputFolderOf(folder));
    EXPECT_LT(outputs.size(), static_cast<size_t>(imageCount)) << "the batch did not stop early";
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left";
    for (const std::wstring &name : outputs)
    {
        const DecodedImage image = DecodeCompletely(OutputFolderOf(folder) + L"\\" + name);
        EXPECT_EQ(S_OK, image.hr) << Narrow(name) << " is not whole: " << Hex(image.hr);
        EXPECT_EQ(1800u, image.width) << Narrow(name);
    }
    printf("[pool] stop with 4 workers busy: %u of %d copies, walk ended %lu ms after the stop\n",
           static_cast<unsigned>(outputs.size()), imageCount, static_cast<unsigned long>(afterQuit));
    RemoveTestFolder(folder);
}

// A picture too large to finish at a stop is given up between two bands,
// and its copy is not written at all.
TEST(BatchPool, AStoppablePictureIsGivenUpAtTheStopAndLeavesNothing)
{
    const std::wstring folder = MakeTempFolder(L"poolgiveup");
    ASSERT_FALSE(folder.empty());
    Com<IWICBitmap> bitmap;
    ASSERT_EQ(S_OK, MakeBgrBitmap(64, 300, PatternPixel, &bitmap));
    IWICBitmapSource *source = bitmap;
    source->AddRef();
    ASSERT_EQ(S_OK, CreateStoppableSource(&source));
    const std::wstring output = folder + L"\\given-up.png", finished = folder + L"\\finished.png";

    g_quitRequested = true;
    const HRESULT stopped = WriteImageFile(g_imaging, source, output.c_str());
    g_quitRequested = false;
    const HRESULT written = WriteImageFile(g_imaging, source, finished.c_str());
    source->Release();

    EXPECT_TRUE(FAILED(stopped)) << "expected the write to fail at the stop, got " << Hex(stopped);
    EXPECT_FALSE(FileExists(output));
    EXPECT_TRUE(FindLeftovers(folder).empty()) << "a temporary file was left";
    EXPECT_EQ(S_OK, written) << "without a stop the same source is written whole";
    EXPECT_EQ(S_OK, DecodeCompletely(finished).hr);
    RemoveTestFolder(folder);
}

namespace
{
// Files of the sizes given, in listing order, run by four threads through
// one budget of 100 bytes; what each saw beside itself when admitted.
struct BudgetRun
{
    std::vector<UINT64> sizes;
    MemoryBudget budget;
    std::atomic<ULONGLONG> next{0};
    std::mutex lock;                    // guards the members below
    std::set<ULONGLONG> running;        // orders admitted and not yet done
    std::vector<ULONGLONG> admissions;  // orders in the order they were admitted
    std::vector<std::string> faults;    // broken promises seen

    void Worker()
    {
        for (ULONGLONG order; (order = next++) < sizes.size();)
        {
            UINT64 reserved = 0;
            if (!AdmitFile(&budget, order, sizes[order], &reserved))
                return;
            Check(order, reserved);
            Sleep(15);
            {
                std::lock_guard<std::mutex> hold(lock);
                running.erase(order);
            }
            ReleaseFile(&budget, reserved);
        }
    }
    void Check(ULONGLONG order, UINT64 reserved)
    {
        std::lock_guard<std::mutex> hold(lock);
        admissions.push_back(order);
        const UINT64 size = sizes[order];
        UINT64 held = reserved;
        for (ULONGLONG other : running)
        {
            held += std::min<UINT64>(sizes[other], 100);
            if (size == 0 || sizes[other] == 0)
                continue; // needs nothing: runs beside anything
            if (size > 100 || sizes[other] > 100)
                faults.push_back("file " + std::to_string(order) + " ran beside " + std::to_string(other) +
                                 " though one of them needs the whole budget");
            else if (size > 50 && sizes[other] > 50)
                faults.push_back("files " + std::to_string(order) + " and " + std::to_string(other) +
                                 ", each over half the budget, ran together");
        }
        if (held > 100 && !running.empty())
            faults.push_back("file " + std::to_string(order) + " admitted with " + std::to_string(held) + " of 100 held");
        running.insert(order);
    }
};
} // namespace

TEST(MemoryBudget, FilesAreAdmittedInListingOrderAndNeverBeyondTheBudget)
{
    BudgetRun run;
    // Unknown size: reserving the whole budget; 150: larger than all of it;
    // 0: not decoded at all (a folder, a file that cannot be opened).
    const UINT64 unknown = FILE_BYTES_UNKNOWN;
    run.sizes = {10, 150, 0, 60, 60, 10, 10, 60, 30, unknown, 0, 20, 20, 20, 20, 60, 10, 51, 51, 0, 5};
    StartMemoryBudget(&run.budget, 100);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&run] { run.Worker(); });
    for (std::thread &thread : threads)
        thread.join();

    std::vector<ULONGLONG> all(run.sizes.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    std::sort(run.admissions.begin(), run.admissions.end());
    EXPECT_EQ(all, run.admissions) << "every file is admitted once";
    for (const std::string &fault : run.faults)
        ADD_FAILURE() << fault;
    EXPECT_EQ(0u, run.budget.reserved) << "reservations were not all released";
}

TEST(MemoryBudget, EstimateCountsTheFrameItsLargeCopyAndTheScaledCopy)
{
    PhotoHeader header = {};
    EXPECT_EQ(FILE_BYTES_UNKNOWN, EstimateFileBytes(header, 0.25f)) << "no size read: unknown";
    header.frameFound = true;
    header.frameWidth = 4000;
    header.frameHeight = 3000;
    EXPECT_EQ(4000ull * 3000 * 4 + 1000ull * 750 * 4, EstimateFileBytes(header, 0.25f));
    header.frameWidth = 30000; // 3.6 GB at 4 bytes a pixel: read whole into a copy of its own
    header.frameHeight = 30000;
    EXPECT_EQ(2 * 30000ull * 30000 * 4 + 3000ull * 3000 * 4, EstimateFileBytes(header, 0.1f));
    header.frameWidth = header.frameHeight = 0xFFFFFFFFu;
    EXPECT_EQ(UINT64_MAX, EstimateFileBytes(header, 1.5f)) << "a size past 64 bits saturates";
}

// A file that does not fit waits, and a later one that would fit beside
// what runs waits behind it, so that the large one cannot starve.
TEST(MemoryBudget, AFileThatDoesNotFitHoldsBackEveryLaterFile)
{
    MemoryBudget budget;
    StartMemoryBudget(&budget, 100);
    const UINT64 sizes[] = {60, 60, 10};
    DWORD admittedAt[3] = {}, releasedAt[3] = {};
    UINT64 reserved[3] = {};
    ASSERT_TRUE(AdmitFile(&budget, 0, sizes[0], &reserved[0]));
    admittedAt[0] = timeGetTime();
    std::vector<std::thread> later;
    for (ULONGLONG order = 2; order >= 1; --order)
        later.emplace_back([&, order] {
            if (!AdmitFile(&budget, order, sizes[order], &reserved[order]))
                return;
            admittedAt[order] = timeGetTime();
            Sleep(20);
            releasedAt[order] = timeGetTime();
            ReleaseFile(&budget, reserved[order]);
        });
    Sleep(150);
    releasedAt[0] = timeGetTime();
    ReleaseFile(&budget, reserved[0]);
    for (std::thread &thread : later)
        thread.join();

    EXPECT_GE(admittedAt[1], releasedAt[0]) << "file 1 does not fit beside file 0";
    EXPECT_GE(admittedAt[2], releasedAt[0]) << "file 2 fits beside file 0 but must wait behind file 1";
    EXPECT_EQ(0u, budget.reserved);
}

// A file that is not decoded at all (the batch's own "Resized" folder,
// which every folder lists once) passes in its turn while a file that
// holds the whole budget runs, and never holds back the files after it.
TEST(MemoryBudget, AFileThatNeedsNothingNeverWaitsForTheFilesBeforeIt)
{
    MemoryBudget budget;
    StartMemoryBudget(&budget, 100);
    UINT64 reserved[3] = {};
    ASSERT_TRUE(AdmitFile(&budget, 0, FILE_BYTES_UNKNOWN, &reserved[0]));
    EXPECT_EQ(100u, reserved[0]) << "a file of unknown size holds the whole budget";
    std::atomic<bool> passed(false);
    std::thread nothing([&] {
        passed = AdmitFile(&budget, 1, 0, &reserved[1]);
        if (passed)
            ReleaseFile(&budget, reserved[1]);
    });
    for (int waited = 0; !passed && waited < 2000; waited += 10)
        Sleep(10);
    g_quitRequested = !passed; // ends the wait of a file that waits for file 0
    nothing.join();
    g_quitRequested = false;
    ASSERT_TRUE(passed) << "the file that needs nothing waited for the one holding the whole budget";
    EXPECT_EQ(0u, reserved[1]);
    ReleaseFile(&budget, reserved[0]);
    EXPECT_TRUE(AdmitFile(&budget, 2, FILE_BYTES_UNKNOWN, &reserved[2])) << "the file after it is admitted in turn";
    ReleaseFile(&budget, reserved[2]);
    EXPECT_EQ(0u, budget.reserved);
}

// A file that no installed decoder recognises (a sidecar, a text) is not
// decoded at all, so it holds nothing of the budget; anything a decoder
// may take, or that cannot be asked about, counts as an image. (Under
// Wine a file shorter than the end-of-file signature of its TGA decoder
// cannot be asked about: the decoder's answer fails.)
TEST(MemoryBudget, OnlyFilesNoDecoderRecognisesAreKnownNotToBeImages)
{
    const std::wstring folder = MakeTempFolder(L"signatures");
    const char xmp[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>\n";
    const unsigned char jpegStart[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    const unsigned char pngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const unsigned char bitmapStart[] = {'B', 'M', 0x10, 0, 0, 0, 0, 0};
    const struct
    {
        const wchar_t *name;
        const void *bytes;
        size_t size;
        bool mayBeImage;
    } rows[] = {
        {L"IMG_0001.xmp", xmp, sizeof(xmp) - 1, false},
        {L"notes-named-like-a-photo.jpg", xmp, sizeof(xmp) - 1, false},
        {L"cut-after-app0.jpg", jpegStart, sizeof(jpegStart), true},
        {L"signature-only.dat", pngSignature, sizeof(pngSignature), true},
        {L"bitmap-start.txt", bitmapStart, sizeof(bitmapStart), true},
        {L"gone.jpg", NULL, 0, true},
    };
    for (const auto &row : rows)
    {
        const std::wstring path = folder + L"\\" + row.name;
        if (row.bytes)
        {
            ASSERT_TRUE(WriteFileBytes(path, row.bytes, row.size));
        }
        EXPECT_EQ(row.mayBeImage, MayAnyDecoderTake(TestFactory(), path.c_str()))
            << "for " << Narrow(row.name) << ", expected " << (row.mayBeImage ? "maybe an image" : "no image");
    }
    RemoveTestFolder(folder);
}

// A budget smaller than every file: each runs alone, and the batch still
// writes every copy, byte for byte what an unbounded one writes.
TEST(MemoryBudget, ABudgetSmallerThanEveryFileRunsThemOneAtATime)
{
    ImageSet inputs = MakeImageSet(L"budget", 300, 200);
    ASSERT_EQ(5u, inputs.inputs.size());
    WalkImageFolder(NULL, inputs.folder.c_str(), 4, 1);
    const std::map<std::wstring, uint64_t> tight = HashFiles(OutputFolderOf(inputs.folder));
    WalkImageFolder(NULL, inputs.folder.c_str(), 4);
    EXPECT_EQ(5u, tight.size());
    EXPECT_EQ(tight, HashFiles(OutputFolderOf(inputs.folder)));
    RemoveTestFolder(inputs.folder);
}
