// The parts of quillmar.exe that decide what the user sees: command-line checks, result-code names
// and messages, the event hand-over from the library's threads, the status line texts, and the measuring
// of a recorded file.
#include "quillmar/command_line.h"
#include "quillmar/event_queue.h"
#include "quillmar/input_devices.h"
#include "quillmar/media_length.h"
#include "quillmar/result_codes.h"
#include "quillmar/status_text.h"
#include "quillmar/stream_end.h"
#include "quillmar/stream_output.h"
#include "quillmar/user_input.h"
#include "quillmar/volume_level.h"

#include <gtest/gtest.h>

#include <vfwmsgs.h>
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstring>
#include <thread>

namespace {

CCommandLine Parsed(std::vector<std::wstring> args)
{
    CCommandLine commandLine;
    EXPECT_TRUE(commandLine.Parse(args)) << std::string(commandLine.Error().begin(), commandLine.Error().end());
    return commandLine;
}

TEST(CommandLine, RecordTakesTheFormatFromTheExtensionAndEveryOptionSpelling)
{
    const CCommandLine plain = Parsed({L"record", L"out.mp3"});
    EXPECT_EQ(plain.GetVerb(), Verb::Record);
    EXPECT_EQ(plain.Target(), L"out.mp3");
    EXPECT_EQ(plain.FormatTag(), 85);
    EXPECT_EQ(plain.SampleRate(), 44100);
    EXPECT_EQ(plain.BitRate(), 128000);
    EXPECT_EQ(plain.Seconds(), 0.0);
    EXPECT_EQ(Parsed({L"record", L"MEMO.WAV"}).FormatTag(), 1);

    // Long options with = or a space, short aliases, options before the file, "k" bit rates.
    const CCommandLine full = Parsed({L"-q", L"record", L"--seconds=2.5", L"-r", L"22050", L"o.mp3", L"-b", L"64k"});
    EXPECT_TRUE(full.Quiet());
    EXPECT_EQ(full.SampleRate(), 22050);
    EXPECT_EQ(full.BitRate(), 64000);
    EXPECT_EQ(full.Seconds(), 2.5);
    EXPECT_EQ(Parsed({L"record", L"o.wav", L"--format", L"0x11"}).FormatTag(), 0x11);
    EXPECT_EQ(Parsed({L"record", L"--help"}).GetVerb(), Verb::Help);
    EXPECT_NE(Parsed({L"record", L"--help"}).HelpText().find(L"--bitrate"), std::wstring::npos);
    EXPECT_EQ(Parsed({L"--version"}).GetVerb(), Verb::Version);
}

TEST(CommandLine, StandardOutputChannelsAndVbr)
{
    const CCommandLine piped = Parsed({L"record", L"-", L"-c", L"2", L"--vbr", L"3"});
    EXPECT_TRUE(piped.ToStandardOutput());
    EXPECT_EQ(piped.FormatTag(), 85);
    EXPECT_EQ(piped.Channels(), 2);
    EXPECT_EQ(piped.VbrQuality(), 3);
    const CCommandLine wave = Parsed({L"record", L"-", L"--format", L"pcm"});
    EXPECT_EQ(wave.FormatTag(), 1);
    EXPECT_EQ(wave.Channels(), 1);
    EXPECT_EQ(wave.VbrQuality(), -1);
}

// A WAVEFORMATEX of 44100 Hz stereo 16-bit PCM.
const std::string kStereoPcm("\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00", 16);

// The stream to standard output through a pipe that nobody reads for a while: the header first, whole
// chunks past the budget dropped and counted, the rest written in order once the reader comes.
TEST(StreamOutput, ABlockedReaderCostsWholeCountedChunksAndTheRestArrivesInOrder)
{
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
    std::string received;
    {
        CStreamOutput output(writeEnd, 10000);
        output.Format(kStereoPcm);
        for (int i = 0; i < 40; ++i)
            output.Data(std::string(1000, static_cast<char>('a' + i % 26)));
        output.End();
        // The writer is stuck in the full pipe: at most the budget waits; the rest was dropped.
        EXPECT_GT(output.DroppedChunks(), 0u);
        EXPECT_EQ(output.DroppedBytes(), output.DroppedChunks() * 1000ull);
        std::thread reader([&] {
            char buffer[4096];
            DWORD count = 0;
            while (::ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0)
                received.append(buffer, count);
        });
        EXPECT_TRUE(output.WaitWritten(10000));
        ::CloseHandle(writeEnd);
        reader.join();
        EXPECT_EQ(output.BytesWritten(), received.size());
        EXPECT_EQ(received.size(), 44 + (40 - output.DroppedChunks()) * 1000);
    }
    ::CloseHandle(readEnd);
    EXPECT_EQ(received.substr(0, 20), std::string("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0", 20));
    EXPECT_EQ(received.substr(20, 16), kStereoPcm);
    EXPECT_EQ(received.substr(36, 8), std::string("data\xff\xff\xff\xff", 8));
    // The chunks kept are the first ones, in order: the header, then 'a', 'b', ... each whole.
    for (std::size_t at = 44, i = 0; at < received.size(); at += 1000, ++i)
        EXPECT_EQ(received.substr(at, 1000), std::string(1000, static_cast<char>('a' + i % 26))) << i;
}

TEST(CommandLine, FormatTags)
{
    EXPECT_EQ(CCommandLine::ParseFormat(L"mp3"), 85);
    EXPECT_EQ(CCommandLine::ParseFormat(L"pcm"), 1);
    EXPECT_EQ(CCommandLine::ParseFormat(L"49"), 49);
    EXPECT_EQ(CCommandLine::ParseFormat(L"0x55"), 85);
    EXPECT_EQ(CCommandLine::ParseFormat(L"0XfFfF"), 0xFFFF);
    for (const wchar_t* bad : {L"", L"0", L"MP3", L"65536", L"0x10000", L"0x", L"x55", L"-1", L"1e3", L"0x5g", L" 1"})
        EXPECT_EQ(CCommandLine::ParseFormat(bad), -1) << std::wstring(bad).size();
}

TEST(CommandLine, ErrorsAreOneLineWithAHint)
{
    const std::vector<std::vector<std::wstring>> bad = {
        {}, {L"Record", L"a.mp3"}, {L"play"}, {L"play", L"a", L"b"}, {L"devices", L"all"},
        {L"record", L"a.ogg"}, {L"record", L"a.wav", L"--format", L"mp3"}, {L"record", L"a.mp3", L"--format", L"1"},
        {L"record", L"a.mp3", L"--rate", L"96000"}, {L"record", L"a.mp3", L"--bitrate", L"1"},
        {L"record", L"a.mp3", L"-r", L"22050", L"-b", L"320k"}, {L"record", L"a.wav", L"--bitrate", L"128k"},
        {L"record", L"a.mp3", L"--seconds", L"0"}, {L"record", L"a.mp3", L"--seconds", L"2s"},
    };
    for (const auto& args : bad) {
        CCommandLine commandLine;
        EXPECT_FALSE(commandLine.Parse(args)) << args.size();
        EXPECT_NE(commandLine.Error().find(L"--help)"), std::wstring::npos);
        EXPECT_EQ(commandLine.Error().find(L'\n'), std::wstring::npos);
    }
}

TEST(ResultCodes, DescribeGivesHexNameAndTheTablesExplanationOnOneLine)
{
    EXPECT_EQ(CResultCodes::Describe(VFW_E_UNSUPPORTED_AUDIO),
              L"0x8004025C VFW_E_UNSUPPORTED_AUDIO: no audio compressor of the system produces this format");
    const std::wstring unknown = CResultCodes::Describe(static_cast<HRESULT>(0x8004FFFF));
    EXPECT_EQ(unknown.rfind(L"0x8004FFFF (a code this tool does not know)", 0), 0u);
    EXPECT_EQ(unknown.find(L'\n'), std::wstring::npos);
}

TEST(EventQueue, LevelsAreCoalescedOtherEventsKeptAndTakenFirst)
{
    CEventQueue queue;
    queue.PostLevel(0.1);
    queue.PostLevel(0.2);
    queue.PostStopped(0);
    queue.PostKey(L' ');
    queue.PostLevel(0.3);
    queue.PostInterrupt();
    EXPECT_EQ(queue.LevelsPosted(), 3u);

    QueuedEvent event;
    ASSERT_TRUE(queue.Take(event, 0));
    EXPECT_EQ(event.kind, EventKind::Stopped);
    EXPECT_EQ(event.reason, 0);
    ASSERT_TRUE(queue.Take(event, 0));
    EXPECT_EQ(event.kind, EventKind::Key);
    EXPECT_EQ(event.key, L' ');
    ASSERT_TRUE(queue.Take(event, 0));
    EXPECT_EQ(event.kind, EventKind::Interrupt);
    ASSERT_TRUE(queue.Take(event, 0));
    EXPECT_EQ(event.kind, EventKind::Level);
    EXPECT_EQ(event.level, 0.3);
    EXPECT_FALSE(queue.Take(event, 0));
}

TEST(EventQueue, EveryStoppedFromOtherThreadsArrives)
{
    CEventQueue queue;
    std::thread levels([&] {
        for (int i = 0; i < 2000; ++i)
            queue.PostLevel(i / 2000.0);
    });
    std::thread stops([&] {
        for (int i = 0; i < 100; ++i)
            queue.PostStopped(i % 2);
    });
    levels.join();
    stops.join();
    int stopped = 0, lost = 0, levelEvents = 0;
    QueuedEvent event;
    while (queue.Take(event, 0)) {
        if (event.kind == EventKind::Stopped) {
            ++stopped;
            lost += event.reason;
        } else {
            ++levelEvents;
        }
    }
    EXPECT_EQ(stopped, 100);
    EXPECT_EQ(lost, 50);
    EXPECT_EQ(levelEvents, 1);
    EXPECT_EQ(event.level, 1999 / 2000.0);
}

TEST(StatusText, LevelBarAndProgress)
{
    EXPECT_EQ(CStatusText::LevelBar(0.5, 3.25, 10), L"[#####.....]  50%  00:03.2");
    EXPECT_EQ(CStatusText::LevelBar(1.7, 0, 4), L"[####] 100%  00:00.0");
    EXPECT_EQ(CStatusText::LevelBar(-0.2, 0, 4), L"[....]   0%  00:00.0");
    EXPECT_EQ(CStatusText::Progress(1.0, 4.0, false, 8), L"Playing  00:01.0 / 00:04.0  [##......]");
    EXPECT_EQ(CStatusText::Progress(5.0, 4.0, true, 4), L"Paused   00:05.0 / 00:04.0  [####]");
    EXPECT_EQ(CStatusText::Progress(1.0, 0.0, false), L"Playing  00:01.0 / 00:00.0");
    EXPECT_EQ(CStatusText::Time(59.99), L"00:59.9");
    EXPECT_EQ(CStatusText::Time(3725.4), L"1:02:05.4");
    EXPECT_EQ(CStatusText::Time(-3), L"00:00.0");
}

TEST(StatusText, DroppedAudio)
{
    EXPECT_EQ(CStatusText::DroppedAudio(0, 0.0, true), L"no audio lost");
    EXPECT_EQ(CStatusText::DroppedAudio(3, 0.1204, true), L"lost 120 ms in 3 gaps");
    EXPECT_EQ(CStatusText::DroppedAudio(1, 0.04, true), L"lost 40 ms in 1 gap");
    EXPECT_EQ(CStatusText::DroppedAudio(2, 0.0, false), L"lost audio in 2 gaps (length unknown)");
}

StreamEnd EndBy(int stoppedValue, int eventCode, HRESULT result)
{
    StreamEnd end;
    end.stoppedValue = stoppedValue;
    end.causeKnown = true;
    end.eventCode = eventCode;
    end.result = result;
    return end;
}

// Every failure is exit status 1 and one line naming the operation and the cause; an end of the stream
// is none.
TEST(StreamEndReport, ErrorsLostDevicesAndCompletionsAreToldApart)
{
    const EndReport full = CStreamEndReport::ForEnd(L"record \"a.wav\"", true,
                                                    EndBy(1, StreamEnd::kErrorAbort, static_cast<HRESULT>(0x80070070)));
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.error, L"quillmar: record \"a.wav\" failed: " + CResultCodes::Describe(static_cast<HRESULT>(0x80070070)) +
                              L"\n");
    const EndReport lost = CStreamEndReport::ForEnd(L"record \"a.wav\"", true, EndBy(1, StreamEnd::kDeviceLost, S_OK));
    EXPECT_EQ(lost.exitStatus, 1);
    EXPECT_EQ(lost.error, L"quillmar: record \"a.wav\" failed: the capture device was lost\n");
    const EndReport aborted =
        CStreamEndReport::ForEnd(L"play \"b.mp3\"", false, EndBy(1, StreamEnd::kStreamErrorStopped, VFW_E_CANNOT_RENDER));
    EXPECT_EQ(aborted.exitStatus, 1);
    EXPECT_NE(aborted.error.find(L"VFW_E_CANNOT_RENDER"), std::wstring::npos) << std::string(aborted.error.begin(), aborted.error.end());
    const EndReport played = CStreamEndReport::ForEnd(L"play \"b.mp3\"", false, EndBy(0, StreamEnd::kComplete, S_OK));
    EXPECT_EQ(played.exitStatus, 0);
    EXPECT_TRUE(played.error.empty());
    StreamEnd unknown;
    unknown.stoppedValue = 1;
    EXPECT_EQ(CStreamEndReport::ForEnd(L"play \"b.mp3\"", false, unknown).exitStatus, 1);
    const EndReport tooLittle = CStreamEndReport::Failure(L"record \"a.wav\"", L"the capture device delivered too little audio");
    EXPECT_EQ(tooLittle.exitStatus, 1);
    EXPECT_EQ(tooLittle.error, L"quillmar: record \"a.wav\" failed: the capture device delivered too little audio\n");
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    EXPECT_TRUE(::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)));
    return counters.PeakWorkingSetSize;
}

// A three-hour PCM WAVE file (about 950 MB) is measured from its headers: the process's peak memory
// does not grow by the file's size.
TEST(MediaLength, AWaveOfHoursIsMeasuredInBoundedMemory)
{
    wchar_t directory[MAX_PATH + 1];
    ASSERT_GT(::GetTempPathW(MAX_PATH + 1, directory), 0u);
    const std::wstring path = std::wstring(directory) + L"quillmar-three-hours.wav";
    const std::uint32_t byteRate = 88200;
    const std::uint32_t dataSize = 3u * 3600u * byteRate;
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0, 0, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a'};
    const std::uint32_t riffSize = 36 + dataSize;
    std::memcpy(header + 4, &riffSize, 4);
    std::memcpy(header + 28, &byteRate, 4);
    std::memcpy(header + 40, &dataSize, 4);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file, header, sizeof(header), &written, nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(sizeof(header)) + dataSize;
    ASSERT_TRUE(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file));  // the audio: zeros, not written (a sparse file)
    ::CloseHandle(file);

    const SIZE_T before = PeakWorkingSet();
    const double seconds = CMediaLength::Seconds(path);
    const SIZE_T after = PeakWorkingSet();
    ::DeleteFileW(path.c_str());
    EXPECT_DOUBLE_EQ(seconds, 3 * 3600.0);
    EXPECT_GT(before, 0u) << "the peak working set is not measurable here";
    EXPECT_LT(after - before, SIZE_T(16) << 20) << "peak grew from " << before << " to " << after << " bytes";
}

TEST(MediaLength, Mp3FramesAreCountedAndTheInfoFrameIsNot)
{
    // MPEG-1 Layer III, 128 kbit/s, 44100 Hz, mono: 417-byte frames of 1152 samples.
    std::string frame(417, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = '\x90';
    frame[3] = '\xC4';
    std::string info = frame;
    info.replace(4 + 17, 4, "Info");
    std::string stream = "ID3" + std::string("\x04\x00\x00\x00\x00\x00\x05", 7) + "abcde" + info;
    for (int i = 0; i < 200; ++i)
        stream += frame;  // crosses the reading window's size
    EXPECT_NEAR(CMediaLength::OfBytes(stream), 200 * 1152 / 44100.0, 1e-9);
    EXPECT_LT(CMediaLength::OfBytes("neither"), 0.0);
}

}  // namespace

TEST(InputDevices, ChosenByNumberByWholeNameOrByAPartThatFitsOnlyOne)
{
    CInputDevices list;
    list.Parse("@a\tMic\n@b\tMic Array (USB)\n@c\tLine In\n@d\tLine In\n");
    ASSERT_EQ(list.Devices().size(), 4u);
    EXPECT_EQ(list.Devices()[1].id, L"@b");
    std::wstring error;
    EXPECT_EQ(list.Choose(L"2", error), 1);
    EXPECT_EQ(list.Choose(L"MIC", error), 0) << "a whole name wins over names that hold it";
    EXPECT_EQ(list.Choose(L"usb", error), 1);
    EXPECT_EQ(list.Choose(L"5", error), -1);
    EXPECT_NE(error.find(L"--device 5 is no device number"), std::wstring::npos);
    EXPECT_EQ(list.Choose(L"line in", error), -1) << "two devices of one name: only their numbers tell";
    EXPECT_NE(error.find(L"fits 2 input devices: give its number; the input devices are: 1. Mic, 2. Mic Array "
                         L"(USB), 3. Line In, 4. Line In"),
              std::wstring::npos);
    EXPECT_EQ(list.Choose(L"webcam", error), -1);
    EXPECT_EQ(error.find(L'\n'), std::wstring::npos);
}

TEST(CommandLine, PlayTakesAStartAVolumeAndAnOutputDevice)
{
    const CCommandLine plain = Parsed({L"play", L"x.wav"});
    EXPECT_EQ(plain.StartSeconds(), 0.0);
    EXPECT_EQ(plain.VolumePercent(), -1);
    EXPECT_EQ(plain.Device(), L"");
    const CCommandLine full = Parsed({L"play", L"--start=5.5", L"x.wav", L"--volume", L"50", L"-d", L"Sink 2"});
    EXPECT_EQ(full.StartSeconds(), 5.5);
    EXPECT_EQ(full.VolumePercent(), 50);
    EXPECT_EQ(full.Device(), L"Sink 2");
    for (const auto& args : {std::vector<std::wstring>{L"play", L"x.wav", L"--volume", L"101"},
                             std::vector<std::wstring>{L"play", L"x.wav", L"--start", L"-1"},
                             std::vector<std::wstring>{L"play", L"x.wav", L"--device", L""}}) {
        CCommandLine commandLine;
        EXPECT_FALSE(commandLine.Parse(args)) << args[3].size();
        EXPECT_NE(commandLine.Error().find(L"(see quillmar play --help)"), std::wstring::npos);
    }
}

TEST(VolumeLevel, PercentOfTheAmplitudeInHundredthsOfADecibelAndBack)
{
    const struct {
        int percent;
        int hundredths;
    } table[] = {{100, 0}, {50, -602}, {10, -2000}, {1, -4000}, {0, -10000}};
    for (const auto& row : table) {
        EXPECT_EQ(CVolumeLevel::ToHundredthsDb(row.percent), row.hundredths) << row.percent;
        EXPECT_EQ(CVolumeLevel::ToPercent(row.hundredths), row.percent) << row.hundredths;
    }
    EXPECT_EQ(CVolumeLevel::ToPercent(-9999), 0);
}

TEST(KeyDecoder, ATerminalsArrowSequencesBecomeArrowKeysAndOtherBytesThemselves)
{
    CKeyDecoder decoder;
    std::wstring keys;
    for (unsigned char byte : std::string("\x1b[D\x1b[C\x1bOA\x1b[B \x1b[Zq\n")) {
        wchar_t key = 0;
        if (decoder.Feed(byte, key))
            keys += key;
    }
    EXPECT_EQ(keys, (std::wstring{kKeyLeft, kKeyRight, kKeyUp, kKeyDown, L' ', L'q', L'\r'}));
}

TEST(OutputDevices, AChoiceThatFitsNoneNamesTheOutputDevices)
{
    CAudioDevices list(DeviceKind::Output);
    list.Parse("@a\tSpeakers\n@b\tSecond Sink\n");
    std::wstring error;
    EXPECT_EQ(list.Choose(L"second", error), 1);
    EXPECT_EQ(list.Choose(L"hdmi", error), -1);
    EXPECT_EQ(error, L"--device \"hdmi\" names no output device; the output devices are: 1. Speakers, 2. Second Sink "
                     L"(see quillmar devices)");
}
