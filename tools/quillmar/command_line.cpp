#include "quillmar/command_line.h"

#include <cerrno>
#include <cmath>
#include <cwchar>

namespace {

// A whole decimal number from 1 to max; -1 otherwise.
long ParsePositive(const std::wstring& text, long max)
{
    if (text.empty() || text.size() > 9)
        return -1;
    long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return -1;
        value = value * 10 + (c - L'0');
    }
    return value >= 1 && value <= max ? value : -1;
}

}  // namespace

int CCommandLine::ParseFormat(const std::wstring& text)
{
    if (text == L"mp3")
        return kMp3Tag;
    if (text == L"pcm")
        return kPcmTag;
    if (text.empty())
        return -1;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    long value = 0;
    for (std::size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        int digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (hex && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (hex && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return -1;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0xFFFF)
            return -1;
    }
    return static_cast<int>(value);
}

bool CCommandLine::Fail(const std::wstring& message)
{
    m_error = message;
    return false;
}

bool CCommandLine::Parse(const std::vector<std::wstring>& args)
{
    if (args.empty())
        return Fail(L"no command given");
    const std::wstring& verb = args[0];
    if (verb == L"help" || verb == L"-h" || verb == L"--help" || verb == L"/?") {
        m_verb = Verb::Help;
        return true;
    }
    if (verb == L"version" || verb == L"devices") {
        m_verb = verb == L"version" ? Verb::Version : Verb::Devices;
        if (args.size() > 1)
            return Fail(verb + L" takes no arguments, got \"" + args[1] + L"\"");
        return true;
    }
    if (verb == L"play") {
        m_verb = Verb::Play;
        if (args.size() < 2 || args[1].empty())
            return Fail(L"play needs a file or URL");
        if (args.size() > 2)
            return Fail(L"play takes one file or URL, got also \"" + args[2] + L"\"");
        m_target = args[1];
        return true;
    }
    if (verb == L"record") {
        m_verb = Verb::Record;
        return ParseRecordOptions(args, 1);
    }
    return Fail(L"unknown command \"" + verb + L"\"");
}

bool CCommandLine::ParseRecordOptions(const std::vector<std::wstring>& args, std::size_t first)
{
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) {
            if (i + 1 >= args.size())
                return Fail(arg + L" needs a value");
            const std::wstring& value = args[++i];
            if (arg == L"--format") {
                m_formatTag = ParseFormat(value);
                if (m_formatTag < 0)
                    return Fail(L"--format must be mp3, pcm or a format tag from 0 to 0xFFFF, got \"" + value + L"\"");
            } else if (arg == L"--rate") {
                m_sampleRate = static_cast<int>(ParsePositive(value, 384000));
                if (m_sampleRate < 0)
                    return Fail(L"--rate must be a sample rate in Hz from 1 to 384000, got \"" + value + L"\"");
            } else if (arg == L"--bitrate") {
                m_bitRate = static_cast<int>(ParsePositive(value, 320000));
                if (m_bitRate < 0)
                    return Fail(L"--bitrate must be a bit rate in bits per second from 1 to 320000, got \"" + value + L"\"");
            } else if (arg == L"--seconds") {
                wchar_t* end = nullptr;
                errno = 0;
                const double seconds = std::wcstod(value.c_str(), &end);
                if (value.empty() || *end != L'\0' || errno != 0 || !(seconds > 0.0) || seconds > 86400.0)
                    return Fail(L"--seconds must be a number of seconds above 0 (at most 86400), got \"" + value + L"\"");
                m_seconds = seconds;
            } else {
                return Fail(L"unknown option " + arg);
            }
        } else if (m_target.empty() && !arg.empty()) {
            m_target = arg;
        } else {
            return Fail(arg.empty() ? L"the file name is empty" : L"record takes one file, got also \"" + arg + L"\"");
        }
    }
    if (m_target.empty())
        return Fail(L"record needs a file to write");
    return true;
}

const wchar_t* CCommandLine::Usage()
{
    return L"usage: quillmar COMMAND [ARGUMENTS]\n"
           L"\n"
           L"  record FILE [--format mp3|pcm|TAG] [--rate HZ] [--bitrate BPS] [--seconds N]\n"
           L"      Records from the default capture device into FILE (MP3 by default, 44100 Hz mono,\n"
           L"      128000 bit/s) with a live input level; stops after N seconds, on Enter or on Ctrl+C.\n"
           L"      TAG is a wave format tag (decimal or 0x hex) written as a WAVE file through the\n"
           L"      system's audio compressor for it; pcm is tag 1, mp3 is tag 85.\n"
           L"  play FILE|URL\n"
           L"      Plays with a progress line; space pauses and resumes, q or Ctrl+C stops.\n"
           L"  version\n"
           L"      Shows getVersion and the file version of Tessaro.dll.\n"
           L"  devices\n"
           L"      Lists the audio input devices (the first one records) and the audio compressors.\n"
           L"\n"
           L"Exit status: 0 done, 1 the library or the system failed (the result code is shown), 2 usage.\n";
}
