#pragma once
// The fixture of the tests that drive an initialised library: loaded and initialised before each test,
// and whatever a test left behind (graphs, the event thread) released before the library is unloaded,
// also when the test ended early.
#include "loaded_library.h"

#include <gtest/gtest.h>

#include <vector>

class CInitialisedLibraryTest : public ::testing::Test {
public:
    void SetUp() override { ASSERT_EQ(library.InitLibrary(), S_OK); }
    void TearDown() override
    {
        Jvm().OnCall(nullptr);
        if (library.Loaded())
            library.FreeLibrary();
    }

    TestJvm::CJavaVm& Jvm() { return library.Jvm(); }
    // The library's calls into "Stopped" so far, in order.
    std::vector<TestJvm::JavaCall> StoppedCalls()
    {
        std::vector<TestJvm::JavaCall> calls;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            if (call.method == "Stopped")
                calls.push_back(call);
        return calls;
    }

    CLoadedLibrary library;
};
