// quillmar record: records from the default capture device (or the one --device chooses) with a live
// input level. The time recorded is the recording's position (getCurrentPosition: the buffers its
// capture path measured), read five times a second and, near a time limit, at the moment the limit is
// due; not the count of "InputLevel" calls, which the library merges when its delivery falls behind. What
// the capture device lost (its gaps when its thread fell behind) is asked at the same rate, shown on the
// status line once there is any, and ends the summary line. After the stop the library's end record
// tells whether the recording had ended by itself (a failure, a lost device) before or while it stopped.
// With "-" for the file the recording goes to standard output instead (see stream_output.h) and the
// summary to stderr.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/audio_devices.h"
#include "quillmar/library_session.h"
#include "quillmar/media_length.h"
#include "quillmar/result_codes.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/stream_output.h"
#include "quillmar/user_input.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace {

// How often the position and the audio lost are read (and the status line drawn at most).
constexpr double kPollSeconds = 0.2;
// The stream to standard output: what may wait for a slow reader (over 40 s of 48 kHz stereo PCM), and
// how long the tail after the stop may take to be handed over and written.
constexpr std::size_t kStreamBudgetBytes = 8u << 20;
constexpr unsigned kStreamTailMs = 10000;

// The audio lost as the status line and the summary say it; empty when the library cannot tell.
std::wstring DroppedText(CQuillmarLibrary& library)
{
    unsigned long gaps = 0;
    double missing = 0.0;
    const HRESULT hr = library.GetDroppedAudio(gaps, missing);
    if (FAILED(hr))
        return std::wstring();
    return CStatusText::DroppedAudio(gaps, missing, hr == S_OK);
}

double SecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring FormatDescription(const CCommandLine& commandLine)
{
    wchar_t text[160];
    const wchar_t* layout = commandLine.Channels() == 2 ? L"stereo" : L"mono";
    if (commandLine.FormatTag() == CCommandLine::kMp3Tag && commandLine.VbrQuality() >= 0)
        std::swprintf(text, 160, L"MP3 at a variable bit rate of quality %d, %d Hz %ls", commandLine.VbrQuality(),
                      commandLine.SampleRate(), layout);
    else if (commandLine.FormatTag() == CCommandLine::kMp3Tag)
        std::swprintf(text, 160, L"MP3 at %d kbit/s, %d Hz %ls", commandLine.BitRate() / 1000, commandLine.SampleRate(),
                      layout);
    else if (commandLine.FormatTag() == CCommandLine::kPcmTag)
        std::swprintf(text, 160, L"PCM WAVE, 16-bit, %d Hz %ls", commandLine.SampleRate(), layout);
    else
        std::swprintf(text, 160, L"WAVE with format tag 0x%04X, from %d Hz %ls",
                      static_cast<unsigned>(commandLine.FormatTag()), commandLine.SampleRate(), layout);
    return text;
}

// What the stream to standard output lost: the library's drops and the tool's own (a slow reader).
std::wstring StreamLossText(CQuillmarLibrary& library, const CStreamOutput& output)
{
    unsigned long chunks = 0;
    double bytes = 0.0;
    double seconds = 0.0;
    if (FAILED(library.GetStreamLoss(chunks, bytes, seconds)))
        return L"stream loss not known";
    chunks += output.DroppedChunks();
    const unsigned long long total = static_cast<unsigned long long>(bytes + 0.5) + output.DroppedBytes();
    if (chunks == 0)
        return L"stream complete";
    wchar_t text[120];
    std::swprintf(text, 120, L"stream lost %lu %ls (%llu bytes)", chunks, chunks == 1 ? L"chunk" : L"chunks", total);
    return text;
}

}  // namespace

int RunRecord(const CCommandLine& commandLine)
{
    // Made before the session, so that it outlives the library's last call into it (freeLibrary).
    std::unique_ptr<CStreamOutput> output;
    if (commandLine.ToStandardOutput()) {
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
        output = std::make_unique<CStreamOutput>(::GetStdHandle(STD_OUTPUT_HANDLE), kStreamBudgetBytes);
    }
    CLibrarySession session;
    if (const int status = session.Open(true))
        return status;
    CQuillmarLibrary& library = session.Library();
    const std::wstring& path = commandLine.Target();
    const std::wstring shownPath = output ? L"standard output" : path;
    session.SetStreamOutput(output.get());

    AudioDevice device;
    if (!commandLine.Device().empty()) {
        if (const int status = ChooseDevice(library, DeviceKind::Input, commandLine.Device(), device))
            return status;
    }

    CUserInput input(session.Events());
    HRESULT hr;
    if (output || commandLine.Channels() != 1 || commandLine.VbrQuality() >= 0)
        hr = library.RecordWithOptions(ToUtf8(device.id), output ? std::string() : ToUtf8(path),
                                       {commandLine.FormatTag(), commandLine.SampleRate(), commandLine.Channels(),
                                        commandLine.BitRate(), commandLine.VbrQuality(), output ? 1 : 0});
    else
        hr = device.id.empty() ? library.Record(ToUtf8(path), commandLine.FormatTag(), commandLine.SampleRate(),
                                                commandLine.BitRate())
                               : library.RecordFromDevice(ToUtf8(device.id), ToUtf8(path), commandLine.FormatTag(),
                                                          commandLine.SampleRate(), commandLine.BitRate());
    if (FAILED(hr)) {
        // A graph built before the failure stays held until a stop releases it.
        library.Stop();
        return CLibrarySession::ReportFailure(L"record \"" + shownPath + L"\"", hr);
    }
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);

    wchar_t limit[80] = L"Enter or q stops (or Ctrl+C)";
    if (commandLine.Seconds() > 0)
        std::swprintf(limit, 80, L"stops after %g s, or on Enter, q or Ctrl+C", commandLine.Seconds());
    CConsole console(commandLine.Quiet());
    console.Note(L"Recording to " + shownPath + L"\n  " + (device.id.empty() ? L"" : L"from " + device.name + L", ") +
                 FormatDescription(commandLine) + L"; " + limit + L".\n");

    CInterruptHook hook;
    console.Status(CStatusText::LevelBar(0.0, 0.0));
    std::wstring why = L"time limit";
    const std::wstring operation = L"record \"" + shownPath + L"\"";
    EndReport report;
    bool ended = false;        // the library ended the stream (its "Stopped" was taken)
    int stoppedValue = 0;
    std::wstring lost;         // the live status's note of the audio lost; empty while none was
    double position = 0.0;     // the capture graph's position at its last reading
    LARGE_INTEGER readAt = start;
    double level = 0.0;
    const double limitSeconds = commandLine.Seconds();
    const auto readPosition = [&] {
        double now = 0.0;
        if (SUCCEEDED(library.GetCurrentPosition(now)) && now > position)
            position = now;
        ::QueryPerformanceCounter(&readAt);
    };
    for (bool running = true; running;) {
        // The position is read every kPollSeconds, and again when the limit is due by the last reading.
        const double sinceRead = SecondsSince(readAt);
        const bool due = limitSeconds > 0 && position + sinceRead >= limitSeconds;
        if (sinceRead >= kPollSeconds || due) {
            readPosition();
            if (limitSeconds > 0 && position >= limitSeconds)
                break;
            const std::wstring dropped = DroppedText(library);
            if (!dropped.empty() && dropped != CStatusText::DroppedAudio(0, 0.0, true))
                lost = L"  " + dropped;
            console.Status(CStatusText::LevelBar(level, position) + lost);
            hook.StatusDrawn();
        }
        // Against a device that delivers nothing: give up once twice the time has passed.
        if (limitSeconds > 0 && SecondsSince(start) > 2.0 * limitSeconds + 2.0) {
            why = L"the capture device delivered too little audio in time";
            report = CStreamEndReport::Failure(operation, L"the capture device delivered too little audio");
            break;
        }
        // A reader of standard output that went away ends the recording, as any failed write does.
        if (output && FAILED(output->WriteFailure())) {
            why = L"standard output closed";
            report = CStreamEndReport::Failure(operation, L"writing to standard output failed: " +
                                                              CResultCodes::Describe(output->WriteFailure()));
            break;
        }
        unsigned wait = 100;
        if (limitSeconds > 0) {
            const double left = limitSeconds - position - SecondsSince(readAt);
            wait = left <= 0.0 ? 0u : left < 0.1 ? static_cast<unsigned>(left * 1000.0) + 1u : 100u;
        }
        QueuedEvent event;
        if (!session.Events().Take(event, wait))
            continue;
        switch (event.kind) {
        case EventKind::Level:
            level = event.level;
            break;
        case EventKind::Key:
            if (event.key == L'\r' || event.key == L'q' || event.key == L'Q') {
                why = event.key == L'\r' ? L"Enter" : L"q";
                running = false;
            }
            break;
        case EventKind::Interrupt:
            why = L"Ctrl+C";
            running = false;
            break;
        case EventKind::Stopped:
            ended = true;
            stoppedValue = event.reason;
            running = false;
            break;
        }
    }
    console.EndStatus();
    int stream = 0;
    library.GetStreamNumber(stream);
    readPosition();

    hr = library.Stop();
    // The end record, read after the stop: an end that was still queued here, or that the stop dropped
    // before it was delivered, is told as well as one taken in the loop. A failure is never a normal stop.
    StreamEnd end;
    if (session.RecordedEnd(stream, end)) {
        const EndReport endReport = CStreamEndReport::ForEnd(operation, true, end);
        if (endReport.exitStatus != 0 || ended) {
            report = endReport;
            why = report.exitStatus == 0 ? L"ended by the library"
                  : end.eventCode == StreamEnd::kDeviceLost ? L"capture device lost"
                                                             : L"aborted by an error";
        }
    } else if (ended) {
        report = CStreamEndReport::ForEnd(operation, true, session.EndOf(stoppedValue));
        why = L"ended by the library";
    }
    if (FAILED(hr) && report.exitStatus == 0)
        return CLibrarySession::ReportFailure(L"stop", hr);
    if (output) {
        // The encoder's tail comes after the stop; the stream's end (a null chunk) follows it.
        const bool written = output->WaitWritten(kStreamTailMs);
        const std::wstring dropped = DroppedText(library);
        wchar_t summary[200];
        std::swprintf(summary, 200, L"Recorded %.2f s (stopped: %ls). Standard output got %llu bytes: ",
                      position, why.c_str(),
                      static_cast<unsigned long long>(output->BytesWritten()));
        CConsole::Err(summary + FormatDescription(commandLine) + L"; " +
                      (dropped.empty() ? L"audio lost not known" : dropped) + L"; " + StreamLossText(library, *output) +
                      L"\n");
        if (!written && report.exitStatus == 0)
            report = CStreamEndReport::Failure(
                operation, FAILED(output->WriteFailure())
                               ? L"writing to standard output failed: " + CResultCodes::Describe(output->WriteFailure())
                           : output->Ended() ? L"standard output did not take the stream's tail in time"
                                             : L"the stream's end did not come in time");
        if (FAILED(hr))
            CLibrarySession::ReportFailure(L"stop", hr);
        return report.exitStatus != 0 ? CLibrarySession::Report(report) : FAILED(hr) ? 1 : 0;
    }
    // Read after the stop: the library keeps the counts of the recording it freed.
    std::wstring dropped = DroppedText(library);
    if (dropped.empty())
        dropped = L"audio lost not known";
    const double held = CMediaLength::Seconds(path);
    wchar_t summary[200];
    if (held >= 0)
        std::swprintf(summary, 200, L"Recorded %.2f s (stopped: %ls). The file holds %.2f s, %lld bytes: ",
                      position, why.c_str(), held, FileSize(path));
    else
        std::swprintf(summary, 200, L"Recorded %.2f s (stopped: %ls). The file's length could not be read, %lld bytes: ",
                      position, why.c_str(), FileSize(path));
    // The summary says what the file holds, also after a failure (it is valid up to there); the failure
    // is the one line on stderr.
    CConsole::Out(summary + path + L"; " + dropped + L"\n");
    if (FAILED(hr))
        CLibrarySession::ReportFailure(L"stop", hr);
    return report.exitStatus != 0 ? CLibrarySession::Report(report) : FAILED(hr) ? 1 : 0;
}
