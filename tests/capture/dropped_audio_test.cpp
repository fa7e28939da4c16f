// The audio the capture device lost, through getDroppedAudio of the Java package's binding class with the
// stand-in VM: a recording whose device is forced to drop (its streaming thread stalled longer than the
// device holds) tells the gaps and the missing time that the device's own report gives, while it runs and
// after the stop, also from a device that stamps start times only (no stop times, no discontinuity flags);
// a recording without drops tells none, a pause and resume included.
#include "initialised_library_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::wstring kDropped = L"Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio";
constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr double kBufferSeconds = 0.04;

// The device's drop lines (their time= fields, in seconds) and whether its run ended.
struct DeviceReport {
    std::vector<double> drops;
    bool stopped = false;
};

DeviceReport ReadReport(const std::wstring& path)
{
    DeviceReport report;
    std::ifstream file(std::string(path.begin(), path.end()));
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("drop ", 0) == 0)
            report.drops.push_back(std::stoll(line.substr(line.find(" time=") + 6)) / 1e7);
        else if (line.rfind("stop ", 0) == 0)
            report.stopped = true;
    }
    return report;
}

class DroppedAudio : public CInitialisedLibraryTest {
public:
    void TearDown() override
    {
        for (const wchar_t* name : {L"TESSARO_TEST_CAPTURE_HOLD_MS", L"TESSARO_TEST_CAPTURE_REPORT",
                                    L"TESSARO_TEST_CAPTURE_DROP_AT_MS", L"TESSARO_TEST_CAPTURE_START_TIMES_ONLY",
                                    L"TESSARO_TEST_CAPTURE_PAUSE_CUTS"})
            ::SetEnvironmentVariableW(name, nullptr);
        CInitialisedLibraryTest::TearDown();
    }

    // Records PCM WAV with the device holding holdMs and, if dropAtMs, stalling there once.
    void Record(const wchar_t* holdMs, const wchar_t* dropAtMs)
    {
        m_report = WorkPath(L"dropped-audio-report.txt");
        ::DeleteFileW(m_report.c_str());
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", holdMs);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_DROP_AT_MS", dropAtMs);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", m_report.c_str());
        const jint recorded = library.Java_com_tarvik_kelvane_Quillmar_record(
            library.Env(), library.Java(), Jvm().NewByteArray(Utf8(WorkPath(L"dropped-audio.wav"))), 1, 44100, 0);
        ASSERT_EQ(recorded, S_OK);
    }

    jint Dropped(jdoubleArray array)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio(library.Env(), library.Java(),
                                                                                     array);
    }
    std::vector<jdouble> Dropped(jint* result)
    {
        jdoubleArray array = Jvm().NewDoubleArray(2);
        Jvm().SetDoubleContents(array, {-1.0, -1.0});
        *result = Dropped(array);
        return Jvm().DoubleContents(array);
    }

    size_t Levels()
    {
        size_t count = 0;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            count += call.method == "InputLevel" ? 1 : 0;
        return count;
    }
    bool MoreLevels(size_t more)
    {
        const size_t from = Levels();
        return WaitFor([&] { return Levels() >= from + more; });
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); }
    jint Pause()
    {
        return library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), Jvm().NewBooleanArray(1));
    }

    void ExpectAForcedDropTold();

    std::vector<std::wstring> Log()
    {
        library.FreeLibrary();
        library.Unload();
        return CLoadedLibrary::ReadMainLog().Messages();
    }

    std::wstring m_report;
};

void DroppedAudio::ExpectAForcedDropTold()
{
    // The device holds 400 ms; its thread stalls for 500 ms once 400 ms are delivered.
    Record(L"400", L"400");
    ASSERT_FALSE(HasFatalFailure());
    jint result = -1;
    std::vector<jdouble> dropped;
    EXPECT_TRUE(WaitFor([&] {
        dropped = Dropped(&result);
        return result == S_OK && dropped[0] >= 1.0;
    })) << "no gap seen while recording";
    const double seenWhileRecording = dropped[0];
    // Audio after the gap, so that every drop the device makes is seen before the stop.
    EXPECT_TRUE(MoreLevels(10));
    ASSERT_EQ(Stop(), S_OK);

    const DeviceReport device = ReadReport(m_report);
    ASSERT_TRUE(device.stopped);
    ASSERT_GE(device.drops.size(), 1u);
    dropped = Dropped(&result);
    ASSERT_EQ(result, S_OK);
    // On a loaded machine the device may drop again right before the stop, with no audio after it.
    const size_t gaps = static_cast<size_t>(dropped[0]);
    EXPECT_EQ(dropped[0], static_cast<double>(gaps));
    ASSERT_GE(dropped[0], seenWhileRecording) << "the counts outlive the graph";
    ASSERT_GE(gaps + 1, device.drops.size());
    ASSERT_LE(gaps, device.drops.size());
    double lost = 0.0;
    for (size_t i = 0; i < gaps; ++i)
        lost += device.drops[i];
    EXPECT_GE(device.drops[0], 0.1) << "the stall outlasted the hold by 100 ms";
    EXPECT_NEAR(dropped[1], lost, kBufferSeconds);

    // An array too short for both figures is refused and left alone.
    jdoubleArray shortArray = Jvm().NewDoubleArray(1);
    Jvm().SetDoubleContents(shortArray, {-1.0});
    EXPECT_EQ(Dropped(shortArray), kInsufficientBuffer);
    EXPECT_EQ(Jvm().DoubleContents(shortArray)[0], -1.0);
    EXPECT_EQ(Dropped(static_cast<jdoubleArray>(nullptr)), E_INVALIDARG);

    // A start that fails is the last recording now, and it lost nothing.
    const jint refused = library.Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice(
        library.Env(), library.Java(), Jvm().NewByteArray(std::string("no such device")),
        Jvm().NewByteArray(Utf8(WorkPath(L"never.wav"))), 1, 44100, 0);
    EXPECT_EQ(refused, static_cast<jint>(0x8007048F));
    EXPECT_EQ(Dropped(&result), (std::vector<jdouble>{0.0, 0.0})) << "the last recording's gaps outlived a failed start";
    EXPECT_EQ(result, S_OK);

    const std::vector<std::wstring> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), kDropped + L"( 2 ) begin…"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), kDropped + L"( 2 ) done, return 0x00000000."), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), kDropped + L"( 1 ) done, return 0x8007007A."), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), kDropped + L"( -1 ) done, return 0x80070057."), log.end());
}

TEST_F(DroppedAudio, AForcedDropIsToldWithTheTimeTheDeviceLost)
{
    ExpectAForcedDropTold();
}

// Without stop times and discontinuity flags, a gap shows only where a sample starts later than the one
// before it ended, by its length at the format's byte rate.
TEST_F(DroppedAudio, AForcedDropOfADeviceThatStampsStartTimesOnlyIsToldWithItsLength)
{
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_START_TIMES_ONLY", L"1");
    ExpectAForcedDropTold();
}

TEST_F(DroppedAudio, ARecordingWithoutDropsTellsNoneAPauseIncluded)
{
    jint result = -1;
    EXPECT_EQ(Dropped(&result), (std::vector<jdouble>{0.0, 0.0})) << "nothing before the first recording";
    EXPECT_EQ(result, S_OK);

    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_PAUSE_CUTS", L"1");
    Record(L"5000", nullptr);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(MoreLevels(15));
    // A pause and resume: the device delivers the audio up to the pause while paused, and flags what
    // follows the resume; no audio is lost.
    ASSERT_GE(Pause(), 0);
    ::Sleep(300);
    ASSERT_GE(Pause(), 0);
    EXPECT_TRUE(MoreLevels(15));
    ASSERT_EQ(Stop(), S_OK);
    const DeviceReport device = ReadReport(m_report);
    ASSERT_TRUE(device.stopped);
    EXPECT_TRUE(device.drops.empty());
    EXPECT_EQ(Dropped(&result), (std::vector<jdouble>{0.0, 0.0}));
    EXPECT_EQ(result, S_OK);
}

} // namespace
