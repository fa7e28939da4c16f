// Choosing the input device through the exports of the Java package's binding class, with the stand-in
// VM: the list of the test prefix's devices (the two tone capture stand-ins first, the default first), a
// recording from each holding that device's tone (checked on the Linux side: "<name>.expect" carries the
// tone), two devices of one name told apart by id, and a device removed between the list and the record.
#include "initialised_library_test.h"

#include "capture_platform.h"


#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::wstring kList = L"Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices";
const std::wstring kRecordFrom = L"Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice";
constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr HRESULT kDeviceNotPresent = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

struct Device {
    std::string id;
    std::wstring name;
};

std::wstring Wide(const std::string& utf8)
{
    std::wstring text(utf8.size(), L'\0');
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0],
                                             static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

// An export of the capture platform module (loaded for the rest of the process).
template <class Function>
Function CapturePlatformExport(const char* name)
{
    const HMODULE module = ::LoadLibraryW(CapturePlatform::kModuleName);
    return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                             : nullptr;
}

class InputDevices : public CInitialisedLibraryTest {
public:
    // getInputDevices into an array of that length (-1: null); the size it told in *size.
    jint List(jsize length, std::string* text, jint* size)
    {
        jbyteArray list = length < 0 ? nullptr : Jvm().NewByteArray(std::string(static_cast<size_t>(length), '#'));
        jintArray needed = Jvm().NewIntArray(1);
        const jint result = library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices(
            library.Env(), library.Java(), list, needed);
        *size = Jvm().IntContents(needed)[0];
        if (list != nullptr) {
            const std::vector<jbyte> bytes = Jvm().ByteContents(list);
            text->assign(bytes.begin(), bytes.end());
        }
        return result;
    }

    std::vector<Device> Devices()
    {
        std::string text;
        jint size = 0;
        EXPECT_EQ(List(4096, &text, &size), S_OK);
        std::vector<Device> devices;
        size_t at = 0;
        while (at < static_cast<size_t>(size)) {
            const size_t end = text.find('\n', at);
            const size_t tab = text.find('\t', at);
            if (end == std::string::npos || tab == std::string::npos || tab > end) {
                ADD_FAILURE() << "not a line of id TAB name: " << text.substr(at);
                break;
            }
            devices.push_back({text.substr(at, tab - at), Wide(text.substr(tab + 1, end - tab - 1))});
            at = end + 1;
        }
        return devices;
    }

    jint RecordFrom(const std::string& id, const std::wstring& file)
    {
        ::DeleteFileW(WorkPath(file).c_str());
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice(
            library.Env(), library.Java(), Jvm().NewByteArray(id), Jvm().NewByteArray(Utf8(WorkPath(file))), 85, 44100,
            128000);
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); }

    size_t Levels()
    {
        size_t count = 0;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            count += call.method == "InputLevel" ? 1 : 0;
        return count;
    }

    // Records about a second from the device into <name>.mp3 and leaves what the file check needs.
    void RecordSecond(const std::string& id, const std::wstring& name, double tone)
    {
        Jvm().ClearRecords();
        ASSERT_EQ(RecordFrom(id, name + L".mp3"), S_OK);
        ASSERT_TRUE(WaitFor([&] { return Levels() >= 25; })) << "no level calls";
        // Paused before it is stopped, the file holds what the position counts: a buffer that came
        // between the last level delivered and the stop would be in the file and not among the levels.
        ASSERT_EQ(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(),
                                                                 Jvm().NewBooleanArray(1)),
                  S_OK);
        jdoubleArray position = Jvm().NewDoubleArray(1);
        ASSERT_EQ(library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(library.Env(), library.Java(), position),
                  S_OK);
        const unsigned buffers = static_cast<unsigned>(Jvm().DoubleContents(position)[0] / 0.04 + 0.5);
        ASSERT_EQ(Stop(), S_OK);
        FILE* file = ::_wfopen(WorkPath(name + L".expect").c_str(), L"w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "kind=mp3\ntag=85\nrate=44100\nlevels=%u\ntone=%g\n", buffers, tone);
        std::fclose(file);
    }
};

TEST_F(InputDevices, TheStandInsAreListedDefaultFirstWithIdsOfTheirOwn)
{
    std::string text;
    jint size = -1;
    EXPECT_EQ(List(-1, &text, &size), kInsufficientBuffer);
    ASSERT_GT(size, 0);
    const jint needed = size;
    EXPECT_EQ(List(needed - 1, &text, &size), kInsufficientBuffer);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(text, std::string(static_cast<size_t>(needed - 1), '#')) << "nothing written into a short array";
    EXPECT_EQ(List(needed + 1, &text, &size), S_OK);
    EXPECT_EQ(text.back(), '#') << "nothing written past the list";
    jintArray empty = Jvm().NewIntArray(0);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices(
                  library.Env(), library.Java(), Jvm().NewByteArray(std::string(64, '#')), empty),
              E_INVALIDARG);

    const std::vector<Device> devices = Devices();
    ASSERT_GE(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, CapturePlatform::kToneCaptureName);
    EXPECT_EQ(devices[1].name, CapturePlatform::kSecondToneCaptureName);
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_FALSE(devices[i].id.empty());
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(devices[i].id, devices[j].id);
    }

    library.FreeLibrary();
    library.Unload();
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    const std::wstring done = kList + L"( " + std::to_wstring(needed + 1) + L" ) done, return 0x00000000.";
    EXPECT_NE(std::find(log.begin(), log.end(), kList + L"( -1 ) begin…"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), kList + L"( -1 ) done, return 0x8007007A."), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), done), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        L"input device 2 = \"" + std::wstring(CapturePlatform::kSecondToneCaptureName) + L"\", \"" +
                            Wide(devices[1].id) + L"\"."),
              log.end());
}

TEST_F(InputDevices, EachDeviceRecordsItsOwnTone)
{
    const std::vector<Device> devices = Devices();
    ASSERT_GE(devices.size(), 2u);
    RecordSecond(devices[1].id, L"device-second", CapturePlatform::kSecondToneFrequency);
    RecordSecond(devices[0].id, L"device-first", CapturePlatform::kToneFrequency);

    library.FreeLibrary();
    library.Unload();
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    const std::wstring record = kRecordFrom + L"( 85, 44100, 128000 )";
    EXPECT_NE(std::find(log.begin(), log.end(), L"device id = \"" + Wide(devices[1].id) + L"\"."), log.end());
    EXPECT_EQ(std::count(log.begin(), log.end(), record + L" done, return 0x00000000."), 2);
}

// A third device of the first one's name: the id alone tells them apart, for recording and for
// finding one gone since the list was read.
TEST_F(InputDevices, ADeviceOfAnothersNameRecordsItsOwnToneAndOnceGoneFailsAtOnceWritingNothing)
{
    const auto add = CapturePlatformExport<CapturePlatform::AddDeviceFunction>(CapturePlatform::kAddDeviceExport);
    const auto remove = CapturePlatformExport<CapturePlatform::RemoveDeviceFunction>(CapturePlatform::kRemoveDeviceExport);
    ASSERT_TRUE(add != nullptr && remove != nullptr);
    ASSERT_EQ(add(CapturePlatform::kThirdToneCaptureInstance, CapturePlatform::kToneCaptureName, 660.0), S_OK);
    const std::vector<Device> devices = Devices();
    ASSERT_GE(devices.size(), 3u);
    EXPECT_EQ(devices[2].name, devices[0].name);
    EXPECT_NE(devices[2].id, devices[0].id);
    RecordSecond(devices[2].id, L"device-same-name", 660.0);

    const HRESULT removed = remove(CapturePlatform::kThirdToneCaptureInstance);
    const jint result = RecordFrom(devices[2].id, L"device-gone.mp3");
    const jint stop = Stop();
    ASSERT_EQ(removed, S_OK);
    EXPECT_EQ(result, kDeviceNotPresent);
    EXPECT_EQ(stop, E_UNEXPECTED) << "nothing was built";
    EXPECT_EQ(::GetFileAttributesW(WorkPath(L"device-gone.mp3").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Devices().size(), devices.size() - 1);

    library.FreeLibrary();
    library.Unload();
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    const std::wstring record = kRecordFrom + L"( 85, 44100, 128000 )";
    EXPECT_NE(std::find(log.begin(), log.end(), record + L" done, return 0x8007048F."), log.end());
    // The graph of the recording before is the only one made.
    EXPECT_EQ(std::count(log.begin(), log.end(), L"init FilterGraph…"), 1);
}

} // namespace
