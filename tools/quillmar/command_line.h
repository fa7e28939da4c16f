// The command line of quillmar.exe: a verb and its arguments, checked before the library is touched.
#pragma once

#include <string>
#include <vector>

enum class Verb { Help, Record, Play, Version, Devices };

class CCommandLine {
public:
    // The wave format tags of the two named formats.
    static constexpr int kMp3Tag = 85;
    static constexpr int kPcmTag = 1;

    // Parses the arguments after the program name. False with Error() set for a usage error.
    bool Parse(const std::vector<std::wstring>& args);

    const std::wstring& Error() const { return m_error; }
    Verb GetVerb() const { return m_verb; }
    const std::wstring& Target() const { return m_target; }    // record: the file; play: the file or URL
    int FormatTag() const { return m_formatTag; }
    int SampleRate() const { return m_sampleRate; }
    int BitRate() const { return m_bitRate; }
    double Seconds() const { return m_seconds; }                // 0: until Enter or Ctrl+C

    // "mp3", "pcm", a decimal or 0x-hexadecimal number from 0 to 0xFFFF; -1 when not a format.
    static int ParseFormat(const std::wstring& text);
    static const wchar_t* Usage();

private:
    bool Fail(const std::wstring& message);
    bool ParseRecordOptions(const std::vector<std::wstring>& args, std::size_t first);

    std::wstring m_error;
    Verb m_verb = Verb::Help;
    std::wstring m_target;
    int m_formatTag = kMp3Tag;
    int m_sampleRate = 44100;
    int m_bitRate = 128000;
    double m_seconds = 0.0;
};
