// The command line of quillmar.exe: a command and its options, parsed with CLI11 and checked against
// what the library really takes before the library is touched.
#pragma once

#include <string>
#include <vector>

enum class Verb { Help, Record, Play, Version, Devices };

class CCommandLine {
public:
    // The wave format tags of the two named formats.
    static constexpr int kMp3Tag = 85;
    static constexpr int kPcmTag = 1;

    // Parses the arguments after the program name. False with Error() set to one line for a usage
    // error; Verb::Help with HelpText() for --help (of the program or of a command).
    bool Parse(const std::vector<std::wstring>& args);

    const std::wstring& Error() const { return m_error; }
    const std::wstring& HelpText() const { return m_help; }
    Verb GetVerb() const { return m_verb; }
    const std::wstring& Target() const { return m_target; }    // record: the file; play: the file or URL
    void SetTarget(const std::wstring& target) { m_target = target; }
    int FormatTag() const { return m_formatTag; }
    int SampleRate() const { return m_sampleRate; }
    int BitRate() const { return m_bitRate; }
    double Seconds() const { return m_seconds; }                // 0: until Enter, q or Ctrl+C
    bool Quiet() const { return m_quiet; }                      // -q: no live status line, no banner
    const std::wstring& LogDirectory() const { return m_logDirectory; }  // empty: the current directory
    const std::wstring& Device() const { return m_device; }     // record/play --device: empty for the default
    double StartSeconds() const { return m_startSeconds; }      // play --start: 0 from the beginning
    int VolumePercent() const { return m_volumePercent; }       // play --volume 0..100; -1 when not given
    // record -: the recording goes to standard output (no file), MP3 unless --format says otherwise.
    bool ToStandardOutput() const { return m_target == kStandardOutput; }
    int Channels() const { return m_channels; }                 // record --channels: 1 or 2
    int VbrQuality() const { return m_vbrQuality; }             // record --vbr: 0 to 9; -1 for a constant bit rate

    // The target that names standard output.
    static constexpr const wchar_t* kStandardOutput = L"-";

    // "mp3", "pcm", a decimal or 0x-hexadecimal number from 1 to 0xFFFF; -1 when not a format.
    static int ParseFormat(const std::wstring& text);
    // The MP3 bit rates in bit/s that the encoder takes at a sample rate (the Layer III table).
    static std::vector<int> Mp3BitRates(int sampleRate);
    // The sample rates in Hz that the capture device and the encoder take.
    static const std::vector<int>& SampleRates();

private:
    bool Fail(const std::wstring& message);
    bool CheckRecord(const std::string& format, const std::string& bitRate);

    std::wstring m_error;
    std::wstring m_help;
    Verb m_verb = Verb::Help;
    std::wstring m_target;
    int m_formatTag = kMp3Tag;
    int m_sampleRate = 44100;
    int m_bitRate = 128000;
    double m_seconds = 0.0;
    bool m_quiet = false;
    std::wstring m_logDirectory;
    std::wstring m_device;
    double m_startSeconds = 0.0;
    int m_volumePercent = -1;
    int m_channels = 1;
    int m_vbrQuality = -1;
};

// UTF-8 and UTF-16 conversions: for the parser's narrow strings, and the UTF-8 paths the natives take
// (as Java's String.getBytes(UTF_8) gives them).
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
