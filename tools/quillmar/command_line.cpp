#include "quillmar/command_line.h"

#include <CLI/CLI.hpp>

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace {

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Extension(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return std::wstring();
    return Lower(path.substr(dot));
}

std::wstring List(const std::vector<int>& values)
{
    std::wstring text;
    for (int value : values)
        text += (text.empty() ? L"" : L", ") + std::to_wstring(value);
    return text;
}

constexpr const char* kDescription =
    "Records from an audio capture device (the default or the one you choose) and plays audio files, with\n"
    "Tessaro.dll.\n"
    "The library writes its logs Tessaro.log and MPEG2AudioEncoder.log into the current directory (or the\n"
    "temporary directory when that cannot be written), replacing those of the last run; --log-dir chooses\n"
    "another directory.";

}  // namespace

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr,
                              nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], chars);
    return wide;
}

const std::vector<int>& CCommandLine::SampleRates()
{
    static const std::vector<int> rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return rates;
}

std::vector<int> CCommandLine::Mp3BitRates(int sampleRate)
{
    static const int mpeg1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    std::vector<int> rates;
    for (int kbps : sampleRate >= 32000 ? mpeg1 : mpeg2)
        rates.push_back(kbps * 1000);
    return rates;
}

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
    return value >= 1 ? static_cast<int>(value) : -1;
}

bool CCommandLine::Fail(const std::wstring& message)
{
    m_error = message;
    return false;
}

bool CCommandLine::Parse(const std::vector<std::wstring>& args)
{
    CLI::App app(kDescription, "quillmar");
    // A path such as /recordings/memo.mp3 is a path: options are only -x and --name. Subcommands take this
    // from the app when they are added.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "", "Shows the versions of quillmar, Tessaro.dll and Drovane.tar");
    app.require_subcommand(0, 1);
    app.fallthrough();
    std::string logDirectory;
    app.add_flag("-q,--quiet", m_quiet, "No live status line and no banner; results and errors only");
    app.add_option("-L,--log-dir", logDirectory, "Runs in DIR, where the library then writes its logs; file names "
                                                 "stay relative to where quillmar was started")
        ->type_name("DIR");

    std::string target;
    std::string format;
    std::string bitRate;
    double seconds = 0.0;
    CLI::App* record = app.add_subcommand("record", "Records from the default (or the chosen) capture device into FILE.\n"
                                                    "Enter or q stops, as does Ctrl+C or the time limit.");
    record->add_option("file", target, "The file to write: .mp3 for MP3, .wav for a WAVE file; - for standard "
                                       "output (MP3 unless --format says otherwise; a WAVE stream's header says "
                                       "\"unknown length\")")->required();
    record->add_option("-f,--format", format,
                       "mp3, pcm, or a wave format tag (decimal or 0x hex) that a system audio compressor "
                       "produces (see quillmar devices); default: from the file's extension")
        ->type_name("FORMAT");
    record->add_option("-r,--rate", m_sampleRate, "Sample rate in Hz (mono 16-bit capture): " +
                                                                          ToUtf8(List(SampleRates())) + "; default 44100")
                            ->type_name("HZ");
    CLI::Option* bitRateOption =
        record->add_option("-b,--bitrate", bitRate, "MP3 bit rate in bit/s or kbit/s (128000 or 128k); default 128k")
            ->type_name("RATE");
    CLI::Option* channelsOption =
        record->add_option("-c,--channels", m_channels, "1 (mono, the default) or 2 (stereo: joint-stereo MP3, "
                                                        "two-channel WAVE)")
            ->type_name("1|2");
    CLI::Option* vbrOption =
        record->add_option("--vbr", m_vbrQuality, "MP3 at a variable bit rate of quality Q: 0 best ... 9 smallest "
                                                  "(instead of --bitrate)")
            ->type_name("Q")
            ->excludes(bitRateOption);
    CLI::Option* secondsOption = record->add_option("-s,--seconds", seconds, "Stops after this much recorded audio (at most 86400)")
        ->type_name("N");
    std::string device;
    CLI::Option* deviceOption =
        record->add_option("-d,--device", device, "The input device to record from: its number in quillmar devices, "
                                                  "or its name or a part of it that fits no other (case ignored); "
                                                  "default: the system's default device")
            ->type_name("N|NAME");

    CLI::App* play = app.add_subcommand("play", "Plays FILE or URL. Space pauses and resumes; left and right arrows seek "
                                                "5 s back and on, up and down arrows change the volume by 10 %; q, "
                                                "Enter or Ctrl+C stops.");
    play->add_option("source", target, "A file or URL")->required();
    double start = 0.0;
    CLI::Option* startOption =
        play->add_option("--start", start, "Starts playing at this many seconds from the beginning")->type_name("SECONDS");
    int volume = -1;
    CLI::Option* volumeOption =
        play->add_option("--volume", volume, "The volume in percent of the full amplitude (50: half, -6 dB); "
                                             "default 100")
            ->type_name("0..100");
    std::string outputDevice;
    CLI::Option* outputDeviceOption =
        play->add_option("-d,--device", outputDevice, "The output device to play on: its number in quillmar devices, "
                                                      "or its name or a part of it that fits no other (case ignored); "
                                                      "default: the system's default device")
            ->type_name("N|NAME");
    CLI::App* version = app.add_subcommand("version", "Shows the versions of quillmar, Tessaro.dll and Drovane.tar");
    CLI::App* devices = app.add_subcommand("devices", "Lists the audio input and output devices and, for each wave "
                                                      "format tag, the compressor that records it");

    std::vector<std::string> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(ToUtf8(*it));
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        m_verb = Verb::Help;
        m_help = FromUtf8(app.help());
        return true;
    } catch (const CLI::CallForAllHelp&) {
        m_verb = Verb::Help;
        m_help = FromUtf8(app.help("", CLI::AppFormatMode::All));
        return true;
    } catch (const CLI::CallForVersion&) {
        m_verb = Verb::Version;
        return true;
    } catch (const CLI::ParseError& e) {
        std::wstring message = FromUtf8(e.what());
        std::replace(message.begin(), message.end(), L'\n', L' ');
        const std::wstring where = record->parsed() ? L"quillmar record --help"
                                   : play->parsed() ? L"quillmar play --help"
                                                    : L"quillmar --help";
        return Fail(message + L" (see " + where + L")");
    }
    m_logDirectory = FromUtf8(logDirectory);
    m_target = FromUtf8(target);
    if (record->parsed()) {
        m_verb = Verb::Record;
        m_seconds = seconds;
        if (secondsOption->count() > 0 && !(seconds > 0.0 && seconds <= 86400.0))
            return Fail(L"--seconds must be above 0 and at most 86400 (see quillmar record --help)");
        m_device = FromUtf8(device);
        if (deviceOption->count() > 0 && m_device.empty())
            return Fail(L"--device needs a device number or name (see quillmar record --help)");
        if (channelsOption->count() > 0 && m_channels != 1 && m_channels != 2)
            return Fail(L"--channels must be 1 or 2, got " + std::to_wstring(m_channels) + L" (see quillmar record --help)");
        if (vbrOption->count() > 0 && (m_vbrQuality < 0 || m_vbrQuality > 9))
            return Fail(L"--vbr must be 0 (best) to 9 (smallest), got " + std::to_wstring(m_vbrQuality) +
                        L" (see quillmar record --help)");
        if (!CheckRecord(format, bitRate))
            return false;
        if (vbrOption->count() > 0 && m_formatTag != kMp3Tag)
            return Fail(L"--vbr applies to MP3 only (see quillmar record --help)");
        return true;
    }
    if (play->parsed()) {
        m_verb = Verb::Play;
        const std::wstring hint = L" (see quillmar play --help)";
        if (startOption->count() > 0 && !(start >= 0.0 && start <= 86400.0 * 365))
            return Fail(L"--start must be 0 or more seconds" + hint);
        m_startSeconds = start;
        if (volumeOption->count() > 0 && !(volume >= 0 && volume <= 100))
            return Fail(L"--volume must be from 0 to 100 (percent)" + hint);
        m_volumePercent = volumeOption->count() > 0 ? volume : -1;
        m_device = FromUtf8(outputDevice);
        if (outputDeviceOption->count() > 0 && m_device.empty())
            return Fail(L"--device needs a device number or name" + hint);
        return m_target.empty() ? Fail(L"play needs a file or URL" + hint) : true;
    }
    if (version->parsed()) {
        m_verb = Verb::Version;
        return true;
    }
    if (devices->parsed()) {
        m_verb = Verb::Devices;
        return true;
    }
    return Fail(L"no command given: record, play, version or devices (see quillmar --help)");
}

bool CCommandLine::CheckRecord(const std::string& format, const std::string& bitRate)
{
    const std::wstring hint = L" (see quillmar record --help)";
    if (m_target.empty())
        return Fail(L"the file name is empty" + hint);
    const std::wstring extension = ToStandardOutput() ? std::wstring() : Extension(m_target);
    if (format.empty()) {
        if (ToStandardOutput())
            m_formatTag = kMp3Tag;
        else if (extension == L".mp3")
            m_formatTag = kMp3Tag;
        else if (extension == L".wav")
            m_formatTag = kPcmTag;
        else
            return Fail(L"cannot tell the format of \"" + m_target +
                        L"\" from its extension: name it .mp3 or .wav, or give --format" + hint);
    } else {
        m_formatTag = ParseFormat(FromUtf8(format));
        if (m_formatTag < 0)
            return Fail(L"--format must be mp3, pcm or a wave format tag from 1 to 0xFFFF, got \"" + FromUtf8(format) +
                        L"\"" + hint);
        if (m_formatTag == kMp3Tag ? extension == L".wav" : extension == L".mp3")
            return Fail(L"\"" + m_target + L"\" is named " + extension + L" but --format " + FromUtf8(format) +
                        L" writes " + (m_formatTag == kMp3Tag ? L"MP3" : L"a WAVE file") + L": rename it or drop --format" +
                        hint);
    }
    const std::vector<int>& rates = SampleRates();
    if (std::find(rates.begin(), rates.end(), m_sampleRate) == rates.end())
        return Fail(L"--rate " + std::to_wstring(m_sampleRate) + L" Hz is not supported; use one of " + List(rates) +
                    L" Hz" + hint);
    if (!bitRate.empty()) {
        if (m_formatTag != kMp3Tag)
            return Fail(L"--bitrate applies to MP3 only; a WAVE file's size follows from its format" + hint);
        std::string digits = bitRate;
        long scale = 1;
        if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) {
            digits.pop_back();
            scale = 1000;
        }
        long value = -1;
        if (!digits.empty() && digits.size() <= 7 && digits.find_first_not_of("0123456789") == std::string::npos)
            value = std::stol(digits) * scale;
        const std::vector<int> allowed = Mp3BitRates(m_sampleRate);
        if (std::find(allowed.begin(), allowed.end(), value) == allowed.end())
            return Fail(L"--bitrate " + FromUtf8(bitRate) + L" is not an MP3 bit rate at " +
                        std::to_wstring(m_sampleRate) + L" Hz; use one of " + List(allowed) + L" bit/s" + hint);
        m_bitRate = static_cast<int>(value);
    }
    return true;
}
