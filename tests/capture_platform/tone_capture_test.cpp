// The tone capture device as the capture graph meets it: first in the audio input category under
// its friendly name, created through its moniker, its capture pin and stream configuration, its
// resource control and input mixer, then recording in Wine's graph through the infinite tee into two
// sinks, and the loss of the device reaching the graph's event queue.
#include "capture_platform.h"
#include "collecting_sink.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <evcode.h>
#include <uuids.h>

#include <algorithm>
#include <string>
#include <utility>

using namespace CapturePlatformTest;
using CapturePlatform::CLSID_ToneCapture;
using CapturePlatform::kToneCaptureName;

namespace {

std::wstring ClassIdText(const CLSID& clsid)
{
    WCHAR text[40] = {};
    ::StringFromGUID2(clsid, text, 40);
    return text;
}

COM::TPtr<IMoniker> DefaultDevice()
{
    std::vector<COM::TPtr<IMoniker>> devices = CategoryMonikers(CLSID_AudioInputDeviceCategory);
    return devices.empty() ? COM::TPtr<IMoniker>() : devices.front();
}

template <class I>
COM::TPtr<I> Query(IUnknown* object, REFIID iid)
{
    COM::TPtr<I> result;
    if (object != nullptr)
        object->QueryInterface(iid, reinterpret_cast<void**>(&result));
    return result;
}

WAVEFORMATEX FormatOf(IAMStreamConfig* config)
{
    WAVEFORMATEX format = {};
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(S_OK, config->GetFormat(&type));
    if (type == nullptr)
        return format;
    EXPECT_EQ(MEDIATYPE_Audio, type->majortype);
    EXPECT_EQ(MEDIASUBTYPE_PCM, type->subtype);
    EXPECT_EQ(FORMAT_WaveFormatEx, type->formattype);
    if (type->cbFormat >= sizeof(WAVEFORMATEX))
        format = *reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
    ::CoTaskMemFree(type->pbFormat);
    ::CoTaskMemFree(type);
    return format;
}

class ToneCaptureDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_moniker = DefaultDevice();
        ASSERT_TRUE(m_moniker.IsValid());
        m_graph = CreateGraph();
        ASSERT_TRUE(m_graph.IsValid());
        m_device = AddFromMoniker(m_graph, m_moniker);
        ASSERT_TRUE(m_device.IsValid());
        m_pin = FirstPin(m_device, PINDIR_OUTPUT);
        ASSERT_TRUE(m_pin.IsValid());
        m_config = Query<IAMStreamConfig>(m_pin, IID_IAMStreamConfig);
        ASSERT_TRUE(m_config.IsValid());
    }

    CComThread m_com;
    COM::TPtr<IMoniker> m_moniker;
    COM::TPtr<IGraphBuilder> m_graph;
    COM::TPtr<IBaseFilter> m_device;
    COM::TPtr<IPin> m_pin;
    COM::TPtr<IAMStreamConfig> m_config;
};

TEST(ToneCaptureCategory, IsTheFirstAudioInputDeviceUnderItsFriendlyName)
{
    CComThread com;
    const std::vector<COM::TPtr<IMoniker>> devices = CategoryMonikers(CLSID_AudioInputDeviceCategory);
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(kToneCaptureName, MonikerProperty(devices.front(), L"FriendlyName"));
    EXPECT_EQ(ClassIdText(CLSID_ToneCapture), MonikerProperty(devices.front(), L"CLSID"));
    // Once only: the registration is not repeated under another key.
    int listed = 0;
    for (const COM::TPtr<IMoniker>& device : devices)
        listed += MonikerProperty(device, L"FriendlyName") == kToneCaptureName ? 1 : 0;
    EXPECT_EQ(1, listed);
}

TEST_F(ToneCaptureDevice, IsCreatedThroughItsMonikerWithACapturePin)
{
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, m_device->GetClassID(&clsid));
    EXPECT_EQ(CLSID_ToneCapture, clsid);
    // The moniker's property bag was loaded: the name in it is the device's vendor information.
    LPWSTR vendor = nullptr;
    ASSERT_EQ(S_OK, m_device->QueryVendorInfo(&vendor));
    EXPECT_STREQ(kToneCaptureName, vendor);
    ::CoTaskMemFree(vendor);
    // Binding the moniker directly gives a device as well.
    COM::TPtr<IBaseFilter> bound;
    EXPECT_EQ(S_OK, m_moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&bound)));
    EXPECT_TRUE(bound.IsValid());

    COM::TPtr<IKsPropertySet> properties = Query<IKsPropertySet>(m_pin, IID_IKsPropertySet);
    ASSERT_TRUE(properties.IsValid());
    GUID category = GUID_NULL;
    EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                                    nullptr));
    EXPECT_EQ(PIN_CATEGORY_CAPTURE, category);
    DWORD returned = 0;
    EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(sizeof(GUID), returned);
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, properties->Get(AMPROPSETID_Pin, 7, nullptr, 0, &category, sizeof(category), nullptr));
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                                      &category, sizeof(category), nullptr));
    EXPECT_TRUE(FAILED(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category))));
}

TEST_F(ToneCaptureDevice, ResourceControlAndInputMixerKeepTheirSettings)
{
    COM::TPtr<IAMResourceControl> resources = Query<IAMResourceControl>(m_device, IID_IAMResourceControl);
    ASSERT_TRUE(resources.IsValid());
    EXPECT_EQ(S_FALSE, resources->Reserve(1 /* unreserve */, nullptr));
    EXPECT_EQ(S_OK, resources->Reserve(0 /* reserve */, nullptr));
    EXPECT_EQ(S_OK, resources->Reserve(1, nullptr));
    EXPECT_EQ(S_FALSE, resources->Reserve(1, nullptr));

    COM::TPtr<IAMAudioInputMixer> mixer = Query<IAMAudioInputMixer>(m_device, IID_IAMAudioInputMixer);
    ASSERT_TRUE(mixer.IsValid());
    double level = 0.0;
    EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
    EXPECT_EQ(1.0, level);
    EXPECT_EQ(S_OK, mixer->put_MixLevel(0.25));
    EXPECT_EQ(E_INVALIDARG, mixer->put_MixLevel(1.5));
    EXPECT_EQ(S_OK, mixer->get_MixLevel(&level));
    EXPECT_EQ(0.25, level);
    BOOL enabled = FALSE;
    EXPECT_EQ(S_OK, mixer->get_Enable(&enabled));
    EXPECT_TRUE(enabled);
    EXPECT_EQ(S_OK, mixer->put_Enable(FALSE));
    EXPECT_EQ(S_OK, mixer->get_Enable(&enabled));
    EXPECT_FALSE(enabled);
    double pan = 1.0;
    EXPECT_EQ(E_INVALIDARG, mixer->put_Pan(-2.0));
    EXPECT_EQ(S_OK, mixer->put_Pan(-0.5));
    EXPECT_EQ(S_OK, mixer->get_Pan(&pan));
    EXPECT_EQ(-0.5, pan);
    EXPECT_EQ(E_POINTER, mixer->get_MixLevel(nullptr));
}

TEST_F(ToneCaptureDevice, TakesSupportedPcmFormatsOnly)
{
    WAVEFORMATEX format = FormatOf(m_config);
    EXPECT_EQ(CapturePlatform::kDefaultRate, format.nSamplesPerSec);
    EXPECT_EQ(1, format.nChannels);
    EXPECT_EQ(16, format.wBitsPerSample);

    AM_MEDIA_TYPE stereo8 = PcmType(PcmFormat(11025, 2, 8));
    EXPECT_EQ(S_OK, m_config->SetFormat(&stereo8));
    FreePcmType(stereo8);
    format = FormatOf(m_config);
    EXPECT_EQ(11025u, format.nSamplesPerSec);
    EXPECT_EQ(2, format.nChannels);
    EXPECT_EQ(8, format.wBitsPerSample);
    EXPECT_EQ(2, format.nBlockAlign);

    // Outside the device's range, or not consistent PCM: refused, the format stays.
    for (const WAVEFORMATEX& refused : {PcmFormat(96000, 1, 16), PcmFormat(4000, 1, 16), PcmFormat(44100, 3, 16),
                                        PcmFormat(44100, 1, 24)}) {
        AM_MEDIA_TYPE type = PcmType(refused);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(&type)) << refused.nSamplesPerSec;
        FreePcmType(type);
    }
    WAVEFORMATEX odd = PcmFormat(22050, 1, 16);
    odd.nAvgBytesPerSec = 22050;
    AM_MEDIA_TYPE inconsistent = PcmType(odd);
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(&inconsistent));
    FreePcmType(inconsistent);
    EXPECT_EQ(E_POINTER, m_config->SetFormat(nullptr));
    EXPECT_EQ(11025u, FormatOf(m_config).nSamplesPerSec);

    int count = 0, size = 0;
    EXPECT_EQ(S_OK, m_config->GetNumberOfCapabilities(&count, &size));
    ASSERT_EQ(1, count);
    ASSERT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
    AUDIO_STREAM_CONFIG_CAPS caps = {};
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(S_OK, m_config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(8000u, caps.MinimumSampleFrequency);
    EXPECT_EQ(48000u, caps.MaximumSampleFrequency);
    EXPECT_EQ(2u, caps.MaximumChannels);
    EXPECT_EQ(16u, caps.MaximumBitsPerSample);
    if (type != nullptr) {
        ::CoTaskMemFree(type->pbFormat);
        ::CoTaskMemFree(type);
    }
}

// --- recording in Wine's graph ------------------------------------------------------------------------

// The device at 22050 Hz mono 16-bit in 40 ms buffers, as the capture graph asks for it, into the
// tee's first two outputs.
class ToneCaptureGraph : public ToneCaptureDevice {
protected:
    static constexpr DWORD kRate = 22050;
    static constexpr LONG kBufferBytes = 2 * (kRate / 25);

    void SetUp() override
    {
        ToneCaptureDevice::SetUp();
        if (HasFatalFailure())
            return;
        AM_MEDIA_TYPE type = PcmType(PcmFormat(kRate, 1, 16));
        EXPECT_EQ(S_OK, m_config->SetFormat(&type));
        FreePcmType(type);
        COM::TPtr<IAMBufferNegotiation> negotiation = Query<IAMBufferNegotiation>(m_pin, IID_IAMBufferNegotiation);
        ASSERT_TRUE(negotiation.IsValid());
        const ALLOCATOR_PROPERTIES suggestion = {-1, kBufferBytes, -1, -1};
        EXPECT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&suggestion));

        m_tee = AddByClass(m_graph, CLSID_InfTee, nullptr);
        ASSERT_TRUE(m_tee.IsValid());
        ASSERT_EQ(S_OK, ConnectDirect(m_graph, m_pin, FirstPin(m_tee, PINDIR_INPUT)));
        for (CCollectingSink*& sink : m_sinks) {
            sink = CCollectingSink::Create();
            ASSERT_NE(nullptr, sink);
            ASSERT_EQ(S_OK, m_graph->AddFilter(sink->Interface(), nullptr));
        }
        ASSERT_EQ(S_OK, ConnectDirect(m_graph, FirstPin(m_tee, PINDIR_OUTPUT), m_sinks[0]->InputPin()));
        ASSERT_EQ(S_OK, ConnectDirect(m_graph, PinNamed(m_tee, L"Output2"), m_sinks[1]->InputPin()));
        m_control = Query<IMediaControl>(m_graph, IID_IMediaControl);
        ASSERT_TRUE(m_control.IsValid());
    }

    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        for (CCollectingSink* sink : m_sinks) {
            if (sink != nullptr)
                sink->Interface()->Release();
        }
    }

    COM::TPtr<IBaseFilter> m_tee;
    CCollectingSink* m_sinks[2] = {};
    COM::TPtr<IMediaControl> m_control;
};

TEST_F(ToneCaptureGraph, RecordsTheToneInRealTimeIntoEveryTeeOutput)
{
    ALLOCATOR_PROPERTIES used = {};
    COM::TPtr<IAMBufferNegotiation> negotiation = Query<IAMBufferNegotiation>(m_pin, IID_IAMBufferNegotiation);
    EXPECT_EQ(S_OK, negotiation->GetAllocatorProperties(&used));
    EXPECT_EQ(kBufferBytes, used.cbBuffer);
    // Connected: the format is fixed.
    AM_MEDIA_TYPE other = PcmType(PcmFormat(8000, 1, 16));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_config->SetFormat(&other));
    FreePcmType(other);

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    // About half a second of audio.
    constexpr size_t kBuffers = 13;
    EXPECT_TRUE(m_sinks[1]->WaitUntil([](const CCollection& c) { return c.samples.size() >= kBuffers; }));
    OAFilterState state = State_Stopped;
    EXPECT_TRUE(SUCCEEDED(m_control->GetState(1000, &state)));
    EXPECT_EQ(State_Running, state);
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));

    const CCollection first = m_sinks[0]->Collected();
    const CCollection second = m_sinks[1]->Collected();
    // The graph stops the sinks one after the other: the later one may have taken a buffer more.
    ASSERT_GE(first.samples.size(), kBuffers - 1);
    ASSERT_GE(second.samples.size(), kBuffers);
    const size_t common = std::min(first.samples.size(), second.samples.size());
    const LONGLONG frames = kBufferBytes / 2;
    for (size_t i = 0; i < common; ++i) {
        SCOPED_TRACE(i);
        const CCollectedSample& sample = first.samples[i];
        EXPECT_EQ(sample.identity, second.samples[i].identity) << "the tee passes one buffer to every output";
        EXPECT_EQ(kBufferBytes, sample.length);
        ASSERT_TRUE(sample.hasTime);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * frames * 10000000 / kRate, sample.start);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * frames * 10000000 / kRate, sample.stop);
        EXPECT_EQ(i == 0, sample.discontinuity);
        EXPECT_TRUE(sample.syncPoint);
        // Paced by the graph clock: a buffer arrives once its audio has been recorded.
        ASSERT_TRUE(sample.hasArrival);
        EXPECT_GE(sample.arrival, sample.stop);
    }
    const std::vector<BYTE> tone = RecordedTone(PcmFormat(kRate, 1, 16), static_cast<LONGLONG>(common) * frames);
    ASSERT_GE(first.bytes.size(), tone.size());
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), first.bytes.begin()));
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), second.bytes.begin()));
    // A tone at half scale: the peak of 16-bit samples is near 16384.
    short peak = 0;
    for (size_t i = 0; i + 1 < tone.size(); i += 2)
        peak = std::max<short>(peak, static_cast<short>(tone[i] | (tone[i + 1] << 8)));
    EXPECT_NEAR(16384, peak, 200);
}

TEST_F(ToneCaptureGraph, HoldsDataBackWhilePausedAndStartsAgainAfterAStop)
{
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    OAFilterState state = State_Stopped;
    // A live source cannot cue: paused, the graph says so.
    EXPECT_EQ(VFW_S_CANT_CUE, m_control->GetState(1000, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_TRUE(m_sinks[0]->WaitUntil([](const CCollection& c) { return c.samples.size() >= 2; }));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    const size_t firstRun = m_sinks[0]->Collected().samples.size();

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_TRUE(m_sinks[0]->WaitUntil([&](const CCollection& c) { return c.samples.size() >= firstRun + 2; }));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    const CCollection collected = m_sinks[0]->Collected();
    ASSERT_GE(collected.samples.size(), firstRun + 1);
    // A new run starts at time 0 with a discontinuity.
    EXPECT_TRUE(collected.samples[firstRun].discontinuity);
    EXPECT_EQ(0, collected.samples[firstRun].start);
}

TEST_F(ToneCaptureGraph, LossOfTheDeviceReachesTheEventQueue)
{
    const auto loseDevice = reinterpret_cast<CapturePlatform::LoseDeviceFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(CapturePlatform::kModuleName), CapturePlatform::kLoseDeviceExport)));
    ASSERT_NE(nullptr, loseDevice);
    COM::TPtr<IMediaEvent> events = Query<IMediaEvent>(m_graph, IID_IMediaEvent);
    ASSERT_TRUE(events.IsValid());

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_TRUE(m_sinks[0]->WaitUntil([](const CCollection& c) { return !c.samples.empty(); }));
    EXPECT_EQ(S_OK, loseDevice());
    const size_t atLoss = m_sinks[0]->Collected().samples.size();

    bool lost = false;
    for (int i = 0; i < 50 && !lost; ++i) {
        long code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (events->GetEvent(&code, &param1, &param2, 100) != S_OK)
            continue;
        if (code == EC_DEVICE_LOST) {
            lost = true;
            EXPECT_EQ(static_cast<IUnknown*>(Query<IUnknown>(m_device, IID_IUnknown)), reinterpret_cast<IUnknown*>(param1));
            EXPECT_EQ(0, param2);
        }
        events->FreeEventParams(code, param1, param2);
    }
    EXPECT_TRUE(lost);
    // The lost device delivers nothing more (a buffer already on its way may still arrive) while
    // several buffers' worth of time passes.
    ::Sleep(300);
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_LE(m_sinks[0]->Collected().samples.size(), atLoss + 1);
}

} // namespace

// --- a device that its consumer cannot keep up with, fast mode, the second device -----------------------

namespace {

// Sets the stand-in's environment options for the devices created while it lives.
class CCaptureEnvironment {
public:
    CCaptureEnvironment(const wchar_t* hold, const wchar_t* fast, const std::wstring& report)
    {
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", hold);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_FAST", fast);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", report.empty() ? nullptr : report.c_str());
    }
    ~CCaptureEnvironment()
    {
        for (const wchar_t* name : {L"TESSARO_TEST_CAPTURE_HOLD_MS", L"TESSARO_TEST_CAPTURE_FAST",
                                    L"TESSARO_TEST_CAPTURE_REPORT"})
            ::SetEnvironmentVariableW(name, nullptr);
    }
};

std::wstring TemporaryPath(const wchar_t* name)
{
    WCHAR directory[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + name;
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    ::CloseHandle(file);
    for (size_t begin = 0, end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        lines.push_back(text.substr(begin, end - begin));
    return lines;
}

// The value of key=value in a report line (-1 when missing).
long long Field(const std::string& line, const char* key)
{
    const std::string pattern = std::string(" ") + key + "=";
    const size_t at = line.find(pattern);
    return at == std::string::npos ? -1 : std::stoll(line.substr(at + pattern.size()));
}

// A tone capture device (the first, or the one at index) straight into one collecting sink, at 22050 Hz
// mono 16-bit in 40 ms buffers, created after the test's options are set.
class ToneCaptureIntoSink : public ::testing::Test {
protected:
    static constexpr DWORD kRate = 22050;
    static constexpr LONG kFrames = kRate / 25;
    static constexpr REFERENCE_TIME kBufferTime = 400000;

    void Build(size_t index = 0)
    {
        const std::vector<COM::TPtr<IMoniker>> devices = CategoryMonikers(CLSID_AudioInputDeviceCategory);
        ASSERT_GT(devices.size(), index);
        m_moniker = devices[index];
        m_graph = CreateGraph();
        ASSERT_TRUE(m_graph.IsValid());
        m_device = AddFromMoniker(m_graph, m_moniker);
        ASSERT_TRUE(m_device.IsValid());
        COM::TPtr<IPin> pin = FirstPin(m_device, PINDIR_OUTPUT);
        COM::TPtr<IAMStreamConfig> config = Query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
        COM::TPtr<IAMBufferNegotiation> negotiation = Query<IAMBufferNegotiation>(pin, IID_IAMBufferNegotiation);
        ASSERT_TRUE(config.IsValid() && negotiation.IsValid());
        AM_MEDIA_TYPE type = PcmType(PcmFormat(kRate, 1, 16));
        EXPECT_EQ(S_OK, config->SetFormat(&type));
        FreePcmType(type);
        const ALLOCATOR_PROPERTIES suggestion = {-1, 2 * kFrames, -1, -1};
        EXPECT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&suggestion));
        m_sink = CCollectingSink::Create();
        ASSERT_NE(nullptr, m_sink);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink->Interface(), nullptr));
        ASSERT_EQ(S_OK, ConnectDirect(m_graph, pin, m_sink->InputPin()));
        m_control = Query<IMediaControl>(m_graph, IID_IMediaControl);
        ASSERT_TRUE(m_control.IsValid());
    }

    // Runs until the sink holds count samples (or 20 s pass), then stops; what the sink got.
    CCollection Record(size_t count)
    {
        EXPECT_TRUE(SUCCEEDED(m_control->Run()));
        EXPECT_TRUE(m_sink->WaitUntil([&](const CCollection& c) { return c.samples.size() >= count; }, 20000));
        EXPECT_TRUE(SUCCEEDED(m_control->Stop()));
        return m_sink->Collected();
    }

    // Every sample holds the tone of its own time.
    static void ExpectToneOfItsTime(const CCollection& collected, double frequency)
    {
        size_t offset = 0;
        for (size_t i = 0; i < collected.samples.size(); ++i) {
            const CCollectedSample& sample = collected.samples[i];
            const std::vector<BYTE> tone = RecordedTone(PcmFormat(kRate, 1, 16), sample.length / 2,
                                                        sample.start * kRate / 10000000, frequency);
            ASSERT_LE(offset + tone.size(), collected.bytes.size());
            EXPECT_TRUE(std::equal(tone.begin(), tone.end(), collected.bytes.begin() + offset)) << "sample " << i;
            offset += tone.size();
        }
    }

    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_sink != nullptr)
            m_sink->Interface()->Release();
    }

    CComThread m_com;
    COM::TPtr<IMoniker> m_moniker;
    COM::TPtr<IGraphBuilder> m_graph;
    COM::TPtr<IBaseFilter> m_device;
    CCollectingSink* m_sink = nullptr;
    COM::TPtr<IMediaControl> m_control;
};

TEST_F(ToneCaptureIntoSink, DropsTheOldestAudioWhenItsConsumerFallsBehindAndReportsIt)
{
    // The device holds 200 ms; the consumer takes 120 ms for each 40 ms buffer.
    const std::wstring report = TemporaryPath(L"tone_capture_drops.txt");
    ::DeleteFileW(report.c_str());
    CCaptureEnvironment environment(L"200", nullptr, report);
    Build();
    ASSERT_FALSE(HasFatalFailure());
    m_sink->SetReceiveDelay(120);
    const CCollection collected = Record(15);

    // Delivered samples are 40 ms each on the buffer grid; after a drop the next one starts where its
    // audio really begins, flagged, and no later than the newest 200 ms (less a buffer) were recorded.
    ASSERT_GE(collected.samples.size(), 15u);
    EXPECT_TRUE(collected.samples[0].discontinuity);
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> gaps;
    if (collected.samples[0].start > 0)
        gaps.emplace_back(0, collected.samples[0].start);
    for (size_t i = 1; i < collected.samples.size(); ++i) {
        SCOPED_TRACE(i);
        const CCollectedSample& previous = collected.samples[i - 1];
        const CCollectedSample& sample = collected.samples[i];
        ASSERT_TRUE(sample.hasTime && sample.hasArrival);
        EXPECT_EQ(kBufferTime, sample.stop - sample.start);
        EXPECT_EQ(0, sample.start % kBufferTime);
        EXPECT_EQ(sample.start > previous.stop, sample.discontinuity);
        EXPECT_GE(sample.start, previous.stop);
        if (sample.discontinuity) {
            gaps.emplace_back(previous.stop, sample.start - previous.stop);
            EXPECT_GT(sample.arrival - sample.start, 2000000 - kBufferTime);
        }
    }
    // A thread three times too slow loses about two buffers in three once the hold is full.
    EXPECT_GE(gaps.size(), 2u);
    ExpectToneOfItsTime(collected, CapturePlatform::kToneFrequency);

    // The report: each gap as a drop line, then the run's summary (a drop right before the stop may
    // have no sample after it).
    const std::vector<std::string> lines = ReadLines(report);
    ASSERT_GE(lines.size(), gaps.size() + 1);
    const std::string& summary = lines.back();
    ASSERT_EQ(0u, summary.rfind("stop ", 0)) << summary;
    const size_t drops = lines.size() - 1;
    EXPECT_LE(drops, gaps.size() + 1);
    REFERENCE_TIME droppedTime = 0;
    long long droppedFrames = 0;
    for (size_t i = 0; i < drops; ++i) {
        SCOPED_TRACE(lines[i]);
        ASSERT_EQ(0u, lines[i].rfind("drop ", 0));
        droppedTime += Field(lines[i], "time");
        droppedFrames += Field(lines[i], "frames");
        EXPECT_EQ(Field(lines[i], "time") * kRate / 10000000, Field(lines[i], "frames"));
        if (i < gaps.size()) {
            EXPECT_EQ(gaps[i].first, Field(lines[i], "at"));
            EXPECT_EQ(gaps[i].second, Field(lines[i], "time"));
        }
    }
    EXPECT_EQ(static_cast<long long>(collected.samples.size()), Field(summary, "buffers"));
    EXPECT_EQ(static_cast<long long>(collected.samples.size()) * kFrames, Field(summary, "frames"));
    EXPECT_EQ(static_cast<long long>(drops), Field(summary, "drops"));
    EXPECT_EQ(droppedFrames, Field(summary, "dropped_frames"));
    EXPECT_EQ(droppedTime, Field(summary, "dropped_time"));
    EXPECT_EQ(kRate, Field(summary, "rate"));
    EXPECT_EQ(1000, Field(summary, "frequency"));
    EXPECT_EQ(200, Field(summary, "hold_ms"));
    EXPECT_EQ(0, Field(summary, "fast"));
    ::DeleteFileW(report.c_str());
}

// A reference clock that never advances: against it a paced device never has a buffer due.
class CFrozenClock final : public IReferenceClock {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IReferenceClock ? static_cast<IReferenceClock*>(this) : nullptr;
        if (*ppv == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override
    {
        if (time == nullptr)
            return E_POINTER;
        *time = 10000000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

private:
    volatile LONG m_references = 1;
};

TEST_F(ToneCaptureIntoSink, FastModeDeliversContiguousAudioWithoutWaitingForTheClock)
{
    CCaptureEnvironment environment(L"40", L"1", std::wstring());
    Build();
    ASSERT_FALSE(HasFatalFailure());
    COM::TPtr<IMediaFilter> graphClock = Query<IMediaFilter>(m_graph, IID_IMediaFilter);
    ASSERT_TRUE(graphClock.IsValid());
    CFrozenClock* const clock = new CFrozenClock;
    ASSERT_EQ(S_OK, graphClock->SetSyncSource(clock));
    clock->Release();
    // 10 s of audio while the clock stands still.
    const CCollection collected = Record(250);
    ASSERT_GE(collected.samples.size(), 250u);
    for (size_t i = 0; i < collected.samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * kBufferTime, collected.samples[i].start);
        EXPECT_EQ(i == 0, collected.samples[i].discontinuity);
    }
    ExpectToneOfItsTime(collected, CapturePlatform::kToneFrequency);
}

TEST_F(ToneCaptureIntoSink, TheSecondDeviceComesNextWithANameAndAToneOfItsOwn)
{
    const std::vector<COM::TPtr<IMoniker>> devices = CategoryMonikers(CLSID_AudioInputDeviceCategory);
    ASSERT_GE(devices.size(), 2u);
    EXPECT_EQ(CapturePlatform::kSecondToneCaptureName, MonikerProperty(devices[1], L"FriendlyName"));
    EXPECT_EQ(ClassIdText(CLSID_ToneCapture), MonikerProperty(devices[1], L"CLSID"));
    Build(1);
    ASSERT_FALSE(HasFatalFailure());
    LPWSTR vendor = nullptr;
    ASSERT_EQ(S_OK, m_device->QueryVendorInfo(&vendor));
    EXPECT_STREQ(CapturePlatform::kSecondToneCaptureName, vendor);
    ::CoTaskMemFree(vendor);
    const CCollection collected = Record(5);
    ExpectToneOfItsTime(collected, CapturePlatform::kSecondToneFrequency);
}

std::wstring DisplayName(IMoniker* moniker)
{
    COM::TPtr<IBindCtx> context;
    LPOLESTR name = nullptr;
    if (FAILED(::CreateBindCtx(0, &context)) || FAILED(moniker->GetDisplayName(context, nullptr, &name)))
        return std::wstring();
    std::wstring text(name);
    ::CoTaskMemFree(name);
    return text;
}

TEST_F(ToneCaptureIntoSink, ADeviceAddedUnderTheSecondsNameStaysApartByIdUntilRemoved)
{
    const HMODULE module = ::LoadLibraryW(CapturePlatform::kModuleName);
    ASSERT_NE(nullptr, module);
    const auto add = reinterpret_cast<CapturePlatform::AddDeviceFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module, CapturePlatform::kAddDeviceExport)));
    const auto remove = reinterpret_cast<CapturePlatform::RemoveDeviceFunction>(
        reinterpret_cast<void*>(::GetProcAddress(module, CapturePlatform::kRemoveDeviceExport)));
    ASSERT_TRUE(add != nullptr && remove != nullptr);
    EXPECT_EQ(E_INVALIDARG, add(CapturePlatform::kThirdToneCaptureInstance, L"Odd", 0.0));
    ASSERT_EQ(S_OK, add(CapturePlatform::kThirdToneCaptureInstance, CapturePlatform::kSecondToneCaptureName, 2000.0));
    // Whatever fails below, the prefix keeps its two devices only.
    struct Remover {
        CapturePlatform::RemoveDeviceFunction remove;
        ~Remover() { remove(CapturePlatform::kThirdToneCaptureInstance); }
    } remover{remove};

    const std::vector<COM::TPtr<IMoniker>> devices = CategoryMonikers(CLSID_AudioInputDeviceCategory);
    ASSERT_GE(devices.size(), 3u);
    EXPECT_EQ(CapturePlatform::kToneCaptureName, MonikerProperty(devices[0], L"FriendlyName"));
    EXPECT_EQ(CapturePlatform::kSecondToneCaptureName, MonikerProperty(devices[1], L"FriendlyName"));
    EXPECT_EQ(CapturePlatform::kSecondToneCaptureName, MonikerProperty(devices[2], L"FriendlyName"));
    const std::wstring id = DisplayName(devices[2]);
    EXPECT_NE(std::wstring::npos, id.find(CapturePlatform::kThirdToneCaptureInstance)) << id;
    EXPECT_NE(DisplayName(devices[1]), id);
    Build(2);
    if (!HasFatalFailure())
        ExpectToneOfItsTime(Record(3), 2000.0);

    EXPECT_EQ(S_OK, remove(CapturePlatform::kThirdToneCaptureInstance));
    int named = 0;
    for (const COM::TPtr<IMoniker>& device : CategoryMonikers(CLSID_AudioInputDeviceCategory)) {
        named += MonikerProperty(device, L"FriendlyName") == CapturePlatform::kSecondToneCaptureName ? 1 : 0;
        EXPECT_NE(id, DisplayName(device));
    }
    EXPECT_EQ(1, named);
}

} // namespace
