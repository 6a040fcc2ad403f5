#include "imaging/ImagingContext.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The same apartment the program's UI thread uses.
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
        return 2;
    int result = RUN_ALL_TESTS();
    if (g_imaging)
        FreeImagingContext(g_imaging);
    CoUninitialize();
    return result;
}
