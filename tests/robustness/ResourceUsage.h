// What the process holds: GDI objects, handles and committed private
// memory, measured the same way on Windows and under Wine.
//
// Wine 8 leaves three of the usual counters empty: GetGuiResources fails
// with ERROR_CALL_NOT_IMPLEMENTED, GetProcessHandleCount succeeds with 0,
// and PROCESS_MEMORY_COUNTERS_EX.PrivateUsage is 0 while PagefileUsage
// tracks committed memory. Where a counter is empty, a substitute is used:
// GDI objects made and not yet deleted through this program's own imports
// (the product's code is linked into it), open handles found by probing
// handle values, and PagefileUsage.
#pragma once

#include <windows.h>

#include <string>

struct ResourceUsage
{
    long gdiObjects, handles;
    double privateKb;
};

// Installs the GDI counting once; call before the first measured image.
void StartCountingGdiObjects();
ResourceUsage MeasureResourceUsage();
// How each figure was obtained, for the test's output.
std::string DescribeResourceCounters();

// The highest committed memory seen while it runs, sampled every few
// milliseconds: Wine 8's PeakPagefileUsage only repeats the current value.
class PeakMemorySampler
{
public:
    PeakMemorySampler();
    ~PeakMemorySampler();
    double PeakKb() const;

private:
    static unsigned __stdcall Run(void *self);
    HANDLE stop, thread;
    volatile double peakKb;
};
