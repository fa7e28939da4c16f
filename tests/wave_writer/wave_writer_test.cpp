// The WAV writer inside the platform's filter graph: PCM from the PCM test source and a compressed
// (IMA ADPCM) stream from a source the test pushes itself, each checked here for the exact chunk
// layout, sizes and frame count and left behind for the readers on the Linux side; a new pause
// after a stop rewriting the file; refused, empty and oversized samples; a failed write and a full
// disk ending the stream with the system's error; the header kept up to date while recording; files
// past 2 GiB and at the RIFF size limit (sparse, through the writer's test hook).
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/wave_writer/wave_writer.h"
#include "pcm_settings.h"
#include "pcm_signal.h"
#include "pcm_source.h"
#include "platform/oversized_sample.h"
#include "push_source.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "stdax/test_filter.h"

#include <gtest/gtest.h>

#include <control.h>
#include <evcode.h>
#include <uuids.h>
#include <mmreg.h>

using StdaxTest::CComApartment;
using StdaxTest::CLiveObjectCheck;

namespace {

constexpr DWORD Timeout = 30000;

std::wstring FullPath(const wchar_t* name)
{
    WCHAR path[MAX_PATH];
    ::GetFullPathNameW(name, MAX_PATH, path, nullptr);
    return path;
}

std::vector<BYTE> ReadAll(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    return std::vector<BYTE>{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<BYTE> ReadAll(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    // Shared for writing too: a file that a recording still writes is read as it is now.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(::GetFileSize(file, nullptr));
    DWORD done = 0;
    if (!bytes.empty() && !::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr))
        done = 0;
    bytes.resize(done);
    ::CloseHandle(file);
    return bytes;
}

void WriteAll(const std::string& name, const std::vector<BYTE>& bytes)
{
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

DWORD Dword(const std::vector<BYTE>& bytes, size_t at)
{
    DWORD v = 0;
    std::memcpy(&v, bytes.data() + at, sizeof(v));
    return v;
}

std::string Tag(const std::vector<BYTE>& bytes, size_t at)
{
    return std::string(reinterpret_cast<const char*>(bytes.data() + at), 4);
}

// The parts of a file in the writer's layout; fails the test when the layout is not exactly
// RIFF/WAVE, "fmt " (formatBytes), "fact" (4), "data".
struct CWaveLayout {
    std::vector<BYTE> format;
    DWORD fact = 0;
    std::vector<BYTE> data;
};

void ParseLayout(const std::vector<BYTE>& file, size_t formatBytes, CWaveLayout* layout)
{
    ASSERT_GE(file.size(), 12u + 8 + formatBytes + 12 + 8);
    EXPECT_EQ("RIFF", Tag(file, 0));
    EXPECT_EQ(file.size() - 8, Dword(file, 4));
    EXPECT_EQ("WAVE", Tag(file, 8));
    EXPECT_EQ("fmt ", Tag(file, 12));
    ASSERT_EQ(formatBytes, Dword(file, 16));
    layout->format.assign(file.begin() + 20, file.begin() + 20 + formatBytes);
    size_t at = 20 + formatBytes + (formatBytes & 1);
    EXPECT_EQ("fact", Tag(file, at));
    EXPECT_EQ(4u, Dword(file, at + 4));
    layout->fact = Dword(file, at + 8);
    at += 12;
    EXPECT_EQ("data", Tag(file, at));
    const DWORD size = Dword(file, at + 4);
    ASSERT_LE(at + 8 + size, file.size());
    EXPECT_EQ(file.size(), at + 8 + size + (size & 1));
    layout->data.assign(file.begin() + at + 8, file.begin() + at + 8 + size);
}

// A stream of 16-bit stereo frames, each frame a 32-bit counter: every byte says where it was.
std::vector<BYTE> CountingFrames(DWORD first, DWORD count)
{
    std::vector<BYTE> bytes(count * 4);
    for (DWORD i = 0; i < count; ++i) {
        const DWORD v = first + i;
        std::memcpy(&bytes[i * 4], &v, 4);
    }
    return bytes;
}

// Reads of files past 4 GiB, with 64-bit positions.
ULONGLONG FileLength(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<BYTE> ReadAt(const std::wstring& path, ULONGLONG offset, DWORD count)
{
    std::vector<BYTE> bytes(count);
    // Shared for writing too: a file that a recording still writes is read as it is now.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::ReadFile(file, bytes.data(), count, &done, nullptr))
        done = 0;
    bytes.resize(done);
    ::CloseHandle(file);
    return bytes;
}

// The header of a PCM file in the writer's layout (its 56 bytes up to the data), checked against a
// file of dataBytes bytes of data: every size field and the frame count.
void ExpectPcmHeader(const std::wstring& path, ULONGLONG dataBytes)
{
    const ULONGLONG dataOffset = 56;
    const std::vector<BYTE> header = ReadAt(path, 0, static_cast<DWORD>(dataOffset));
    ASSERT_EQ(dataOffset, header.size());
    EXPECT_EQ(dataOffset + dataBytes, FileLength(path));
    EXPECT_EQ("RIFF", Tag(header, 0));
    EXPECT_EQ(dataOffset + dataBytes - 8, Dword(header, 4));
    EXPECT_EQ("fmt ", Tag(header, 12));
    EXPECT_EQ(16u, Dword(header, 16));
    EXPECT_EQ("fact", Tag(header, 36));
    EXPECT_EQ(dataBytes / 4, Dword(header, 44));
    EXPECT_EQ("data", Tag(header, 48));
    EXPECT_EQ(dataBytes, Dword(header, 52));
}

// An mmio I/O procedure installed in place of the standard file procedure for one test: it works on
// the file handle the writer hands over, and its writes fail (access denied) while g_failWrites is set.
bool g_failWrites = false;
int g_failedWrites = 0;

LRESULT CALLBACK FailingIoProc(LPSTR info, UINT message, LPARAM lParam1, LPARAM lParam2)
{
    auto* mmio = reinterpret_cast<MMIOINFO*>(info);
    HANDLE file = reinterpret_cast<HANDLE>(mmio->adwInfo[0]);
    switch (message) {
    case MMIOM_OPEN:
        // The writer opens the file itself and hands mmio the handle: no name arrives here.
        mmio->lDiskOffset = 0;
        return lParam1 == 0 && file != INVALID_HANDLE_VALUE ? 0 : MMIOERR_CANNOTOPEN;
    case MMIOM_CLOSE:
        ::CloseHandle(file);
        return 0;
    case MMIOM_READ: {
        DWORD done = 0;
        if (!::ReadFile(file, reinterpret_cast<void*>(lParam1), static_cast<DWORD>(lParam2), &done, nullptr))
            return -1;
        mmio->lDiskOffset += done;
        return done;
    }
    case MMIOM_WRITE:
    case MMIOM_WRITEFLUSH: {
        if (g_failWrites) {
            ++g_failedWrites;
            ::SetLastError(ERROR_ACCESS_DENIED);
            return -1;
        }
        DWORD done = 0;
        if (!::WriteFile(file, reinterpret_cast<const void*>(lParam1), static_cast<DWORD>(lParam2), &done, nullptr))
            return -1;
        mmio->lDiskOffset += done;
        return done;
    }
    case MMIOM_SEEK: {
        const DWORD at = ::SetFilePointer(file, static_cast<LONG>(lParam1), nullptr, static_cast<DWORD>(lParam2));
        if (at == INVALID_SET_FILE_POINTER)
            return -1;
        mmio->lDiskOffset = static_cast<LONG>(at);
        return static_cast<LONG>(at);
    }
    default:
        return 0;
    }
}

class WaveWriterGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        ASSERT_EQ(S_OK, WaveWriter::CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_writer)));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_writer, L"WaveWriter"));
        ASSERT_EQ(S_OK, m_writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&m_sink)));
        ASSERT_EQ(S_OK, m_writer->FindPin(L"Input", &m_input));
    }
    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_push != nullptr)
            m_push->Interface()->Release();
        if (m_pcm != nullptr)
            m_pcm->Interface()->Release();
        m_input.Release();
        m_sink.Release();
        m_writer.Release();
        m_control.Release();
        m_graph.Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    void SetFile(const wchar_t* name)
    {
        const std::wstring path = FullPath(name);
        ::DeleteFileW(path.c_str());
        ASSERT_EQ(S_OK, m_sink->SetFileName(path.c_str(), nullptr));
        ASSERT_EQ(S_OK, m_sink->SetMode(AM_FILE_OVERWRITE));
    }
    void ConnectPush(const AM_MEDIA_TYPE& type)
    {
        m_push = PushSource::CFilter::Create(type);
        ASSERT_NE(nullptr, m_push);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_push->Interface(), L"Push"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_push->OutputPin(), m_input, nullptr));
    }
    void ConnectPushPcm(WORD channels, DWORD rate)
    {
        AM_MEDIA_TYPE type;
        PushSource::MakePcmType(&type, channels, rate, 16);
        ConnectPush(type);
        stdax::FreeMediaTypeContents(&type);
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    COM::TPtr<IBaseFilter> m_writer;
    COM::TPtr<IFileSinkFilter2> m_sink;
    COM::TPtr<IPin> m_input;
    PushSource::CFilter* m_push = nullptr;
    PcmSource::CFilter* m_pcm = nullptr;
};

} // namespace

TEST_F(WaveWriterGraphTest, PcmStereoFromThePcmSourceIsWrittenChunkForChunk)
{
    SetFile(L"pcm_stereo.wav");
    PcmSource::Settings settings;
    settings.channels = 2;
    settings.sampleRate = 44100;
    settings.frequency = 1000.0;
    settings.amplitude = 0.8;
    settings.length = 10000000;
    HRESULT hr = E_FAIL;
    m_pcm = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_pcm->Interface(), L"Source"));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_pcm->Output()->PinInterface(), m_input, nullptr));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    const DWORD begin = ::GetTickCount();
    while (!m_pcm->Output()->EndOfStreamDelivered() && ::GetTickCount() - begin < Timeout)
        ::Sleep(5);
    ASSERT_TRUE(m_pcm->Output()->EndOfStreamDelivered());
    ASSERT_EQ(S_OK, m_control->Stop());
    ASSERT_EQ(S_OK, m_pcm->Output()->StreamResult());

    const std::vector<BYTE> expected = PcmSource::CSignal::Generate(settings, 44100);
    WriteAll("pcm_stereo.expect.raw", expected);
    CWaveLayout layout;
    ParseLayout(ReadAll("pcm_stereo.wav"), 16, &layout);
    const WAVEFORMATEX format = PcmSource::WaveFormatOf(settings);
    EXPECT_EQ(0, std::memcmp(&format, layout.format.data(), 16));
    EXPECT_EQ(44100u, layout.fact) << "frames: data bytes / nBlockAlign";
    EXPECT_EQ(expected.size(), layout.data.size());
    EXPECT_TRUE(expected == layout.data);
}

TEST_F(WaveWriterGraphTest, ACompressedFormatKeepsItsExtraBytesAndCountsFramesPerBlock)
{
    SetFile(L"ima_adpcm.wav");
    // IMA ADPCM, mono 44100 Hz: 1024-byte blocks of 2041 samples.
    const WORD samplesPerBlock = 2041;
    AM_MEDIA_TYPE type;
    PushSource::MakeWaveType(&type, WAVE_FORMAT_IMA_ADPCM, 1, 44100, 4, 1024, 44100 * 1024 / samplesPerBlock,
                             {static_cast<BYTE>(samplesPerBlock & 0xFF), static_cast<BYTE>(samplesPerBlock >> 8)});
    ConnectPush(type);
    const std::vector<BYTE> format(type.pbFormat, type.pbFormat + type.cbFormat);
    stdax::FreeMediaTypeContents(&type);

    // Ten blocks, each with a block header (first sample 0, step index 0) and arbitrary nibbles,
    // delivered in pieces that do not follow the block boundaries.
    std::vector<BYTE> stream;
    UINT32 noise = 12345;
    for (int block = 0; block < 10; ++block) {
        const size_t at = stream.size();
        stream.resize(at + 1024);
        for (size_t i = 4; i < 1024; ++i) {
            noise = noise * 1103515245u + 12345u;
            stream[at + i] = static_cast<BYTE>(noise >> 16);
        }
    }
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    for (size_t at = 0; at < stream.size(); at += 700) {
        const size_t piece = std::min<size_t>(700, stream.size() - at);
        ASSERT_EQ(S_OK, m_push->Deliver(stream.data() + at, static_cast<LONG>(piece)));
    }
    ASSERT_EQ(S_OK, m_control->Stop());

    WriteAll("ima_adpcm.expect.raw", stream);
    CWaveLayout layout;
    ParseLayout(ReadAll("ima_adpcm.wav"), 20, &layout);
    EXPECT_TRUE(format == layout.format) << "all 18 + cbSize bytes of the format";
    EXPECT_EQ(10u * samplesPerBlock, layout.fact);
    EXPECT_TRUE(stream == layout.data);
}

TEST_F(WaveWriterGraphTest, PausingAgainAfterAStopRewritesTheFile)
{
    SetFile(L"rewritten.wav");
    ConnectPushPcm(1, 8000);
    const std::vector<BYTE> first = CountingFrames(0, 2000);
    const std::vector<BYTE> second = CountingFrames(5000, 250);
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, m_push->Deliver(first));
    ASSERT_EQ(S_OK, m_control->Stop());
    CWaveLayout layout;
    ParseLayout(ReadAll("rewritten.wav"), 16, &layout);
    EXPECT_TRUE(first == layout.data);
    EXPECT_EQ(4000u, layout.fact);

    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, m_push->Deliver(second));
    ASSERT_EQ(S_OK, m_control->Stop());
    const std::vector<BYTE> file = ReadAll("rewritten.wav");
    EXPECT_EQ(44u + second.size(), file.size() - 12) << "RIFF, fmt, fact, data headers and the new bytes only";
    ParseLayout(file, 16, &layout);
    EXPECT_TRUE(second == layout.data);
    EXPECT_EQ(500u, layout.fact);
    WriteAll("rewritten.expect.raw", second);
    // A second Stop finds nothing to do.
    EXPECT_EQ(S_OK, m_writer->Stop());
}

TEST_F(WaveWriterGraphTest, RefusedEmptyAndFlushedSamplesAddNothing)
{
    SetFile(L"refusals.wav");
    ConnectPushPcm(1, 8000);
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    const std::vector<BYTE> kept = CountingFrames(100, 50);
    EXPECT_EQ(S_OK, m_push->Deliver(kept));

    AM_MEDIA_TYPE other;
    PushSource::MakePcmType(&other, 1, 16000, 16);
    const std::vector<BYTE> refused = CountingFrames(900, 10);
    EXPECT_EQ(VFW_E_CHANGING_FORMAT, m_push->Deliver(refused.data(), static_cast<LONG>(refused.size()), &other));
    stdax::FreeMediaTypeContents(&other);
    EXPECT_EQ(S_OK, m_push->Deliver(nullptr, 0));
    // A sample whose valid length runs past its buffer: what lies behind the buffer is not written.
    COM::TPtr<IMemInputPin> transport;
    ASSERT_EQ(S_OK, m_input.QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport)));
    COversizedSample* const oversized = COversizedSample::Create(64, 64 + 4096);
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, transport->Receive(oversized));
    oversized->Release();

    ASSERT_EQ(S_OK, m_input->BeginFlush());
    EXPECT_EQ(S_FALSE, m_push->Deliver(refused));
    ASSERT_EQ(S_OK, m_input->EndFlush());
    const std::vector<BYTE> after = CountingFrames(150, 50);
    EXPECT_EQ(S_OK, m_push->Deliver(after));
    ASSERT_EQ(S_OK, m_control->Stop());

    std::vector<BYTE> expected = kept;
    expected.insert(expected.end(), after.begin(), after.end());
    CWaveLayout layout;
    ParseLayout(ReadAll("refusals.wav"), 16, &layout);
    EXPECT_TRUE(expected == layout.data);
    WriteAll("refusals.expect.raw", expected);
}

TEST_F(WaveWriterGraphTest, NoFileWithoutConnectionOrWithoutAWaveFormat)
{
    SetFile(L"never.wav");
    EXPECT_EQ(S_OK, m_writer->Pause());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(L"never.wav"));
    EXPECT_EQ(S_FALSE, m_writer->Stop());

    // Audio without a WAVEFORMATEX connects, but the writer does not leave Stopped.
    AM_MEDIA_TYPE type;
    stdax::InitializeMediaType(&type);
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_None;
    ConnectPush(type);
    EXPECT_EQ(VFW_E_UNSUPPORTED_AUDIO, m_writer->Pause());
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, m_writer->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(L"never.wav"));
}

// The first write the system refuses ends the stream: the upstream pin gets the system's error, the
// graph hears EC_ERRORABORT with it, later samples are refused, and the file is a valid WAV of
// everything that reached the disk before.
TEST_F(WaveWriterGraphTest, AFailedWriteEndsTheStreamWithTheSystemsErrorAndTheFileKeepsWhatWasWritten)
{
    ASSERT_NE(nullptr, ::mmioInstallIOProcA(FOURCC_DOS, &FailingIoProc, MMIO_INSTALLPROC));
    ::DeleteFileW(L"write_failure.wav");
    ASSERT_EQ(S_OK, m_sink->SetFileName(FullPath(L"write_failure.wav").c_str(), nullptr));
    ConnectPushPcm(2, 44100);
    COM::TPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));

    const DWORD framesPerSample = 2048;
    DWORD next = 0;
    auto deliver = [&] {
        const HRESULT hr = m_push->Deliver(CountingFrames(next, framesPerSample));
        next += framesPerSample;
        return hr;
    };
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(S_OK, deliver());
    g_failWrites = true;
    HRESULT failure = S_OK;
    for (int i = 0; i < 40 && SUCCEEDED(failure); ++i)
        failure = deliver();
    g_failWrites = false;
    EXPECT_EQ(E_ACCESSDENIED, failure) << "the system's error, not a code of the file API";
    EXPECT_EQ(1, g_failedWrites);
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, deliver()) << "later samples are refused, also once the disk takes writes again";
    long code = 0;
    LONG_PTR first = 0, second = 0;
    int aborts = 0;
    while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
        if (code == EC_ERRORABORT) {
            ++aborts;
            EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(first));
        }
        events->FreeEventParams(code, first, second);
    }
    EXPECT_EQ(1, aborts);
    ASSERT_EQ(S_OK, m_control->Stop());
    ::mmioInstallIOProcA(FOURCC_DOS, &FailingIoProc, MMIO_REMOVEPROC);

    // The file holds the head of the stream that reached the disk, and nothing after it.
    CWaveLayout layout;
    ParseLayout(ReadAll("write_failure.wav"), 16, &layout);
    const std::vector<BYTE> stream = CountingFrames(0, next);
    ASSERT_GT(layout.data.size(), 0u);
    EXPECT_TRUE(std::equal(layout.data.begin(), layout.data.end(), stream.begin()));
    EXPECT_EQ(layout.data.size() / 4, layout.fact);
}

// A real full disk: the test runs with files limited in size (file_size_limit.py), as a user can
// arrange without a file system of their own. The writer takes a tone from the PCM source until the
// disk refuses; the graph hears EC_ERRORABORT with the disk-full error, and the file is a valid WAV
// holding every whole frame that fitted.
TEST_F(WaveWriterGraphTest, OnAFullDiskTheStreamEndsWithTheDiskFullErrorAndTheFileKeepsWhatFitted)
{
    char limitText[32] = {};
    if (::GetEnvironmentVariableA("TESSARO_TEST_FILE_SIZE_LIMIT", limitText, sizeof(limitText)) == 0)
        GTEST_SKIP() << "runs under file_size_limit.py only";
    const ULONGLONG limit = std::strtoull(limitText, nullptr, 10);
    SetFile(L"disk_full.wav");
    PcmSource::Settings settings;
    settings.channels = 2;
    settings.length = -1;
    HRESULT hr = E_FAIL;
    m_pcm = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_pcm->Interface(), L"Source"));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_pcm->Output()->PinInterface(), m_input, nullptr));
    COM::TPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    const HRESULT diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    HRESULT aborted = S_OK;
    bool completed = false;
    const DWORD begin = ::GetTickCount();
    while (::GetTickCount() - begin < Timeout) {
        long code = 0;
        LONG_PTR first = 0, second = 0;
        if (events->GetEvent(&code, &first, &second, aborted == S_OK ? 100 : 500) != S_OK) {
            if (aborted != S_OK)
                break;
            continue;
        }
        if (code == EC_ERRORABORT)
            aborted = static_cast<HRESULT>(first);
        completed = completed || code == EC_COMPLETE;
        events->FreeEventParams(code, first, second);
    }
    EXPECT_EQ(diskFull, aborted);
    EXPECT_FALSE(completed) << "the recording did not complete: no EC_COMPLETE (Java would hear a normal end)";
    ASSERT_EQ(S_OK, m_control->Stop());
    EXPECT_EQ(diskFull, m_pcm->Output()->StreamResult()) << "the source was refused with the error";

    CWaveLayout layout;
    ParseLayout(ReadAll("disk_full.wav"), 16, &layout);
    const ULONGLONG fitted = (limit - 56) / 4 * 4;
    EXPECT_EQ(fitted, layout.data.size());
    EXPECT_TRUE(layout.data == PcmSource::CSignal::Generate(settings, static_cast<LONGLONG>(layout.data.size() / 4)));
    EXPECT_EQ(layout.data.size() / 4, layout.fact);
}

// The child process of the next test: records a live tone until it is killed (60 s at most), as 16-bit
// PCM at 16 kHz or, with TESSARO_TEST_RECORD_UNTIL_KILLED=8, as 8-bit PCM at 11025 Hz (an odd byte rate:
// a second of data is an odd number of bytes, whose pad byte is not written until the close).
TEST_F(WaveWriterGraphTest, RecordsUntilKilled)
{
    wchar_t bits[8] = {};
    if (::GetEnvironmentVariableW(L"TESSARO_TEST_RECORD_UNTIL_KILLED", bits, 8) == 0)
        GTEST_SKIP() << "the child of AProcessKilledMidRecordingLeavesAValidWaveOfAllButTheLastSecond";
    const bool eightBit = std::wstring(bits) == L"8";
    PcmSource::Settings settings;
    settings.sampleRate = eightBit ? 11025 : 16000;
    settings.bitsPerSample = eightBit ? 8 : 16;
    settings.length = -1;
    settings.realTime = true;
    HRESULT hr = E_FAIL;
    m_pcm = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, m_graph->AddFilter(m_pcm->Interface(), L"Source"));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_pcm->Output()->PinInterface(), m_input, nullptr));
    ASSERT_EQ(S_OK, m_sink->SetFileName(FullPath(eightBit ? L"killed_8bit.wav" : L"killed.wav").c_str(), nullptr));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ::Sleep(60000);
    FAIL() << "not killed";
}

// A process that ends without stopping (killed, or gone on an exit path that never stops the graph)
// leaves a valid WAV: the header was kept up to date while recording. The child above is killed with
// TerminateProcess 3 s into its recording (the 8-bit one at the first header refresh after that which
// counts an odd number of data bytes); its file must count at least 1.5 s of audio that is there, and
// no RIFF size past the end of the file (read back on the Linux side too, by the wave module and sox).
TEST_F(WaveWriterGraphTest, AProcessKilledMidRecordingLeavesAValidWaveOfAllButTheLastSecond)
{
    if (::GetEnvironmentVariableW(L"TESSARO_TEST_RECORD_UNTIL_KILLED", nullptr, 0) != 0)
        GTEST_SKIP();
    struct SCase {
        const wchar_t* bits;
        const wchar_t* file;
        DWORD bytesPerSecond;
        DWORD bytesPerFrame;
    };
    const SCase cases[] = {{L"16", L"killed.wav", 32000, 2}, {L"8", L"killed_8bit.wav", 11025, 1}};
    for (const SCase& test : cases) {
        SCOPED_TRACE(testing::Message() << "killed while recording " << std::wstring(test.file).c_str());
        const std::wstring path = FullPath(test.file);
        ::DeleteFileW(path.c_str());
        WCHAR exe[MAX_PATH];
        ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, exe, MAX_PATH));
        std::wstring command =
            std::wstring(L"\"") + exe + L"\" --gtest_filter=WaveWriterGraphTest.RecordsUntilKilled";
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = nul;
        PROCESS_INFORMATION child = {};
        ASSERT_TRUE(::SetEnvironmentVariableW(L"TESSARO_TEST_RECORD_UNTIL_KILLED", test.bits));
        const BOOL started = ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                              &startup, &child);
        ::SetEnvironmentVariableW(L"TESSARO_TEST_RECORD_UNTIL_KILLED", nullptr);
        ::CloseHandle(nul);
        ASSERT_TRUE(started);
        // The recording has begun once the file is there.
        const DWORD begin = ::GetTickCount();
        while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && ::GetTickCount() - begin < Timeout)
            ::Sleep(10);
        ::Sleep(3000);
        // Odd data: killed right after a refresh that counts an odd number of bytes (the next comes a
        // second later).
        while (test.bytesPerSecond % 2 != 0 && ::GetTickCount() - begin < Timeout) {
            const std::vector<BYTE> header = ReadAll(path);
            if (header.size() >= 56 && Dword(header, 52) % 2 != 0)
                break;
            ::Sleep(20);
        }
        const bool running = ::WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT;
        ::TerminateProcess(child.hProcess, 9);
        ::WaitForSingleObject(child.hProcess, Timeout);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        ASSERT_TRUE(running) << "the recording child ended before it was killed";

        const std::vector<BYTE> file = ReadAll(path);
        ASSERT_GE(file.size(), 56u);
        EXPECT_EQ("RIFF", Tag(file, 0));
        EXPECT_EQ("data", Tag(file, 48));
        const DWORD data = Dword(file, 52);
        EXPECT_LE(56u + data, file.size()) << "the header counts only bytes that are in the file";
        EXPECT_LE(Dword(file, 4) + 8u, file.size()) << "a RIFF size past the end of the file";
        EXPECT_EQ(data + 48, Dword(file, 4));
        EXPECT_EQ(data / test.bytesPerFrame, Dword(file, 44)) << "frames";
        EXPECT_GE(data, test.bytesPerSecond * 3 / 2) << "at least 1.5 s of the 3 s recorded";
        EXPECT_TRUE(test.bytesPerSecond % 2 == 0 || data % 2 != 0) << "killed with odd data";
    }
}

// A recording of about three hours of 48 kHz stereo passes 2 GiB. The test hook leaves most of the
// data chunk unwritten (a sparse file); every header field counts the whole data past 2 GiB, and the
// bytes on either side of the skipped stretch are where they belong.
TEST_F(WaveWriterGraphTest, PastTwoGibibytesEveryHeaderFieldCountsTheWholeData)
{
    const std::wstring path = FullPath(L"past_2gib.wav");
    SetFile(L"past_2gib.wav");
    ConnectPushPcm(2, 44100);
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    CWaveFile& file = static_cast<WaveWriter::CFilter*>(m_writer.p)->File();
    ASSERT_EQ(S_OK, m_push->Deliver(CountingFrames(0, 1000)));
    const DWORD skipped = 0x7FFFF000;
    ASSERT_EQ(S_OK, file.SkipData(skipped));
    ASSERT_EQ(S_OK, m_push->Deliver(CountingFrames(1000, 4096)));
    ASSERT_EQ(S_OK, m_control->Stop());

    const ULONGLONG dataBytes = 4000ULL + skipped + 16384;
    ExpectPcmHeader(path, dataBytes);
    EXPECT_TRUE(ReadAt(path, 56, 4000) == CountingFrames(0, 1000));
    EXPECT_TRUE(ReadAt(path, 56 + dataBytes - 16384, 16384) == CountingFrames(1000, 4096));
    ::DeleteFileW(path.c_str());
}

// At the size RIFF can describe the writer takes what fits, ends its stream and tells the graph why
// (EC_ERRORABORT with the file-size error); the file stays valid and holds everything up to there.
TEST_F(WaveWriterGraphTest, AtTheRiffLimitTheFileEndsValidAndTheGraphHearsWhy)
{
    const std::wstring path = FullPath(L"riff_limit.wav");
    SetFile(L"riff_limit.wav");
    ConnectPushPcm(2, 44100);
    COM::TPtr<IMediaEvent> events;
    ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    CWaveFile& file = static_cast<WaveWriter::CFilter*>(m_writer.p)->File();
    ASSERT_EQ(S_OK, m_push->Deliver(CountingFrames(0, 1000)));
    // The largest data chunk of whole frames that keeps the file below 4 GiB: 0xFFFFFFFF - 56,
    // rounded down to a frame of 4 bytes. 10000 bytes are left free.
    const ULONGLONG limit = 0xFFFFFFC4ULL;
    ASSERT_EQ(S_OK, file.SkipData(static_cast<DWORD>(limit - 4000 - 10000)));
    const HRESULT full = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(full, m_push->Deliver(CountingFrames(1000, 4096)));
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, m_push->Deliver(CountingFrames(5096, 16)));
    long code = 0;
    LONG_PTR first = 0, second = 0;
    bool aborted = false;
    while (!aborted && events->GetEvent(&code, &first, &second, 0) == S_OK) {
        aborted = code == EC_ERRORABORT && static_cast<HRESULT>(first) == full;
        events->FreeEventParams(code, first, second);
    }
    EXPECT_TRUE(aborted);
    ASSERT_EQ(S_OK, m_control->Stop());

    ExpectPcmHeader(path, limit);
    EXPECT_TRUE(ReadAt(path, 56 + limit - 10000, 10000) == CountingFrames(1000, 2500));
    ::DeleteFileW(path.c_str());
}

// Java hands the writer any path the user chose: names outside the ANSI code page and paths longer
// than the old 128-character file API limit must land exactly where they were asked to.
TEST_F(WaveWriterGraphTest, AUnicodeNameInALongPathIsWrittenWhereItWasAsked)
{
    const std::wstring directory = FullPath((L"Äänitteet 日本 " + std::wstring(140, L'x')).c_str());
    ::CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring path = directory + L"\\Tön 録音.wav";
    ::DeleteFileW(path.c_str());
    ASSERT_GT(path.size(), 160u);
    ASSERT_EQ(S_OK, m_sink->SetFileName(path.c_str(), nullptr));
    ConnectPushPcm(2, 44100);
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    ASSERT_EQ(S_OK, m_push->Deliver(CountingFrames(0, 4410)));
    ASSERT_EQ(S_OK, m_control->Stop());

    CWaveLayout layout;
    ParseLayout(ReadAll(path), 16, &layout);
    EXPECT_TRUE(layout.data == CountingFrames(0, 4410));
    EXPECT_EQ(4410u, layout.fact);
}
