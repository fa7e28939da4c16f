// The recording graph built from the test prefix's capture platform: its trace, the filters and
// connections for MP3 and for a compressor, the capture buffer size asked of the device, the bit rate
// given to the encoder, and building, refusing, failing and freeing in turn.
#include "graph/filter_graph_capture.h"

#include "capture_platform.h"
#include "filters/mpeg2_audio_encoder/encoder_interfaces.h"
#include "filters/volume_meter/filter_properties.h"
#include "platform/trace_reader/trace_reader.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <mmreg.h>
#include <uuids.h>

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>

using ::testing::ElementsAreArray;
using TestTrace::Hex;

// The level callback the graph gives the volume meter (the library's calls "InputLevel"); it counts its
// calls and takes as long as a test asks, as a slow listener would.
volatile LONG g_levelCalls = 0;
volatile LONG g_levelDelay = 0;

HRESULT VolumeMeter_Callback(double /*level*/)
{
    ::InterlockedIncrement(&g_levelCalls);
    if (g_levelDelay != 0)
        ::Sleep(static_cast<DWORD>(g_levelDelay));
    return S_OK;
}

namespace {

class CComThread {
public:
    CComThread() { ::CoInitialize(nullptr); }
    ~CComThread() { ::CoUninitialize(); }
};

std::vector<std::wstring> LogSince(size_t from)
{
    const std::vector<std::wstring> all = TestTrace::ReadLog(L"Tessaro.log").Messages();
    return from < all.size() ? std::vector<std::wstring>(all.begin() + from, all.end()) : std::vector<std::wstring>();
}

size_t LogLines()
{
    return TestTrace::ReadLog(L"Tessaro.log").Messages().size();
}

COM::TPtr<IBaseFilter> FilterNamed(CFilterGraph_Capture& graph, const wchar_t* name)
{
    COM::TPtr<IBaseFilter> filter;
    if (graph.IsValid())
        graph->FindFilterByName(name, &filter);
    return filter;
}

// The peer's filter name of the first pin of the direction.
std::wstring PeerFilterName(IBaseFilter* filter, PIN_DIRECTION direction)
{
    COM::TPtr<IPin> pin;
    COM::TPtr<IPin> peer;
    if (filter == nullptr || FAILED(CFilterGraph_Capture::FindPinByDirection(filter, direction, &pin)) ||
        FAILED(pin->ConnectedTo(&peer)))
        return L"";
    PIN_INFO info;
    if (FAILED(peer->QueryPinInfo(&info)))
        return L"";
    FILTER_INFO filterInfo;
    std::wstring name;
    if (SUCCEEDED(info.pFilter->QueryFilterInfo(&filterInfo))) {
        name = filterInfo.achName;
        if (filterInfo.pGraph != nullptr)
            filterInfo.pGraph->Release();
    }
    info.pFilter->Release();
    return name;
}

// The buffer size the capture pin's allocator settled on.
long CaptureBufferBytes(CFilterGraph_Capture& graph)
{
    COM::TPtr<IBaseFilter> device = FilterNamed(graph, CapturePlatform::kToneCaptureName);
    COM::TPtr<IPin> pin;
    COM::TPtr<IAMBufferNegotiation> negotiation;
    ALLOCATOR_PROPERTIES properties = {};
    if (device.IsNull() || FAILED(CFilterGraph_Capture::FindPinByDirection(device, PINDIR_OUTPUT, &pin)) ||
        FAILED(pin->QueryInterface(IID_IAMBufferNegotiation, reinterpret_cast<void**>(&negotiation))) ||
        FAILED(negotiation->GetAllocatorProperties(&properties)))
        return -1;
    return properties.cbBuffer;
}

class CaptureGraph : public ::testing::Test {
protected:
    void TearDown() override { graph.Free(); }

    CComThread com;
    CFilterGraph_Capture graph;
};

TEST_F(CaptureGraph, Mp3ChainWithItsTrace)
{
    const std::wstring path = L"capture-graph.mp3";
    const size_t from = LogLines();
    ASSERT_EQ(graph.Init(path.c_str(), 85, 44100, 127999), S_OK);

    // The chain: device -> tee -> meter, tee "Output2" -> encoder -> File Writer.
    COM::TPtr<IBaseFilter> device = FilterNamed(graph, CapturePlatform::kToneCaptureName);
    COM::TPtr<IBaseFilter> meter = FilterNamed(graph, L"VolumeMeter");
    COM::TPtr<IBaseFilter> encoder = FilterNamed(graph, L"MPEG2AudioEncoder");
    COM::TPtr<IBaseFilter> writer = FilterNamed(graph, L"FileWriter");
    ASSERT_TRUE(device.IsValid() && meter.IsValid() && encoder.IsValid() && writer.IsValid());
    const std::wstring teeName = PeerFilterName(device, PINDIR_OUTPUT);
    EXPECT_FALSE(teeName.empty());
    EXPECT_EQ(PeerFilterName(meter, PINDIR_INPUT), teeName);
    EXPECT_EQ(PeerFilterName(encoder, PINDIR_INPUT), teeName);
    EXPECT_EQ(PeerFilterName(encoder, PINDIR_OUTPUT), L"FileWriter");
    EXPECT_EQ(CaptureBufferBytes(graph), 3528);

    // 127,999 bit/s is 127 kbit/s, at a constant bit rate.
    COM::TPtr<MPEG2AudioEncoder::IEncoderSettings> settings;
    ASSERT_EQ(encoder->QueryInterface(MPEG2AudioEncoder::IID_IEncoderSettings, reinterpret_cast<void**>(&settings)),
              S_OK);
    MPEG2AudioEncoder::EncoderSettings record = {};
    ASSERT_EQ(settings->GetEncoderSettings(&record), S_OK);
    EXPECT_EQ(record.dwBitrateKbps, 127u);
    EXPECT_EQ(record.dwVbrMode, 0);

    COM::TPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink)), S_OK);
    LPOLESTR name = nullptr;
    ASSERT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
    EXPECT_STREQ(name, path.c_str());
    ::CoTaskMemFree(name);

    const std::wstring callback = Hex(reinterpret_cast<void*>(&VolumeMeter_Callback));
    const std::wstring init = L"CFilterGraph_Capture::Init( \"" + path + L"\", 85, 44100, 127999, " + callback + L" )";
    const std::vector<std::wstring> log = LogSince(from);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), init + L" begin…");
    EXPECT_EQ(log.back(), init + L" done, return 0x00000000.");

    // Built: a second Init is refused at the graph and changes nothing.
    const size_t before = LogLines();
    EXPECT_EQ(graph.Init(L"other.mp3", 85, 44100, 128000), E_UNEXPECTED);
    const std::wstring refused = L"CFilterGraph_Capture::Init( \"other.mp3\", 85, 44100, 128000, " + callback + L" )";
    EXPECT_THAT(LogSince(before), ElementsAreArray({refused + L" begin…", std::wstring(L"init COM…"),
                                                    std::wstring(L"init FilterGraph…"),
                                                    refused + L" done, return 0x8000FFFF."}));
    EXPECT_TRUE(FilterNamed(graph, L"FileWriter").IsValid());

    device.Release();
    meter.Release();
    encoder.Release();
    writer.Release();
    settings.Release();
    sink.Release();
    const size_t beforeFree = LogLines();
    EXPECT_EQ(graph.Free(), S_OK);
    EXPECT_THAT(LogSince(beforeFree),
                ElementsAreArray({std::wstring(L"CFilterGraph_Capture::Free() begin…"), std::wstring(L"free FilterEnumerator…"),
                                  std::wstring(L"free FilterGraph…"),
                                  std::wstring(L"CFilterGraph_Capture::Free() done, return 0x00000000.")}));
    EXPECT_EQ(graph.Free(), S_FALSE);
}

TEST_F(CaptureGraph, FortyMillisecondBuffersAtEveryRate)
{
    // Tag 0x10055: only the low 16 bits count, so this is MP3 too.
    ASSERT_EQ(graph.Init(L"capture-22050.mp3", 0x10055, 22050, 64000), S_OK);
    EXPECT_TRUE(FilterNamed(graph, L"MPEG2AudioEncoder").IsValid());
    EXPECT_EQ(CaptureBufferBytes(graph), 1764);  // 882 samples
    EXPECT_EQ(graph.Free(), S_OK);

    ASSERT_EQ(graph.Init(L"capture-11025.wav", WAVE_FORMAT_PCM, 11025, 0), S_OK);
    EXPECT_EQ(CaptureBufferBytes(graph), 882);  // 441 samples
    EXPECT_EQ(graph.Free(), S_OK);
}

TEST_F(CaptureGraph, CompressorChainAfterAFailedBuild)
{
    // No compressor makes MS ADPCM: the graph is left partly built until Free.
    ASSERT_EQ(graph.Init(L"capture-adpcm.wav", WAVE_FORMAT_ADPCM, 44100, 0), VFW_E_UNSUPPORTED_AUDIO);
    EXPECT_TRUE(graph.IsValid());
    EXPECT_TRUE(FilterNamed(graph, L"VolumeMeter").IsValid());
    EXPECT_FALSE(FilterNamed(graph, L"WaveWriter").IsValid());
    EXPECT_EQ(graph.Init(L"capture-adpcm.wav", WAVE_FORMAT_ADPCM, 44100, 0), E_UNEXPECTED);
    EXPECT_EQ(graph.Free(), S_OK);
    EXPECT_FALSE(graph.IsValid());

    // Built from scratch: the IMA ADPCM compressor under its friendly name, then the WAV writer.
    ASSERT_EQ(graph.Init(L"capture-ima.wav", WAVE_FORMAT_IMA_ADPCM, 44100, 0), S_OK);
    COM::TPtr<IBaseFilter> compressor = FilterNamed(graph, L"Test ACM IMA ADPCM");
    ASSERT_TRUE(compressor.IsValid());
    EXPECT_EQ(PeerFilterName(compressor, PINDIR_OUTPUT), L"WaveWriter");
    EXPECT_FALSE(FilterNamed(graph, L"MPEG2AudioEncoder").IsValid());
    compressor.Release();
    EXPECT_EQ(graph.Free(), S_OK);
}

// --- gaps in the captured audio ----------------------------------------------------------------------

// What the tone capture device reported dropping (see the stand-in's tone_capture_report.h).
struct DeviceDrops {
    int drops = 0;
    std::vector<std::string> lines;  // the drop lines, in order
    bool stopped = false;            // the run's summary is there
};

DeviceDrops ReadDeviceReport(const std::wstring& path)
{
    DeviceDrops report;
    std::ifstream file(std::string(path.begin(), path.end()));
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("drop ", 0) == 0) {
            ++report.drops;
            report.lines.push_back(line);
        } else if (line.rfind("stop ", 0) == 0) {
            report.stopped = true;
        }
    }
    return report;
}

// A recording into a PCM WAV file with the device holding holdMs of audio and reporting its drops:
// slowCalls level callbacks of 120 ms each (a listener three times slower than the buffers), then
// 15 quick ones, so that every drop is followed by audio the meter sees. The meter's counts come back.
class CaptureGaps : public CaptureGraph {
protected:
    void Record(const wchar_t* holdMs, LONG slowCalls)
    {
        m_report = L"capture-drops-report.txt";
        ::DeleteFileW(m_report.c_str());
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", holdMs);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", m_report.c_str());
        m_from = LogLines();
        const HRESULT built = graph.Init(L"capture-gaps.wav", WAVE_FORMAT_PCM, 44100, 0);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", nullptr);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", nullptr);
        ASSERT_EQ(built, S_OK);
        COM::TPtr<IMediaControl> control;
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
        COM::TPtr<IBaseFilter> meter = FilterNamed(graph, L"VolumeMeter");
        ASSERT_TRUE(meter.IsValid());
        ASSERT_EQ(meter->QueryInterface(VolumeMeter::IID_IFilterProperties, reinterpret_cast<void**>(&m_meter)), S_OK);

        const LONG start = g_levelCalls;
        g_levelDelay = slowCalls > 0 ? 120 : 0;
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        const auto calls = [&](LONG n) {
            for (int i = 0; i < 2000 && g_levelCalls - start < n; ++i)
                ::Sleep(10);
            return g_levelCalls - start >= n;
        };
        EXPECT_TRUE(calls(slowCalls));
        g_levelDelay = 0;
        EXPECT_TRUE(calls(slowCalls + 15));
        EXPECT_TRUE(SUCCEEDED(control->Stop()));
    }

    void TearDown() override
    {
        g_levelDelay = 0;
        m_meter.Release();
        CaptureGraph::TearDown();
        ::DeleteFileW(m_report.c_str());
    }

    std::vector<std::wstring> GapLines() const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : LogSince(m_from)) {
            if (line.rfind(L"VolumeMeter: ", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    std::wstring m_report;
    size_t m_from = 0;
    COM::TPtr<VolumeMeter::IFilterProperties> m_meter;
};

TEST_F(CaptureGaps, TheMeterCountsWhatTheDeviceDroppedAndTracesEachGap)
{
    Record(L"200", 12);
    ASSERT_FALSE(HasFatalFailure());
    const DeviceDrops device = ReadDeviceReport(m_report);
    ASSERT_TRUE(device.stopped);
    ASSERT_GE(device.drops, 1);

    ULONG gaps = 0;
    REFERENCE_TIME missing = 0;
    ASSERT_EQ(m_meter->GetDroppedAudio(&gaps, &missing), S_OK);
    // Every drop that audio followed before the stop (on a loaded machine the last one may have none).
    ASSERT_GE(static_cast<int>(gaps), device.drops - 1);
    ASSERT_LE(static_cast<int>(gaps), device.drops);
    long long dropped = 0;
    for (ULONG i = 0; i < gaps; ++i)
        dropped += std::stoll(device.lines[i].substr(device.lines[i].find(" time=") + 6));
    EXPECT_NEAR(static_cast<double>(missing), static_cast<double>(dropped), 400000.0) << "within one buffer";

    // One line per gap, where the lost audio began and how long it was.
    const std::vector<std::wstring> lines = GapLines();
    ASSERT_EQ(lines.size(), gaps);
    const std::string& first = device.lines.front();
    const long long at = std::stoll(first.substr(first.find(" at=") + 4));
    const long long time = std::stoll(first.substr(first.find(" time=") + 6));
    std::wostringstream expected;
    expected << std::fixed << std::setprecision(3) << L"VolumeMeter: gap 1 in the captured audio at " << at / 1e7
             << L" s, " << std::setprecision(1) << time / 1e4 << L" ms lost.";
    EXPECT_EQ(lines.front(), expected.str());

    // Counted per recording: the counts stay readable after the stop.
    ULONG again = 0;
    EXPECT_EQ(m_meter->GetDroppedAudio(&again, &missing), S_OK);
    EXPECT_EQ(again, gaps);
    EXPECT_EQ(m_meter->GetDroppedAudio(nullptr, &missing), E_POINTER);
}

TEST_F(CaptureGaps, ARecordingWithoutDropsHasNoGaps)
{
    // Paced in real time, with no slow listener and a device that holds five seconds.
    Record(L"5000", 0);
    ASSERT_FALSE(HasFatalFailure());
    const DeviceDrops device = ReadDeviceReport(m_report);
    ASSERT_TRUE(device.stopped);
    EXPECT_EQ(device.drops, 0);
    ULONG gaps = 99;
    REFERENCE_TIME missing = 99;
    EXPECT_EQ(m_meter->GetDroppedAudio(&gaps, &missing), S_OK);
    EXPECT_EQ(gaps, 0u);
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(GapLines().empty());
}

TEST(CaptureGraphObject, FreeWhenEmpty)
{
    CFilterGraph_Capture graph;
    EXPECT_EQ(graph.Free(), S_FALSE);
    EXPECT_FALSE(graph.IsValid());
}

} // namespace
