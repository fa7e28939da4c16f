#include "support/step_sequence.h"
#include "support/system_error.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(StepSequence, StopsAtFirstFailureAndGoesOnAfterSFalse)
{
    std::vector<int> ran;
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] { ran.push_back(1); return S_FALSE; })
        .Do([&] { ran.push_back(2); return E_ABORT; })
        .Do([&] { ran.push_back(3); return S_OK; });
    EXPECT_TRUE(steps.Failed());
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(StepSequence, ResultIsTheLastStepDone)
{
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([] { return S_FALSE; }).Do([] { return S_OK; });
    EXPECT_EQ(hr, S_OK);
}

TEST(TearDown, RunsEveryStepAndKeepsFirstNonZero)
{
    std::vector<int> ran;
    HRESULT hr = S_OK;
    CTearDown tearDown(hr);
    tearDown.Do([&] { ran.push_back(1); return S_OK; })
        .Do([&] { ran.push_back(2); return S_FALSE; })
        .Do([&] { ran.push_back(3); return E_FAIL; });
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(SystemError, Mapping)
{
    EXPECT_EQ(Win32::ResultFromSystemError(0), E_UNEXPECTED);
    EXPECT_EQ(Win32::ResultFromSystemError(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(Win32::ResultFromSystemError(0x12345), static_cast<HRESULT>(0x80072345));
    EXPECT_EQ(Win32::ResultFromSystemError(E_ABORT), E_ABORT);
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32::ResultFromLastError(), E_ACCESSDENIED);
}

} // namespace
