// The MP3 encoder filter in the platform's filter graph: a PCM tone source in front of it (directly or
// through the infinite tee, as in a recording), the File Writer (the test prefix's) or a recording
// sink behind it. The MP3 files written here are checked afterwards on the Linux side
// (check_encoder_files.py: frame chain, LAME tag, mpg123 decoding, the tone's phase).
#include "filters/mpeg2_audio_encoder/filter.h"
#include "mpeg2_audio_encoder/encoder_test_support.h"
#include "platform/pcm_source/pcm_signal.h"
#include "platform/pcm_source/pcm_source.h"
#include "platform/file_writer/file_writer.h"
#include "platform/oversized_sample.h"
#include "platform/render_sink/render_sink.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "support/media_type.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <mmreg.h>
#include <uuids.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using MPEG2AudioEncoder::CFilter;
using MPEG2AudioEncoder::EncoderSettings;

constexpr DWORD EventTimeout = 20000;

// Each run lists its own files.
class CFreshFileList : public ::testing::Environment {
public:
    void SetUp() override { ::DeleteFileW(L"encoder_files.txt"); }
};
::testing::Environment* const s_freshFileList = ::testing::AddGlobalTestEnvironment(new CFreshFileList);

// The list of files for the Linux-side check, one line per file.
void ListFile(const char* name, DWORD rate, WORD channels, DWORD kbps, double hz, LONGLONG inputFrames,
              const char* layout)
{
    FILE* list = std::fopen("encoder_files.txt", "a");
    ASSERT_NE(nullptr, list);
    std::fprintf(list, "%s %lu %u %lu cbr %.1f %.1f %lld 0 %s\n", name, static_cast<unsigned long>(rate), channels,
                 static_cast<unsigned long>(kbps), hz, hz, inputFrames, layout);
    std::fclose(list);
}

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& wanted)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
        const size_t text = line.find_first_not_of(L' ');
        return text != std::wstring::npos && line.compare(text, std::wstring::npos, wanted) == 0;
    });
}

IPin* FirstPin(IBaseFilter* filter)
{
    COM::TPtr<IEnumPins> pins;
    IPin* pin = nullptr;
    if (SUCCEEDED(filter->EnumPins(&pins)) && pins->Next(1, &pin, nullptr) == S_OK)
        return pin;
    return nullptr;
}

class EncoderFilterGraph : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&m_events)));
        // Through the class creation function the capture graph uses.
        ASSERT_EQ(S_OK, CFilter::CreateFilter(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_encoderFilter)));
        m_encoder = static_cast<CFilter*>(m_encoderFilter.p);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_encoderFilter, L"MPEG2AudioEncoder"));
    }

    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_source != nullptr)
            m_source->Interface()->Release();
        m_events.Release();
        m_control.Release();
        m_writer.Release();
        m_sink.Release();
        m_encoderFilter.Release();
        m_graph.Release();
        ::CoUninitialize();
    }

    void AddSource(const PcmSource::Settings& settings)
    {
        HRESULT hr = S_OK;
        m_source = PcmSource::CFilter::Create(settings, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(),
                                               m_encoder->InputPin()->PinInterface(), nullptr));
    }

    // The recording's layout: source, infinite tee, the render sink on the tee's first output and the
    // encoder on "Output2". The tee passes a sample on as long as one branch takes it, so the source
    // goes on when the encoder's branch fails.
    void AddSourceBehindATee(const PcmSource::Settings& settings)
    {
        HRESULT hr = S_OK;
        m_source = PcmSource::CFilter::Create(settings, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
        COM::TPtr<IBaseFilter> tee;
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           reinterpret_cast<void**>(&tee)));
        ASSERT_EQ(S_OK, m_graph->AddFilter(tee, L"Tee"));
        RenderSink::CFilter* const sink = RenderSink::CFilter::Create(&hr);
        ASSERT_EQ(S_OK, hr);
        m_sink.p = sink->Interface();
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink, L"Sink"));
        COM::TPtr<IPin> input, first, second;
        ASSERT_EQ(S_OK, tee->FindPin(L"Input", &input));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), input, nullptr));
        ASSERT_EQ(S_OK, tee->FindPin(L"Output1", &first));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(first, sink->Input()->PinInterface(), nullptr));
        ASSERT_EQ(S_OK, tee->FindPin(L"Output2", &second));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(second, m_encoder->InputPin()->PinInterface(), nullptr));
    }

    void AddWriter(const wchar_t* name)
    {
        WCHAR path[MAX_PATH];
        ASSERT_NE(0u, ::GetFullPathNameW(name, MAX_PATH, path, nullptr));
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           reinterpret_cast<void**>(&m_writer)));
        COM::TPtr<IFileSinkFilter2> sink;
        ASSERT_EQ(S_OK, m_writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)));
        ASSERT_EQ(S_OK, sink->SetFileName(path, nullptr));
        ASSERT_EQ(S_OK, sink->SetMode(AM_FILE_OVERWRITE));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_writer, L"FileWriter"));
        m_writerPin = FirstPin(m_writer);
        m_writerPin->Release();   // the filter keeps its pin
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_encoder->OutputPin()->PinInterface(), m_writerPin, nullptr));
    }

    // The allocator of the writer's pin, which the encoder delivers into.
    void WriterAllocator(IMemAllocator** allocator)
    {
        COM::TPtr<IMemInputPin> transport;
        ASSERT_EQ(S_OK, m_writerPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport)));
        ASSERT_EQ(S_OK, transport->GetAllocator(allocator));
    }

    void SetSettings(DWORD kbps, bool tagFrame)
    {
        EncoderSettings settings{};
        ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->GetEncoderSettings(&settings));
        settings.dwBitrateKbps = kbps;
        settings.bWriteTagFrame = tagFrame ? 1 : 0;
        ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->SetEncoderSettings(&settings));
    }

    bool WaitForEvent(long wanted)
    {
        const DWORD begin = ::GetTickCount();
        while (::GetTickCount() - begin < EventTimeout) {
            long code = 0;
            LONG_PTR first = 0, second = 0;
            if (m_events->GetEvent(&code, &first, &second, 100) != S_OK)
                continue;
            m_events->FreeEventParams(code, first, second);
            if (code == wanted)
                return true;
        }
        return false;
    }

    // The first parameter of the first EC_ERRORABORT within the timeout; S_OK when none came.
    HRESULT WaitForAbort()
    {
        const DWORD begin = ::GetTickCount();
        while (::GetTickCount() - begin < EventTimeout) {
            long code = 0;
            LONG_PTR first = 0, second = 0;
            if (m_events->GetEvent(&code, &first, &second, 100) != S_OK)
                continue;
            m_events->FreeEventParams(code, first, second);
            if (code == EC_ERRORABORT)
                return static_cast<HRESULT>(first);
        }
        return S_OK;
    }

    // Runs the graph until the given event, then stops it.
    void RunUntil(long event)
    {
        ASSERT_TRUE(SUCCEEDED(m_control->Run()));
        ASSERT_TRUE(WaitForEvent(event));
        ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    }

    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    COM::TPtr<IMediaEvent> m_events;
    COM::TPtr<IBaseFilter> m_encoderFilter;
    CFilter* m_encoder = nullptr;
    PcmSource::CFilter* m_source = nullptr;
    COM::TPtr<IBaseFilter> m_writer;
    IPin* m_writerPin = nullptr;
    COM::TPtr<IBaseFilter> m_sink;
};

// --- stream output into the File Writer ---------------------------------------------------------------

TEST_F(EncoderFilterGraph, StreamOutputStoresTheWholeToneWithItsTagFrame)
{
    EncoderTest::CEncoderLogReader log;
    PcmSource::Settings settings;   // 440 Hz mono at 44100 Hz, as fast as the graph takes it
    settings.length = 20000000;
    AddSource(settings);
    AddWriter(L"stream_tagged.mp3");
    SetSettings(128, true);
    RunUntil(EC_COMPLETE);
    EXPECT_EQ(S_OK, m_source->Output()->StreamResult());
    EXPECT_TRUE(m_source->Output()->EndOfStreamDelivered());
    ListFile("stream_tagged.mp3", 44100, 1, 128, 440.0, m_source->Output()->DeliveredFrames(), "tagged");

    const std::vector<std::wstring> lines = log.NewLines();
    EXPECT_TRUE(HasLine(lines, L"m_bIsStreamOutput = TRUE."));
    EXPECT_TRUE(HasLine(lines, L"all pins are connected."));
    EXPECT_TRUE(HasLine(lines, L"determine dwOutSampleRate\x2026"));
    EXPECT_TRUE(HasLine(lines, L"dwOutSampleRate = 44100."));
    EXPECT_TRUE(HasLine(lines, L"MPEG2AudioEncoder::CFilter::StopStreaming() done, return 0x00000000."));
}

TEST_F(EncoderFilterGraph, StreamOutputWithoutTagFrameKeepsTheTailOfAStereoLowRateTone)
{
    PcmSource::Settings settings;
    settings.sampleRate = 22050;
    settings.channels = 2;
    settings.frequency = 441.0;
    settings.length = 15000000;
    AddSource(settings);
    AddWriter(L"stream_22050_stereo.mp3");
    SetSettings(64, false);
    RunUntil(EC_COMPLETE);
    EXPECT_TRUE(m_source->Output()->EndOfStreamDelivered());
    ListFile("stream_22050_stereo.mp3", 22050, 2, 64, 441.0, m_source->Output()->DeliveredFrames(), "stream");
}

// A stream sink that offers no IStream cannot have the tag frame filled in: the stop says so.
TEST_F(EncoderFilterGraph, StreamOutputWithoutADownstreamStreamReportsTheTagFrameItCouldNotWrite)
{
    EncoderTest::CEncoderLogReader log;
    PcmSource::Settings settings;
    settings.length = 5000000;
    AddSource(settings);
    HRESULT hr = S_OK;
    RenderSink::CFilter* const sink = RenderSink::CFilter::Create(&hr);
    ASSERT_EQ(S_OK, hr);
    m_sink.p = sink->Interface();
    sink->Input()->m_acceptStream = true;
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink, L"Sink"));
    AM_MEDIA_TYPE stream{};
    stream.majortype = MEDIATYPE_Stream;
    stream.subtype = MEDIASUBTYPE_MPEG1Audio;
    stream.formattype = FORMAT_None;
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_encoder->OutputPin()->PinInterface(), sink->Input()->PinInterface(),
                                           &stream));
    SetSettings(128, true);
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(sink->WaitUntil([](const RenderSink::CRecord& r) { return r.endOfStream > 0; }));
    m_control->Stop();
    EXPECT_FALSE(sink->Record().samples.empty());
    const std::vector<std::wstring> lines = log.NewLines();
    EXPECT_TRUE(HasLine(lines, L"m_bIsStreamOutput = TRUE."));
    EXPECT_TRUE(HasLine(lines, L"MPEG2AudioEncoder::CFilter::StopStreaming() done, return 0x80004002."))
        << "E_NOINTERFACE: the sink has no IStream";
}

// The graph is stopped while the source has sent no end of stream: the audio inside LAME still reaches
// the file before the tag frame is rewritten.
TEST_F(EncoderFilterGraph, StoppedWithoutEndOfStreamTheFileHoldsEverythingCaptured)
{
    PcmSource::Settings settings;
    settings.length = -1;
    settings.beforeDelivery = [](ULONG index, IMediaSample*) { return index == 30 ? E_ABORT : S_OK; };
    AddSource(settings);
    AddWriter(L"stopped_tagged.mp3");
    SetSettings(128, true);
    RunUntil(EC_ERRORABORT);
    EXPECT_FALSE(m_source->Output()->EndOfStreamDelivered());
    EXPECT_EQ(30u, m_source->Output()->DeliveredSamples());
    ListFile("stopped_tagged.mp3", 44100, 1, 128, 440.0, m_source->Output()->DeliveredFrames(), "tagged");
}

// Downstream refuses the encoder's deliveries for a while in the middle of a recording (its buffer
// requests fail): the encoded bytes wait and go out with the next delivery, so the tone is stored
// without a hole (the checker decodes it and follows its phase) and the tag frame counts the file's
// frames. 430.7 Hz turns two lost frames into half a cycle of phase.
TEST_F(EncoderFilterGraph, DeliveriesRefusedMidRecordingLoseNoEncodedByte)
{
    EncoderTest::CEncoderLogReader log;
    PcmSource::Settings settings;
    settings.frequency = 430.7;
    settings.length = 30000000;
    COM::TPtr<IMemAllocator> allocator;
    settings.beforeDelivery = [&](ULONG index, IMediaSample*) {
        if (index == 20)
            allocator->Decommit();
        else if (index == 24)
            allocator->Commit();
        return S_OK;
    };
    AddSourceBehindATee(settings);
    AddWriter(L"refused_mid_recording.mp3");
    WriterAllocator(&allocator);
    SetSettings(128, true);
    RunUntil(EC_COMPLETE);
    EXPECT_TRUE(m_source->Output()->EndOfStreamDelivered());
    EXPECT_TRUE(HasLine(log.NewLines(), L"MPEG2AudioEncoder::CFilter::FlushEncodedSamples() done, return 0x80040211."))
        << "a delivery was refused (VFW_E_NOT_COMMITTED)";
    ListFile("refused_mid_recording.mp3", 44100, 1, 128, settings.frequency, m_source->Output()->DeliveredFrames(),
             "tagged");
}

// The platform stops the writer before the encoder: the writer's pin decommits its allocator, and
// deliveries made in between are refused. Their bytes reach the file through the writer's stream at
// the encoder's Stop, in front of LAME's tail. (The allocator is decommitted here from sample 30 on,
// as the writer's stop does, and the source then ends with an error.)
TEST_F(EncoderFilterGraph, DeliveriesRefusedByAWriterStoppedFirstReachTheFileAtStop)
{
    PcmSource::Settings settings;
    settings.frequency = 430.7;
    settings.length = -1;
    COM::TPtr<IMemAllocator> allocator;
    settings.beforeDelivery = [&](ULONG index, IMediaSample*) {
        if (index == 30)
            allocator->Decommit();
        return index == 33 ? E_ABORT : S_OK;
    };
    AddSourceBehindATee(settings);
    AddWriter(L"refused_at_stop.mp3");
    WriterAllocator(&allocator);
    SetSettings(128, true);
    RunUntil(EC_ERRORABORT);
    EXPECT_EQ(33u, m_source->Output()->DeliveredSamples());
    ListFile("refused_at_stop.mp3", 44100, 1, 128, settings.frequency, m_source->Output()->DeliveredFrames(),
             "tagged");
}

// The disk fills up under a recording (the File Writer reports it only through Receive's result, as the
// platform's is known to): a full disk does not go away by itself, so the encoder ends the stream at
// once and the graph hears EC_ERRORABORT with the disk-full error; the source is refused from then on.
TEST_F(EncoderFilterGraph, AFullDiskEndsTheStreamWithTheDiskFullError)
{
    PcmSource::Settings settings;
    settings.length = -1;
    AddSource(settings);
    AddWriter(L"disk_full.mp3");
    const auto failWrites = reinterpret_cast<FileWriter::FailWritesAfterFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(FileWriter::kModuleName), FileWriter::kFailWritesAfterExport)));
    ASSERT_NE(nullptr, failWrites);
    const ULONGLONG limit = 24 * 1024;
    failWrites(limit);
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    const HRESULT aborted = WaitForAbort();
    failWrites(~0ULL);
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), aborted);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), m_source->Output()->StreamResult());
    EXPECT_LT(m_source->Output()->DeliveredSamples(), 100u) << "the recording ended at the fill (~1.5 s)";
}

// Downstream refuses every delivery with a failure that may pass (its allocator is not committed) while
// the tee's other branch goes on, as in a recording: the encoded bytes are kept up to their bound, then
// the stream ends with that failure rather than losing audio.
TEST_F(EncoderFilterGraph, RefusalsPastTheBoundOfTheKeptBytesEndTheStream)
{
    PcmSource::Settings settings;
    settings.length = -1;
    COM::TPtr<IMemAllocator> allocator;
    settings.beforeDelivery = [&](ULONG index, IMediaSample*) {
        if (index == 5)
            allocator->Decommit();
        return S_OK;
    };
    AddSourceBehindATee(settings);
    AddWriter(L"refused_past_bound.mp3");
    WriterAllocator(&allocator);
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    const HRESULT aborted = WaitForAbort();
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(VFW_E_NOT_COMMITTED, aborted);
    // A megabyte at 128 kbit/s is about 65 s of audio, 1,600 buffers of 40 ms.
    EXPECT_GT(m_source->Output()->DeliveredSamples(), 1500u);
}

// An upstream flush drains the encoder into the stored stream and cuts the stream there; what follows
// starts again at byte 0.
TEST_F(EncoderFilterGraph, FlushCutsTheStoredStreamWhereTheDeliveredBytesEnd)
{
    PcmSource::Settings settings;
    settings.length = 20000000;
    COM::TPtr<IStream> stored;
    ULONGLONG sizeAfterFlush = 0;
    ULONGLONG sizeAfterNext = 0;
    std::vector<int> chainAfterFlush;
    HRESULT beginFlush = E_FAIL, endFlush = E_FAIL;
    settings.beforeDelivery = [&](ULONG index, IMediaSample*) {
        STATSTG stat = {};
        if (index == 10) {
            IPin* const input = m_encoder->InputPin()->PinInterface();
            beginFlush = input->BeginFlush();
            if (stored->Stat(&stat, STATFLAG_NONAME) == S_OK)
                sizeAfterFlush = stat.cbSize.QuadPart;
            std::vector<BYTE> bytes(static_cast<size_t>(sizeAfterFlush));
            LARGE_INTEGER zero = {};
            ULONG read = 0;
            if (stored->Seek(zero, STREAM_SEEK_SET, nullptr) == S_OK &&
                stored->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) == S_OK)
                chainAfterFlush = EncoderTest::FrameChain(bytes.data(), read);
            endFlush = input->EndFlush();
        } else if (index == 12 && stored->Stat(&stat, STATFLAG_NONAME) == S_OK) {
            sizeAfterNext = stat.cbSize.QuadPart;
        }
        return S_OK;
    };
    AddSource(settings);
    AddWriter(L"flushed.mp3");
    ASSERT_EQ(S_OK, m_writerPin->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stored)));
    RunUntil(EC_COMPLETE);

    EXPECT_EQ(S_OK, beginFlush);
    EXPECT_EQ(S_OK, endFlush);
    // The stored stream is whole frames up to its last byte: the encoder's rest was written and nothing
    // counted that did not arrive.
    ASSERT_FALSE(chainAfterFlush.empty());
    EXPECT_GT(sizeAfterFlush, 3000u);
    int chained = 0;
    for (const int length : chainAfterFlush)
        chained += length;
    EXPECT_EQ(sizeAfterFlush, static_cast<ULONGLONG>(chained));
    // The two samples after the flush went to the start of the stream, not behind the old end.
    EXPECT_EQ(sizeAfterFlush, sizeAfterNext);
    stored.Release();
    m_control->Stop();
    m_graph.Release();
    m_writer.Release();
    const std::vector<BYTE> file = EncoderTest::ReadFileBytes(L"flushed.mp3");
    EXPECT_FALSE(EncoderTest::FrameChain(file.data(), file.size()).empty());
}

// --- sample output --------------------------------------------------------------------------------------

TEST_F(EncoderFilterGraph, SampleOutputDeliversOneFramePerSyncPointAtFrameTimes)
{
    EncoderTest::CEncoderLogReader log;
    PcmSource::Settings settings;
    settings.length = 10000000;
    AddSource(settings);
    HRESULT hr = S_OK;
    RenderSink::CFilter* const sink = RenderSink::CFilter::Create(&hr);
    ASSERT_EQ(S_OK, hr);
    m_sink.p = sink->Interface();   // takes over the creation reference
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink, L"Sink"));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_encoder->OutputPin()->PinInterface(), sink->Input()->PinInterface(),
                                           nullptr));
    EXPECT_FALSE(m_encoder->OutputPin()->IsStreamOutput());
    const AM_MEDIA_TYPE& connected = sink->Input()->ConnectionType();
    EXPECT_EQ(MEDIATYPE_Audio, connected.majortype);
    EXPECT_EQ(MPEG2AudioEncoder::MEDIASUBTYPE_MPEGLayer3, connected.subtype);
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(sink->WaitUntil([](const RenderSink::CRecord& r) { return r.endOfStream > 0; }));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));

    const RenderSink::CRecord record = sink->Record();
    EXPECT_EQ(1, record.endOfStream);
    ASSERT_GE(record.samples.size(), 35u);
    for (size_t i = 0; i < record.samples.size(); ++i) {
        const RenderSink::CReceivedSample& sample = record.samples[i];
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 261224, sample.start) << i;
        EXPECT_EQ(sample.start + 261224, sample.stop) << i;
        EXPECT_NE(0u, sample.flags & AM_SAMPLE_SPLICEPOINT) << i;
        // One 128 kbit/s frame at 44100 Hz: 417 bytes, or 418 with padding.
        EXPECT_TRUE(sample.actual == 417 || sample.actual == 418) << i << ": " << sample.actual;
        EXPECT_EQ(0xFF, sample.firstByte) << i;
        EXPECT_EQ(16384, sample.size) << i;
    }

    const std::vector<std::wstring> lines = log.NewLines();
    EXPECT_TRUE(HasLine(lines, L"m_bIsStreamOutput = FALSE."));
    EXPECT_TRUE(HasLine(lines, L"need to determine number of buffers, from input pin of our filter."));
    EXPECT_TRUE(HasLine(lines, L"need to determine size of buffer, from our encoder\x2026"));
    EXPECT_TRUE(HasLine(lines, L"m_pOutputPin->m_mt.pbFormat = " +
                                   EncoderTest::Hex(m_encoder->OutputPin()->ConnectionType().pbFormat) + L"."));
    EXPECT_TRUE(HasLine(lines, L"dwOutSampleRate = 44100."));
}

// --- failures -------------------------------------------------------------------------------------------

// LAME faults while the encoder primes it (its output buffer cannot be written): Pause fails and the
// filter stays stopped with LAME released, so that the next Pause opens the encoder afresh.
TEST_F(EncoderFilterGraph, APauseAfterAFailedOpenOpensTheEncoderAfresh)
{
    PcmSource::Settings settings;
    AddSource(settings);
    HRESULT hr = S_OK;
    RenderSink::CFilter* const sink = RenderSink::CFilter::Create(&hr);
    ASSERT_EQ(S_OK, hr);
    m_sink.p = sink->Interface();
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink, L"Sink"));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_encoder->OutputPin()->PinInterface(), sink->Input()->PinInterface(),
                                           nullptr));
    SetSettings(128, true);   // LAME hands out its tag frame while being primed

    MPEG2AudioEncoder::CEncoder& encoder = m_encoder->Encoder();
    BYTE* const buffer = MPEG2AudioEncoder::CEncoderTestSeam::OutputBuffer(encoder);
    void* const readOnly = ::VirtualAlloc(nullptr, MPEG2AudioEncoder::CEncoder::OutputBufferSize,
                                          MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    ASSERT_NE(nullptr, readOnly);
    MPEG2AudioEncoder::CEncoderTestSeam::OutputBuffer(encoder) = static_cast<BYTE*>(readOnly);
    EXPECT_EQ(E_ABORT, m_encoderFilter->Pause());
    MPEG2AudioEncoder::CEncoderTestSeam::OutputBuffer(encoder) = buffer;
    ::VirtualFree(readOnly, 0, MEM_RELEASE);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, m_encoderFilter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);

    EXPECT_EQ(S_OK, m_encoderFilter->Pause());
    EXPECT_EQ(S_OK, m_encoderFilter->Stop());
}

// In the stream the input refuses a sample announcing another format (the encoder keeps the one it was
// opened with) and a sample whose valid length runs past its buffer; the connection's own format
// announced again passes.
TEST_F(EncoderFilterGraph, InputRefusesAFormatChangeAndALengthBeyondTheBuffer)
{
    PcmSource::Settings settings;
    HRESULT changed = E_FAIL, unchanged = E_FAIL, oversized = E_FAIL;
    IMemInputPin* const input = m_encoder->InputPin()->MemInputPinInterface();
    settings.beforeDelivery = [&](ULONG index, IMediaSample* sample) {
        if (index > 0)
            return S_OK;
        PcmSource::Settings other = settings;
        other.sampleRate = 22050;
        AM_MEDIA_TYPE type = {};
        PcmSource::MakeMediaType(other, &type);
        sample->SetMediaType(&type);
        stdax::FreeMediaTypeContents(&type);
        changed = input->Receive(sample);
        PcmSource::MakeMediaType(settings, &type);
        sample->SetMediaType(&type);
        stdax::FreeMediaTypeContents(&type);
        unchanged = input->Receive(sample);
        COversizedSample* const longer = COversizedSample::Create(3528, 3528 + 4096);
        oversized = input->Receive(longer);
        longer->Release();
        return S_FALSE;
    };
    AddSource(settings);
    AddWriter(L"format_change.mp3");
    RunUntil(EC_COMPLETE);
    EXPECT_EQ(VFW_E_CHANGING_FORMAT, changed);
    EXPECT_EQ(S_OK, unchanged);
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, oversized);
}

// --- connection -------------------------------------------------------------------------------------------

TEST_F(EncoderFilterGraph, OutputTypesFollowTheSettingsOnceTheInputIsConnected)
{
    IPin* const output = m_encoder->OutputPin()->PinInterface();
    auto typeAt = [&](int position, AM_MEDIA_TYPE** type) {
        COM::TPtr<IEnumMediaTypes> types;
        EXPECT_EQ(S_OK, output->EnumMediaTypes(&types));
        if (position > 0)
            types->Skip(position);
        return types->Next(1, type, nullptr);
    };
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(S_OK, typeAt(0, &type));
    EXPECT_EQ(MEDIATYPE_Audio, type->majortype);
    EXPECT_EQ(0u, type->cbFormat) << "no format before the input is connected";
    DirectShow::DeleteMediaType(&type);

    PcmSource::Settings settings;
    AddSource(settings);
    ASSERT_EQ(S_OK, typeAt(0, &type));
    EXPECT_EQ(MPEG2AudioEncoder::MEDIASUBTYPE_MPEGLayer3, type->subtype);
    EXPECT_EQ(FORMAT_WaveFormatEx, type->formattype);
    EXPECT_FALSE(type->bTemporalCompression);
    EXPECT_EQ(16384u, type->lSampleSize);
    ASSERT_EQ(sizeof(MPEGLAYER3WAVEFORMAT), type->cbFormat);
    const auto* mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(type->pbFormat);
    EXPECT_EQ(WAVE_FORMAT_MPEGLAYER3, mp3->wfx.wFormatTag);
    EXPECT_EQ(2, mp3->wfx.nChannels) << "joint stereo by default, whatever the input";
    EXPECT_EQ(44100u, mp3->wfx.nSamplesPerSec);
    EXPECT_EQ(16000u, mp3->wfx.nAvgBytesPerSec);
    EXPECT_EQ(1, mp3->wfx.nBlockAlign);
    EXPECT_EQ(0, mp3->wfx.wBitsPerSample);
    EXPECT_EQ(12, mp3->wfx.cbSize);
    EXPECT_EQ(MPEGLAYER3_ID_MPEG, mp3->wID);
    EXPECT_EQ(0u, mp3->fdwFlags);
    EXPECT_EQ(1, mp3->nBlockSize);
    EXPECT_EQ(1, mp3->nFramesPerBlock);
    EXPECT_EQ(0, mp3->nCodecDelay);
    DirectShow::DeleteMediaType(&type);

    EncoderSettings changed{};
    ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->GetEncoderSettings(&changed));
    changed.dwChannelMode = 3;
    changed.dwBitrateKbps = 64;
    ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->SetEncoderSettings(&changed));
    ASSERT_EQ(S_OK, typeAt(0, &type));
    mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(type->pbFormat);
    EXPECT_EQ(1, mp3->wfx.nChannels);
    EXPECT_EQ(8000u, mp3->wfx.nAvgBytesPerSec);
    DirectShow::DeleteMediaType(&type);

    ASSERT_EQ(S_OK, typeAt(1, &type));
    EXPECT_EQ(MEDIATYPE_Stream, type->majortype);
    EXPECT_EQ(MEDIASUBTYPE_MPEG1Audio, type->subtype);
    EXPECT_EQ(0u, type->cbFormat);
    DirectShow::DeleteMediaType(&type);
    EXPECT_EQ(S_FALSE, typeAt(2, &type));
}

TEST_F(EncoderFilterGraph, InputRefusesWhatTheEncoderCannotTake)
{
    PcmSource::Settings settings;
    HRESULT hr = S_OK;
    m_source = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_EQ(S_OK, hr);
    IPin* const connector = m_source->Output()->PinInterface();
    IPin* const input = m_encoder->InputPin()->PinInterface();

    struct Case {
        WORD channels, bits;
        DWORD rate;
        BOOL temporal;
        ULONG cbFormat;
        HRESULT expected;
    };
    const Case cases[] = {
        {1, 8, 44100, FALSE, 18, VFW_E_UNSUPPORTED_AUDIO},  {3, 16, 44100, FALSE, 18, VFW_E_UNSUPPORTED_AUDIO},
        {1, 16, 96000, FALSE, 18, VFW_E_UNSUPPORTED_AUDIO}, {1, 16, 44100, TRUE, 18, VFW_E_UNSUPPORTED_AUDIO},
        {1, 16, 44100, FALSE, 16, VFW_E_INVALID_MEDIA_TYPE},
    };
    for (const Case& c : cases) {
        WAVEFORMATEX format = EncoderTest::PcmFormat(c.rate, c.channels, c.bits);
        AM_MEDIA_TYPE type = {};
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.bFixedSizeSamples = TRUE;
        type.bTemporalCompression = c.temporal;
        type.formattype = FORMAT_WaveFormatEx;
        type.cbFormat = c.cbFormat;
        type.pbFormat = reinterpret_cast<BYTE*>(&format);
        EXPECT_EQ(c.expected, input->ReceiveConnection(connector, &type))
            << c.channels << " channels, " << c.bits << " bits, " << c.rate << " Hz, " << c.cbFormat << " bytes";
    }
    IPin* peer = nullptr;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, input->ConnectedTo(&peer));
}

// An output rate of 0 written through the settings after connection is refused when streaming would
// start (it would divide by zero); the filter stays stopped.
TEST_F(EncoderFilterGraph, AnOutputRateOfZeroIsRefusedAtPause)
{
    EncoderTest::CEncoderLogReader log;
    PcmSource::Settings settings;
    AddSource(settings);
    AddWriter(L"rate0.mp3");
    EncoderSettings zero{};
    ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->GetEncoderSettings(&zero));
    zero.dwOutSampleRate = 0;
    ASSERT_EQ(S_OK, m_encoder->SettingsInterface()->SetEncoderSettings(&zero));
    EXPECT_EQ(VFW_E_UNSUPPORTED_AUDIO, m_encoderFilter->Pause());
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, m_encoderFilter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_TRUE(HasLine(log.NewLines(), L"dwOutSampleRate = 0."));
    EXPECT_EQ(S_OK, m_encoderFilter->Stop());
}

} // namespace
