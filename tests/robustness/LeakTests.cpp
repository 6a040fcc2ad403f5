// Leaks: hundreds of images through the pipeline in one process must leave
// GDI objects, handles and committed memory where they were after the
// first few.
#include "RobustSupport.h"
#include "ResourceUsage.h"

#include "batch/ResizePipeline.h"
#include "imaging/ImagingContext.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

TEST(Leaks, FiveHundredImagesEndWhereTenImagesWere)
{
    StartCountingGdiObjects();
    ImageSet images = MakeImageSet(L"leak", 320, 240);
    ASSERT_EQ(5u, images.inputs.size());
    const int total = 500, warmUp = 10;
    ResourceUsage afterWarmUp = {};
    int failures = 0;
    for (int i = 0; i < total; ++i)
    {
        const size_t k = static_cast<size_t>(i) % images.inputs.size();
        HRESULT hr = ResizeImageFile(NULL, images.inputs[k].c_str(), images.outputs[k].c_str());
        if (FAILED(hr) && failures++ < 5)
            ADD_FAILURE() << "image " << i << " (" << Narrow(images.inputs[k]) << ") failed: " << Hex(hr);
        if (i + 1 == warmUp)
            afterWarmUp = MeasureResourceUsage();
    }
    const ResourceUsage end = MeasureResourceUsage();
    EXPECT_EQ(0, failures);
    // The resized images must really have been written, or nothing was measured.
    for (const std::wstring &output : images.outputs)
        EXPECT_EQ(S_OK, DecodeCompletely(output).hr) << Narrow(output);

    const double per1000 = 1000.0 / (total - warmUp);
    const long gdi = end.gdiObjects - afterWarmUp.gdiObjects;
    const long handles = end.handles - afterWarmUp.handles;
    const double privateKb = end.privateKb - afterWarmUp.privateKb;
    printf("[leak] counters: %s\n", DescribeResourceCounters().c_str());
    printf("[leak] after %d images: GDI %ld, handles %ld, private %.0f KB\n", warmUp, afterWarmUp.gdiObjects,
           afterWarmUp.handles, afterWarmUp.privateKb);
    printf("[leak] after %d images: GDI %ld, handles %ld, private %.0f KB\n", total, end.gdiObjects, end.handles,
           end.privateKb);
    printf("[leak] per 1000 images: GDI %+.1f, handles %+.1f, private %+.0f KB\n", gdi * per1000, handles * per1000,
           privateKb * per1000);
    RecordProperty("gdi_per_1000", std::to_string(gdi * per1000));
    RecordProperty("handles_per_1000", std::to_string(handles * per1000));
    RecordProperty("private_kb_per_1000", std::to_string(privateKb * per1000));

    // The preview bitmap of the last image is alive at both points.
    EXPECT_GE(afterWarmUp.gdiObjects, 1) << "the preview bitmap must be counted, or GDI objects are not measured";
    // One leaked preview per image would be 490 GDI objects and 490 x 150
    // KB of pixels; one leaked file, 490 handles.
    EXPECT_LE(gdi, 2) << "GDI objects grew from " << afterWarmUp.gdiObjects << " to " << end.gdiObjects;
    EXPECT_LE(handles, 2) << "handles grew from " << afterWarmUp.handles << " to " << end.handles;
    EXPECT_LE(privateKb, 2048.0) << "committed memory grew by " << privateKb << " KB";
    RemoveTestFolder(images.folder);
}

TEST(Leaks, CountersSeeWhatTheyCount)
{
    // The substitutes must notice real leaks of each kind, or a clean
    // result above would mean nothing.
    StartCountingGdiObjects();
    const ResourceUsage before = MeasureResourceUsage();
    HANDLE events[20];
    for (HANDLE &event : events)
        event = CreateEventW(NULL, FALSE, FALSE, NULL);
    // Written to, as leaked pixels would be: Wine counts only touched pages.
    void *block = VirtualAlloc(NULL, 8 << 20, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_TRUE(block != NULL);
    memset(block, 0x5A, 8 << 20);
    void *bits = NULL;
    HBITMAP bitmap = CreateTopDownDib(16, 16, &bits);
    const ResourceUsage during = MeasureResourceUsage();
    for (HANDLE event : events)
        CloseHandle(event);
    VirtualFree(block, 0, MEM_RELEASE);
    DeleteObject(bitmap);
    const ResourceUsage after = MeasureResourceUsage();

    EXPECT_NEAR(20, during.handles - before.handles, 2);
    EXPECT_EQ(1, during.gdiObjects - before.gdiObjects);
    EXPECT_NEAR(8192.0, during.privateKb - before.privateKb, 512.0);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.gdiObjects, after.gdiObjects);
}
