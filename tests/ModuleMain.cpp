// Entry point of a test module: standin-host.exe loads it and runs its tests.
#include <gtest/gtest.h>

#include "standin_host/Standin.h"

extern "C" __declspec(dllexport) int standin_module_main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
