// The render sink behind the platform's file reader and WAVE parser in a filter graph run by the
// graph manager: the whole file arrives and is completed once, also when it ends while paused;
// a stop window set on the sink's stream control cuts the stream; seeking calls reach the parser
// through the sink's pass-through with the parser's own results; and the sink's file-sink name.
#include "input_test_support.h"

#include "stdax/media_type_operations.h"

#include <strsafe.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace StdaxTest;

namespace {

// The platform's WAVE parser.
const CLSID CLSID_WaveParser = {0xd51bd5a1, 0x7548, 0x11cf, {0xa5, 0x20, 0x00, 0x80, 0xc7, 0x7e, 0xf5, 0x8a}};

constexpr DWORD kRate = 8000;
constexpr long kBytes = kRate * 2; // one second of 16-bit mono

// A one-second 16-bit mono PCM WAVE file in the test's working directory.
std::wstring WriteWaveFile()
{
    WCHAR directory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    const std::wstring path = std::wstring(directory) + L"\\render_graph.wav";
    FILE* file = ::_wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return path;
    auto put32 = [&](DWORD v) { std::fwrite(&v, 4, 1, file); };
    auto put16 = [&](WORD v) { std::fwrite(&v, 2, 1, file); };
    std::fwrite("RIFF", 1, 4, file);
    put32(36 + kBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(16);
    put16(WAVE_FORMAT_PCM);
    put16(1);
    put32(kRate);
    put32(kRate * 2);
    put16(2);
    put16(16);
    std::fwrite("data", 1, 4, file);
    put32(kBytes);
    for (long i = 0; i < kBytes / 2; ++i)
        put16(static_cast<WORD>((i % 40) * 800));
    std::fclose(file);
    return path;
}

COM::TPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    COM::TPtr<IEnumPins> pins;
    COM::TPtr<IPin> pin;
    if (FAILED(filter->EnumPins(&pins)))
        return pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted)
            return pin;
    }
    pin.Release();
    return pin;
}

class CRenderGraphTest : public CSinkGraphTest {
protected:
    // File reader -> WAVE parser -> sink.
    void BuildFileGraph()
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           reinterpret_cast<void**>(&m_reader)));
        COM::TPtr<IFileSourceFilter> source;
        ASSERT_EQ(S_OK, m_reader.QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&source)));
        ASSERT_EQ(S_OK, source->Load(WriteWaveFile().c_str(), nullptr));
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_WaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           reinterpret_cast<void**>(&m_parser)));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_reader, L"Reader"));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_parser, L"Parser"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(PinOf(m_reader, PINDIR_OUTPUT), PinOf(m_parser, PINDIR_INPUT), nullptr));
        m_parserOutput = PinOf(m_parser, PINDIR_OUTPUT);
        ASSERT_NE(nullptr, m_parserOutput.p);
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_parserOutput, Pin()->PinInterface(), nullptr));
    }

    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        m_parserOutput.Release();
        m_parser.Release();
        m_reader.Release();
        CSinkGraphTest::TearDown();
    }

    // Waits for the next EC_COMPLETE (other events are kept in m_seen); whether it came. The
    // platform's queue may answer E_ABORT at once while empty, so it is asked again until the
    // deadline.
    bool WaitForComplete()
    {
        const DWORD begin = ::GetTickCount();
        while (::GetTickCount() - begin < 10000) {
            CGraphEvent event = {};
            if (m_events->GetEvent(&event.code, &event.param1, &event.param2, 50) != S_OK) {
                ::Sleep(5);
                continue;
            }
            m_events->FreeEventParams(event.code, event.param1, event.param2);
            m_seen.push_back(event);
            if (event.code == EC_COMPLETE)
                return true;
        }
        return false;
    }

    COM::TPtr<IBaseFilter> m_reader;
    COM::TPtr<IBaseFilter> m_parser;
    COM::TPtr<IPin> m_parserOutput;
    std::vector<CGraphEvent> m_seen;
};

} // namespace

TEST_F(CRenderGraphTest, TheWholeFileArrivesInOrderAndCompletesOnce)
{
    BuildFileGraph();
    EXPECT_EQ(MEDIASUBTYPE_PCM, Pin()->ConnectionType().subtype);
    EXPECT_EQ(kRate, SampleRateOf(Pin()->ConnectionType()));
    EXPECT_NE(nullptr, Pin()->Allocator()) << "the parser told the sink its allocator";

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForComplete());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_sink->Interface()), m_seen.back().param2);

    const RenderSink::CRecord record = m_sink->Record();
    EXPECT_EQ(1, record.endOfStream);
    EXPECT_EQ(kBytes, record.flowingBytes);
    ASSERT_FALSE(record.samples.empty());
    REFERENCE_TIME expected = 0;
    for (const RenderSink::CReceivedSample& sample : record.samples) {
        EXPECT_FALSE(sample.discarded);
        EXPECT_TRUE(sample.flags & AM_SAMPLE_TIMEVALID);
        EXPECT_EQ(expected, sample.start);
        expected = sample.stop;
    }
    EXPECT_EQ(10000000, expected);
    EXPECT_EQ(0, Count(TakeEvents(), EC_COMPLETE)) << "once per run";
}

TEST_F(CRenderGraphTest, AStreamThatEndsWhilePausedCompletesWhenTheGraphRuns)
{
    BuildFileGraph();
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    ASSERT_TRUE(m_sink->WaitUntil([](const RenderSink::CRecord& r) { return r.endOfStream == 1; }));
    EXPECT_EQ(kBytes, m_sink->Record().flowingBytes);
    EXPECT_EQ(0, Count(TakeEvents(), EC_COMPLETE));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForComplete());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_sink->Interface()), m_seen.back().param2);
}

TEST_F(CRenderGraphTest, AStopWindowOnTheSinkCutsTheStreamAtItsTime)
{
    BuildFileGraph();
    COM::TPtr<IAMStreamControl> control;
    ASSERT_EQ(S_OK, Pin()->PinInterface()->QueryInterface(IID_IAMStreamControl, reinterpret_cast<void**>(&control)));
    const REFERENCE_TIME stop = 5000000;
    ASSERT_EQ(S_OK, control->StopAt(&stop, FALSE, 9));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForComplete());

    int flowing = 0, discarded = 0;
    for (const RenderSink::CReceivedSample& sample : m_sink->Samples()) {
        if (sample.discarded) {
            ++discarded;
            EXPECT_GT(sample.start, stop);
        } else {
            ++flowing;
            EXPECT_LE(sample.start, stop);
        }
    }
    EXPECT_GT(flowing, 0);
    EXPECT_GT(discarded, 0);
    int stopped = 0;
    for (const CGraphEvent& event : m_seen) {
        if (event.code == EC_STREAM_CONTROL_STOPPED) {
            ++stopped;
            EXPECT_EQ(9, event.param2);
        }
    }
    EXPECT_EQ(1, stopped);
}

TEST_F(CRenderGraphTest, SeekingCallsReachTheParserWithItsOwnResults)
{
    COM::TPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, m_sink->Interface()->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    LONGLONG duration = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration)) << "not connected";

    // A peer without seeking.
    ConnectSource();
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));
    ASSERT_EQ(S_OK, m_graph->Disconnect(Pin()->PinInterface()));
    ASSERT_EQ(S_OK, m_graph->Disconnect(m_source->Output()->PinInterface()));

    BuildFileGraph();
    COM::TPtr<IMediaSeeking> parser;
    ASSERT_EQ(S_OK, m_parserOutput.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&parser)));
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(10000000, duration);
    DWORD ours = 0, theirs = 0;
    EXPECT_EQ(parser->GetCapabilities(&theirs), seeking->GetCapabilities(&ours));
    EXPECT_EQ(theirs, ours);
    // The parser's refusals come back unchanged.
    const HRESULT refused = parser->SetTimeFormat(&TIME_FORMAT_FRAME);
    EXPECT_TRUE(FAILED(refused));
    EXPECT_EQ(refused, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
    EXPECT_EQ(parser->IsFormatSupported(&TIME_FORMAT_FRAME), seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
    LONGLONG current = 2500000, stopAt = 7500000;
    ASSERT_EQ(S_OK, seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stopAt,
                                          AM_SEEKING_AbsolutePositioning));
    LONGLONG parserStop = 0;
    ASSERT_EQ(S_OK, parser->GetStopPosition(&parserStop));
    EXPECT_EQ(stopAt, parserStop);

    // The graph manager's own seeking asks the sink, which asks the parser.
    COM::TPtr<IMediaSeeking> graphSeeking;
    ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&graphSeeking)));
    duration = 0;
    ASSERT_EQ(S_OK, graphSeeking->GetDuration(&duration));
    EXPECT_EQ(10000000, duration);
}

TEST_F(CRenderGraphTest, FileSinkNameIsBoundTo259CharactersAndModesAreOverwriteOrNone)
{
    COM::TPtr<IFileSinkFilter2> sink;
    ASSERT_EQ(S_OK, m_sink->Interface()->QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(0x1234);
    DWORD mode = 77;
    EXPECT_EQ(E_FAIL, sink->GetCurFile(&name, nullptr));
    EXPECT_EQ(reinterpret_cast<LPOLESTR>(0x1234), name) << "untouched";
    EXPECT_EQ(E_FAIL, sink->GetMode(&mode));
    EXPECT_EQ(E_INVALIDARG, sink->SetMode(2));
    EXPECT_EQ(S_OK, sink->SetMode(AM_FILE_OVERWRITE));
    ASSERT_EQ(S_OK, sink->GetMode(&mode));
    EXPECT_EQ(static_cast<DWORD>(AM_FILE_OVERWRITE), mode);
    EXPECT_EQ(E_POINTER, sink->GetMode(nullptr));

    // Too long before any name: refused, and still no name.
    const std::wstring tooLong(300, L'x');
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, sink->SetFileName(tooLong.c_str(), nullptr));
    EXPECT_EQ(E_FAIL, sink->GetCurFile(&name, nullptr));

    // The longest name that fits, with a media type.
    const std::wstring longest = L"C:\\" + std::wstring(256, L'a');
    AM_MEDIA_TYPE type;
    MakeAudioType(&type, MEDIASUBTYPE_PCM, 11025);
    ASSERT_EQ(S_OK, sink->SetFileName(longest.c_str(), &type));
    stdax::FreeMediaTypeContents(&type);
    // A refused name leaves the one in use.
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, sink->SetFileName((longest + L"b").c_str(), nullptr));
    ASSERT_EQ(S_OK, sink->GetCurFile(&name, nullptr));
    EXPECT_EQ(longest, name);
    ::CoTaskMemFree(name);

    // A new name without a type keeps the type.
    ASSERT_EQ(S_OK, sink->SetFileName(L"out.wav", nullptr));
    AM_MEDIA_TYPE got;
    ASSERT_EQ(S_OK, sink->GetCurFile(&name, &got));
    EXPECT_STREQ(L"out.wav", name);
    ::CoTaskMemFree(name);
    EXPECT_EQ(MEDIASUBTYPE_PCM, got.subtype);
    EXPECT_EQ(11025u, SampleRateOf(got));
    stdax::FreeMediaTypeContents(&got);

    EXPECT_EQ(E_POINTER, sink->SetFileName(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, sink->GetCurFile(nullptr, nullptr));
}
