// quillmar record: records from the default capture device (or the one --device chooses) with a live
// input level. The time recorded is counted in the capture device's 40 ms buffers (one "InputLevel" call
// each), not by the wall clock, so that a time limit gives a file that holds that much audio (within one
// buffer). What the capture device lost (its gaps when its thread fell behind) is asked every few
// buffers, shown on the status line once there is any, and ends the summary line.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/input_devices.h"
#include "quillmar/library_session.h"
#include "quillmar/media_length.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/user_input.h"

#include <windows.h>

#include <cmath>
#include <cwchar>

namespace {

// The length of one capture buffer: the library asks the device for sample rate / 25 samples.
constexpr double kBufferSeconds = 0.04;
// How often the live status asks for the audio lost: every fifth buffer (0.2 s).
constexpr unsigned long kDroppedPollBuffers = 5;

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
    if (commandLine.FormatTag() == CCommandLine::kMp3Tag)
        std::swprintf(text, 160, L"MP3 at %d kbit/s, %d Hz mono", commandLine.BitRate() / 1000, commandLine.SampleRate());
    else if (commandLine.FormatTag() == CCommandLine::kPcmTag)
        std::swprintf(text, 160, L"PCM WAVE, 16-bit, %d Hz mono", commandLine.SampleRate());
    else
        std::swprintf(text, 160, L"WAVE with format tag 0x%04X, from %d Hz mono",
                      static_cast<unsigned>(commandLine.FormatTag()), commandLine.SampleRate());
    return text;
}

}  // namespace

int RunRecord(const CCommandLine& commandLine)
{
    CLibrarySession session;
    if (const int status = session.Open(true))
        return status;
    CQuillmarLibrary& library = session.Library();
    const std::wstring& path = commandLine.Target();

    InputDevice device;
    if (!commandLine.Device().empty()) {
        if (const int status = ChooseDevice(library, DeviceKind::Input, commandLine.Device(), device))
            return status;
    }

    CUserInput input(session.Events());
    HRESULT hr = device.id.empty()
                     ? library.Record(ToUtf8(path), commandLine.FormatTag(), commandLine.SampleRate(),
                                      commandLine.BitRate())
                     : library.RecordFromDevice(ToUtf8(device.id), ToUtf8(path), commandLine.FormatTag(),
                                                commandLine.SampleRate(), commandLine.BitRate());
    if (FAILED(hr)) {
        // A graph built before the failure stays held until a stop releases it.
        library.Stop();
        return CLibrarySession::ReportFailure(L"record \"" + path + L"\"", hr);
    }
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);

    wchar_t limit[80] = L"Enter or q stops (or Ctrl+C)";
    if (commandLine.Seconds() > 0)
        std::swprintf(limit, 80, L"stops after %g s, or on Enter, q or Ctrl+C", commandLine.Seconds());
    CConsole console(commandLine.Quiet());
    console.Note(L"Recording to " + path + L"\n  " + (device.id.empty() ? L"" : L"from " + device.name + L", ") +
                 FormatDescription(commandLine) + L"; " + limit + L".\n");

    CInterruptHook hook;
    console.Status(CStatusText::LevelBar(0.0, 0.0));
    std::wstring why = L"time limit";
    const std::wstring operation = L"record \"" + path + L"\"";
    EndReport report;
    std::wstring lost;  // the live status's note of the audio lost; empty while none was
    const unsigned long wanted =
        commandLine.Seconds() > 0 ? static_cast<unsigned long>(std::ceil(commandLine.Seconds() / kBufferSeconds - 1e-9)) : 0;
    for (bool running = true; running;) {
        const unsigned long buffers = session.Events().LevelsPosted();
        if (wanted != 0 && buffers >= wanted)
            break;
        // Against a device that delivers nothing: give up once twice the time has passed.
        if (wanted != 0 && SecondsSince(start) > 2.0 * commandLine.Seconds() + 2.0) {
            why = L"the capture device delivered too little audio in time";
            report = CStreamEndReport::Failure(operation, L"the capture device delivered too little audio");
            break;
        }
        QueuedEvent event;
        if (!session.Events().Take(event, 100))
            continue;
        switch (event.kind) {
        case EventKind::Level: {
            const unsigned long posted = session.Events().LevelsPosted();
            if (posted % kDroppedPollBuffers == 0) {
                const std::wstring dropped = DroppedText(library);
                if (!dropped.empty() && dropped != CStatusText::DroppedAudio(0, 0.0, true))
                    lost = L"  " + dropped;
            }
            console.Status(CStatusText::LevelBar(event.level, posted * kBufferSeconds) + lost);
            hook.StatusDrawn();
            break;
        }
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
        case EventKind::Stopped: {
            const StreamEnd end = session.EndOf(event.reason);
            report = CStreamEndReport::ForEnd(operation, true, end);
            why = !end.causeKnown || report.exitStatus == 0 ? L"ended by the library"
                  : end.eventCode == StreamEnd::kDeviceLost ? L"capture device lost"
                                                             : L"aborted by an error";
            running = false;
            break;
        }
        }
    }
    const unsigned long buffers = session.Events().LevelsPosted();
    console.EndStatus();

    hr = library.Stop();
    if (FAILED(hr) && report.exitStatus == 0)
        return CLibrarySession::ReportFailure(L"stop", hr);
    // Read after the stop: the library keeps the counts of the recording it freed.
    std::wstring dropped = DroppedText(library);
    if (dropped.empty())
        dropped = L"audio lost not known";
    const double held = CMediaLength::Seconds(path);
    wchar_t summary[200];
    if (held >= 0)
        std::swprintf(summary, 200, L"Recorded %.2f s in %lu buffers (stopped: %ls). The file holds %.2f s, %lld bytes: ",
                      buffers * kBufferSeconds, buffers, why.c_str(), held, FileSize(path));
    else
        std::swprintf(summary, 200, L"Recorded %.2f s in %lu buffers (stopped: %ls). The file's length could not be read, %lld bytes: ",
                      buffers * kBufferSeconds, buffers, why.c_str(), FileSize(path));
    // The summary says what the file holds, also after a failure (it is valid up to there); the failure
    // is the one line on stderr.
    CConsole::Out(summary + path + L"; " + dropped + L"\n");
    if (FAILED(hr))
        CLibrarySession::ReportFailure(L"stop", hr);
    return report.exitStatus != 0 ? CLibrarySession::Report(report) : FAILED(hr) ? 1 : 0;
}
