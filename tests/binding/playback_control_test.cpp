// Seek, volume, balance and the output device through the exports. What is heard is checked on the Linux
// side (tests/platform/playback/output-check records the audio server's sink while it runs
// PlaybackControl.AtTheOutput with a scenario of its table); here the natives' results and refusals.
#include "initialised_library_test.h"

#include "capture_platform.h"

#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::wstring kTone = TEST_DATA_DIR L"/tone-2s.wav";
// An instance key as long as the capture devices' (the platform's filter mapper copies it into a small buffer).
const wchar_t kOutputCheckInstance[] = L"{0A7C5E12-6B2D-4C1E-9F30-1D2C3B4A5E60}-1";
using CapturePlatform::RemoveWaveOutDeviceFunction;
constexpr HRESULT kDeviceNotPresent = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

class PlaybackControl : public CInitialisedLibraryTest {
public:
    JNIEnv* Env() { return library.Env(); }
    jobject Java() { return library.Java(); }
    jint PlayOn(jbyteArray id, const std::wstring& path)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_playOnDevice(
            Env(), Java(), id, Jvm().NewByteArray(Utf8(path)), 1);
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(Env(), Java()); }
    jint Pause() { return library.Java_com_tarvik_kelvane_Quillmar_pause(Env(), Java(), Jvm().NewBooleanArray(1)); }
    jint Seek(double seconds)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_setPosition(Env(), Java(), seconds);
    }
    double Position()
    {
        jdoubleArray seconds = Jvm().NewDoubleArray(1);
        EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(Env(), Java(), seconds), S_OK);
        return Jvm().DoubleContents(seconds)[0];
    }
    jint SetVolume(jint volume)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_setVolume(Env(), Java(), volume);
    }
    jint SetBalance(jint balance)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_setBalance(Env(), Java(), balance);
    }
    // getVolume or getBalance into an array of that length (-1: null); the value in *value.
    jint Read(bool volume, jsize length, jint* value = nullptr)
    {
        jintArray array = length < 0 ? nullptr : Jvm().NewIntArray(length);
        const jint hr = volume
                            ? library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getVolume(Env(), Java(), array)
                            : library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getBalance(Env(), Java(), array);
        if (value != nullptr && array != nullptr && length > 0)
            *value = Jvm().IntContents(array)[0];
        return hr;
    }
    jint Devices(jbyteArray list, jintArray size)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getOutputDevices(Env(), Java(), list, size);
    }
};

// Every refusal changes nothing: the playback goes on where it was, with its volume and balance.
TEST_F(PlaybackControl, Refusals)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Nothing held: the playback controls refuse, and a renderer that is not there builds nothing.
    EXPECT_EQ(Seek(1.0), VFW_E_WRONG_STATE);
    EXPECT_EQ(SetVolume(0), VFW_E_WRONG_STATE);
    EXPECT_EQ(SetBalance(0), VFW_E_WRONG_STATE);
    EXPECT_EQ(Read(true, 1), VFW_E_WRONG_STATE);
    EXPECT_EQ(Read(false, 1), VFW_E_WRONG_STATE);
    EXPECT_EQ(PlayOn(Jvm().NewByteArray(std::string("@device:sw:{gone}\\Unplugged")), kTone), kDeviceNotPresent);
    EXPECT_EQ(PlayOn(Jvm().NewByteArray(std::string()), kTone), E_INVALIDARG);
    EXPECT_EQ(Stop(), E_UNEXPECTED);

    ASSERT_GE(PlayOn(nullptr, kTone), 0);  // null: the default renderer, as play
    ASSERT_EQ(SetVolume(-1000), S_OK);
    ASSERT_EQ(SetBalance(2000), S_OK);
    ASSERT_EQ(Seek(0.5), S_OK);
    const struct {
        const char* what;
        jint result;
        jint expected;
    } refusals[] = {
        {"seek before 0", Seek(-0.1), E_INVALIDARG},
        {"seek to NaN", Seek(nan), E_INVALIDARG},
        {"seek past the end", Seek(2.5), E_INVALIDARG},
        {"volume above 0", SetVolume(1), E_INVALIDARG},
        {"volume below -10000", SetVolume(-10001), E_INVALIDARG},
        {"balance above 10000", SetBalance(10001), E_INVALIDARG},
        {"balance below -10000", SetBalance(-10001), E_INVALIDARG},
        {"volume into null", Read(true, -1), E_INVALIDARG},
        {"volume into []", Read(true, 0), kInsufficientBuffer},
        {"balance into []", Read(false, 0), kInsufficientBuffer},
        {"a second playback", PlayOn(nullptr, kTone), E_UNEXPECTED},
        {"devices into null", Devices(nullptr, Jvm().NewIntArray(1)), kInsufficientBuffer},
        {"devices, size null", Devices(Jvm().NewByteArray(std::string(4096, '\0')), nullptr), E_INVALIDARG},
    };
    for (const auto& refusal : refusals)
        EXPECT_EQ(refusal.result, refusal.expected) << refusal.what;
    jint volume = 1;
    jint balance = 0;
    EXPECT_EQ(Read(true, 1, &volume), S_OK);
    EXPECT_EQ(Read(false, 1, &balance), S_OK);
    EXPECT_EQ(volume, -1000);
    EXPECT_EQ(balance, 2000);
    EXPECT_LT(Position(), 1.0);
    EXPECT_EQ(Stop(), S_OK);

    // Only the one playback that played built a graph: the refusals came before anything was built.
    library.FreeLibrary();
    library.Unload();
    int builds = 0;
    for (const std::wstring& line : CLoadedLibrary::ReadMainLog().Messages())
        builds += line.rfind(L"CFilterGraph_Playback::Init(", 0) == 0 && line.find(L"begin") != std::wstring::npos;
    EXPECT_EQ(builds, 1);
}

// The stream starts a lead after the play returned. Until then the position is where the stream will
// start, and a pause or a seek acts on the stream about to be heard; at the end it reads the end.
TEST_F(PlaybackControl, PositionPauseAndSeekBeforeTheStreamStarts)
{
    ASSERT_GE(PlayOn(nullptr, kTone), 0);
    EXPECT_EQ(Position(), 0.0);
    ASSERT_EQ(Pause(), S_OK);
    ::Sleep(1500);  // past the lead, paused
    EXPECT_EQ(Position(), 0.0);
    ASSERT_EQ(Seek(1.5), S_OK);
    EXPECT_EQ(Position(), 1.5);
    ASSERT_EQ(Pause(), S_OK);  // runs on from 1.5 s
    double last = 1.5;
    EXPECT_TRUE(WaitFor([&] {
        const double now = Position();
        EXPECT_GE(now, last);
        last = now;
        return !StoppedCalls().empty();
    }, 5000));
    EXPECT_NEAR(Position(), 2.0, 0.001);
    EXPECT_EQ(Stop(), S_OK);
}

// One scenario of output-check: TESSARO_OUTPUT_SCENARIO = "FILE[|ACTION@SECONDS=VALUE...]", ACTION seek,
// volume or balance, SECONDS into the file. Plays, acts, and stops as soon as the end is reported. The
// stream starts a lead after the play returns: until then the position reads 0.
TEST_F(PlaybackControl, AtTheOutput)
{
    wchar_t buffer[1024] = {};
    if (::GetEnvironmentVariableW(L"TESSARO_OUTPUT_SCENARIO", buffer, 1024) == 0)
        GTEST_SKIP() << "run by tests/platform/playback/output-check";
    std::vector<std::wstring> parts;
    std::wistringstream scenario(buffer);
    for (std::wstring part; std::getline(scenario, part, L'|');)
        parts.push_back(part);
    ASSERT_FALSE(parts.empty());

    // TESSARO_OUTPUT_DEVICE=NAME: played on an output device of its own, listed for the waveOut device
    // of that name (the stand-in renderer that plays where its moniker says), chosen from the list.
    jbyteArray device = nullptr;
    RemoveWaveOutDeviceFunction removeDevice = nullptr;
    // Unlisted again however the test ends: other tests list the renderers of the prefix.
    const std::unique_ptr<void, std::function<void(void*)>> unlist(&removeDevice, [&](void*) {
        if (removeDevice != nullptr)
            removeDevice(kOutputCheckInstance);
    });
    wchar_t waveOut[256] = {};
    if (::GetEnvironmentVariableW(L"TESSARO_OUTPUT_DEVICE", waveOut, 256) != 0) {
        const HMODULE platform = ::LoadLibraryW(CapturePlatform::kModuleName);
        ASSERT_NE(platform, nullptr);
        const auto addDevice = reinterpret_cast<CapturePlatform::AddWaveOutDeviceFunction>(
            reinterpret_cast<void*>(::GetProcAddress(platform, CapturePlatform::kAddWaveOutDeviceExport)));
        removeDevice = reinterpret_cast<RemoveWaveOutDeviceFunction>(
            reinterpret_cast<void*>(::GetProcAddress(platform, CapturePlatform::kRemoveWaveOutDeviceExport)));
        ASSERT_TRUE(addDevice != nullptr && removeDevice != nullptr);
        ASSERT_EQ(addDevice(kOutputCheckInstance, L"Output Check Device", waveOut), S_OK);
        jbyteArray list = Jvm().NewByteArray(std::string(65536, '\0'));
        jintArray size = Jvm().NewIntArray(1);
        ASSERT_EQ(Devices(list, size), S_OK);
        const std::vector<jbyte> bytes = Jvm().ByteContents(list);
        std::istringstream lines(std::string(bytes.begin(), bytes.begin() + Jvm().IntContents(size)[0]));
        for (std::string line; std::getline(lines, line);) {
            if (line.size() > 20 && line.compare(line.size() - 20, 20, "\tOutput Check Device") == 0)
                device = Jvm().NewByteArray(line.substr(0, line.size() - 20));
        }
        ASSERT_NE(device, nullptr) << "not listed";
    }
    ASSERT_GE(PlayOn(device, TEST_DATA_DIR L"/" + parts[0]), 0);
    const DWORD played = ::GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return Position() > 0.0; }, 5000)) << "the stream did not start";
    const DWORD started = ::GetTickCount();
    std::printf("stream started %.3f s after the play\n", (started - played) / 1000.0);
    for (size_t n = 1; n < parts.size(); ++n) {
        wchar_t action[16] = {};
        double at = 0.0;
        double value = 0.0;
        ASSERT_EQ(swscanf(parts[n].c_str(), L"%15l[a-z]@%lf=%lf", action, &at, &value), 3) << parts[n].c_str();
        const DWORD due = started + static_cast<DWORD>(at * 1000.0);
        while (static_cast<LONG>(::GetTickCount() - due) < 0)
            ::Sleep(1);
        const std::wstring name = action;
        if (name == L"seek") {
            EXPECT_EQ(Seek(value), S_OK);
            const double position = Position();
            std::printf("position after the seek to %.3f s: %.3f s\n", value, position);
            EXPECT_NEAR(position, value, 0.1);  // within a buffer of the renderer
        } else {
            const jint level = static_cast<jint>(value);
            jint read = 1;
            EXPECT_EQ(name == L"volume" ? SetVolume(level) : SetBalance(level), S_OK) << name.c_str();
            EXPECT_EQ(Read(name == L"volume", 1, &read), S_OK);
            EXPECT_EQ(read, level);
        }
    }
    ASSERT_TRUE(WaitFor([&] { return !StoppedCalls().empty(); }, 30000)) << "no end reported";
    EXPECT_EQ(Stop(), S_OK);  // as a player does at once when told of the end
    std::printf("end reported %.3f s after the stream started\n", (::GetTickCount() - started) / 1000.0);
    EXPECT_EQ(StoppedCalls()[0].intArg, 0);
}

} // namespace
