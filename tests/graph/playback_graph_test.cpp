// The playback graph built by Wine's graph manager from the URL source stand-in, driven through the
// media control and seeking clients, with its trace lines; and the COM initialisation guard.
#include "graph/basic_audio.h"
#include "graph/device_list.h"
#include "graph/filter_graph_playback.h"
#include "graph/media_control.h"
#include "graph/media_seeking.h"
#include "graph_test_support.h"
#include "support/com_init.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

using ::testing::ElementsAre;
using GraphTest::CComThread;

namespace {

const std::wstring kInit = L"CFilterGraph_Playback::Init";

std::vector<std::wstring> BuildSteps(const std::wstring& header, const std::wstring& result, int steps)
{
    static const wchar_t* const kSteps[] = {L"init COM…", L"init filter graph…", L"insert FileSource(URL)…",
                                            L"query FileSource for IFileSourceFilter…", L"load file…",
                                            L"find FileSource output…", L"render FileSource output…"};
    std::vector<std::wstring> lines{header + L" begin…"};
    lines.insert(lines.end(), kSteps, kSteps + steps);
    lines.push_back(header + L" done, return " + result + L".");
    return lines;
}

TEST(PlaybackGraph, BuildsTracesAndPlays)
{
    CFilterGraph_Playback graph;
    const size_t from = GraphTest::MainLogLineCount();
    ASSERT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 42), S_OK);
    const std::wstring header = kInit + L"( 42, \"" + GraphTest::kToneWav + L"\" )";
    EXPECT_EQ(GraphTest::MainLogSince(from), BuildSteps(header, L"0x00000000", 7));

    // The source joined under the path as its name, and the manager added a renderer behind it.
    COM::TPtr<IBaseFilter> source;
    EXPECT_EQ(graph->FindFilterByName(GraphTest::kToneWav.c_str(), &source), S_OK);
    COM::TPtr<IEnumFilters> filters;
    ASSERT_EQ(graph->EnumFilters(&filters), S_OK);
    int count = 0;
    for (COM::TPtr<IBaseFilter> filter; filters->Next(1, &filter, nullptr) == S_OK;)
        ++count;
    EXPECT_GE(count, 2);

    DirectShow::CMediaSeeking seeking;
    ASSERT_EQ(seeking.Attach(graph), S_OK);
    LONGLONG duration = 0;
    ASSERT_EQ(seeking.GetDuration(&duration), S_OK);
    EXPECT_NEAR(duration / 1e7, 2.0, 0.01);

    DirectShow::CMediaControl control;
    EXPECT_EQ(control.Run(), E_UNEXPECTED);
    ASSERT_EQ(control.Attach(graph), S_OK);
    EXPECT_EQ(control.Attach(graph), E_UNEXPECTED);
    // A stopped graph is paused, a paused one run, a running one paused.
    bool paused = false;
    // A change still under way answers S_FALSE.
    EXPECT_GE(control.TogglePause(&paused), S_OK);
    EXPECT_TRUE(paused);
    EXPECT_GE(control.TogglePause(&paused), S_OK);
    EXPECT_FALSE(paused);
    LONGLONG position = -1;
    EXPECT_TRUE(GraphTest::WaitFor([&] { return seeking.GetCurrentPosition(&position) == S_OK && position > 2000000; }));
    EXPECT_GE(control.TogglePause(&paused), S_OK);
    EXPECT_TRUE(paused);
    EXPECT_GE(control.TogglePause(nullptr), S_OK);
    EXPECT_EQ(control.TogglePause(reinterpret_cast<bool*>(8)), E_POINTER);
    EXPECT_GE(control.Stop(), S_OK);
    control.Release();
    seeking.Release();
    source.Release();
    filters.Release();
    EXPECT_EQ(graph.Free(), S_OK);
}

TEST(PlaybackGraph, SecondInitIsRefusedUntilFree)
{
    CFilterGraph_Playback graph;
    ASSERT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 1), S_OK);
    const size_t from = GraphTest::MainLogLineCount();
    EXPECT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 2), E_UNEXPECTED);
    EXPECT_EQ(GraphTest::MainLogSince(from),
              BuildSteps(kInit + L"( 2, \"" + GraphTest::kToneWav + L"\" )", L"0x8000FFFF", 2));
    EXPECT_EQ(graph.Free(), S_OK);
    EXPECT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 3), S_OK);
}

TEST(PlaybackGraph, UnopenablePathFailsAndStaysHeld)
{
    CFilterGraph_Playback graph;
    const std::wstring missing = TEST_DATA_DIR L"/no such file.wav";
    const size_t from = GraphTest::MainLogLineCount();
    const HRESULT hr = graph.Init(missing.c_str(), 0);
    EXPECT_LT(hr, 0);
    const std::vector<std::wstring> lines = GraphTest::MainLogSince(from);
    ASSERT_GE(lines.size(), 7u);
    // It fails on loading or, at the latest, on rendering.
    EXPECT_TRUE(lines[lines.size() - 2] == L"load file…" || lines[lines.size() - 2] == L"render FileSource output…")
        << lines.size();
    EXPECT_TRUE(graph.IsValid());
    EXPECT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 0), E_UNEXPECTED);
    EXPECT_EQ(graph.Free(), S_OK);
}

TEST(PlaybackGraph, FileUrlOfTheSourceStandIn)
{
    CFilterGraph_Playback graph;
    std::wstring url = L"file:///" + GraphTest::kToneWav;
    EXPECT_EQ(graph.Init(url.c_str(), 0), S_OK);
}

TEST(PlaybackGraph, ReleasesOnlyTheComReferenceItAdded)
{
    // The thread had COM already: Init's own initialisation answers S_FALSE and is released again, so
    // one release of ours brings the thread back to no COM at all (a new initialisation answers S_OK).
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    {
        CFilterGraph_Playback graph;
        EXPECT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 0), S_OK);
        EXPECT_EQ(graph.Free(), S_OK);
    }
    ::CoUninitialize();
    CComInit guard;
    EXPECT_EQ(guard.Initialise(), S_OK);
    EXPECT_EQ(guard.Initialise(), E_UNEXPECTED);
    EXPECT_EQ(guard.Uninitialise(), S_OK);
    EXPECT_EQ(guard.Uninitialise(), S_FALSE);
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    {
        CComInit nested;
        EXPECT_EQ(nested.Initialise(), S_FALSE);
    }  // released by the destructor
    ::CoUninitialize();
    EXPECT_EQ(guard.Initialise(), S_OK);
}

// Each audio renderer the system lists plays the stream when chosen: it is the one renderer of the
// graph, under its own name, and the stream is connected to it; one that is not present builds nothing
// beyond the graph.
TEST(PlaybackGraph, ChosenRenderer)
{
    CComThread com;
    DirectShow::COutputDeviceList renderers;
    ASSERT_EQ(renderers.Read(), S_OK);
    ASSERT_GE(renderers.Devices().size(), 2u);
    for (const DirectShow::CDevice& renderer : renderers.Devices()) {
        CFilterGraph_Playback graph;
        ASSERT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 0, renderer.id.c_str()), S_OK) << renderer.id.c_str();
        COM::TPtr<IBaseFilter> chosen;
        ASSERT_EQ(graph->FindFilterByName(renderer.name.c_str(), &chosen), S_OK) << renderer.name.c_str();
        COM::TPtr<IPin> input;
        COM::TPtr<IPin> peer;
        ASSERT_EQ(DirectShow::CFilterGraph::FindPinByDirection(chosen, PINDIR_INPUT, &input), S_OK);
        EXPECT_EQ(input->ConnectedTo(&peer), S_OK) << renderer.name.c_str();
        int withAudio = 0;
        COM::TPtr<IEnumFilters> filters;
        ASSERT_EQ(graph->EnumFilters(&filters), S_OK);
        for (COM::TPtr<IBaseFilter> filter; filters->Next(1, &filter, nullptr) == S_OK;) {
            COM::TPtr<IBasicAudio> audio;
            withAudio += SUCCEEDED(filter->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&audio)));
        }
        EXPECT_EQ(withAudio, 1) << renderer.name.c_str();
    }
    CFilterGraph_Playback graph;
    EXPECT_EQ(graph.Init(GraphTest::kToneWav.c_str(), 0, L"@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Gone"),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

// A graph that holds no audio renderer (the source not rendered): volume and balance have nothing to
// act on, and nothing can seek; each refusal says so and leaves the graph as it is.
TEST(MediaClients, GraphWithoutRenderer)
{
    CComThread com;
    DirectShow::CFilterGraph graph;
    ASSERT_EQ(graph.Create(), S_OK);
    COM::TPtr<IBaseFilter> source;
    ASSERT_EQ(graph.AddFilter(CLSID_URLReader, L"source", &source), S_OK);
    COM::TPtr<IFileSourceFilter> file;
    ASSERT_EQ(source.QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&file)), S_OK);
    ASSERT_EQ(file->Load(GraphTest::kToneWav.c_str(), nullptr), S_OK);
    DirectShow::CBasicAudio audio;
    DirectShow::CMediaSeeking seeking;
    ASSERT_EQ(audio.Attach(graph), S_OK);
    ASSERT_EQ(seeking.Attach(graph), S_OK);
    long level = 1;
    EXPECT_EQ(audio.SetVolume(-602), E_NOINTERFACE);
    EXPECT_EQ(audio.GetVolume(&level), E_NOINTERFACE);
    EXPECT_EQ(audio.SetBalance(-10000), E_NOINTERFACE);
    EXPECT_EQ(audio.GetBalance(&level), E_NOINTERFACE);
    EXPECT_EQ(audio.SetVolume(1), E_INVALIDARG);
    EXPECT_EQ(seeking.SetPosition(0), E_NOTIMPL);
    file.Release();
    source.Release();
}

TEST(MediaClients, NothingToAttachTo)
{
    DirectShow::CFilterGraph empty;
    DirectShow::CMediaControl control;
    DirectShow::CMediaSeeking seeking;
    EXPECT_EQ(control.Attach(empty), E_UNEXPECTED);
    EXPECT_EQ(seeking.Attach(empty), E_UNEXPECTED);
    bool paused = true;
    EXPECT_EQ(control.TogglePause(&paused), E_UNEXPECTED);
    EXPECT_TRUE(paused);
    LONGLONG time = 0;
    EXPECT_EQ(control.Stop(), E_UNEXPECTED);
    EXPECT_EQ(seeking.GetDuration(&time), E_UNEXPECTED);
    EXPECT_EQ(seeking.GetCurrentPosition(&time), E_UNEXPECTED);
}

} // namespace
