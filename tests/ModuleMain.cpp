// Entry point of a test module: standin-host.exe loads it and runs its tests.
#include <gtest/gtest.h>

#include "codepatch/call_gate.h"
#include "standin_host/Standin.h"

// Each test module finds its own call gates, apart from the plugin's.
const wchar_t codepatch::call_gate_owner[] = TEST_MODULE_NAME;

extern "C" __declspec(dllexport) int standin_module_main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
