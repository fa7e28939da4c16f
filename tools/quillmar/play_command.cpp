// quillmar play: plays a file or URL (on the default or the chosen output device, from a start position,
// at a volume) with a progress line; space pauses, the arrows seek and change the volume, q or Ctrl+C stops.
#include "quillmar/commands.h"

#include "quillmar/audio_devices.h"
#include "quillmar/console.h"
#include "quillmar/library_session.h"
#include "quillmar/media_length.h"
#include "quillmar/result_codes.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/user_input.h"
#include "quillmar/volume_level.h"

#include <vfwmsgs.h>

#include <algorithm>

namespace {

constexpr double kSeekStep = 5.0;   // seconds, left and right arrows
constexpr int kVolumeStep = 10;     // percent, up and down arrows

// Moves the playback to `seconds` without playing anything of the old place meanwhile: paused while
// it moves, then running again unless it was paused.
HRESULT MoveTo(CQuillmarLibrary& library, double seconds, bool paused)
{
    bool state = paused;
    HRESULT hr = paused ? S_OK : library.Pause(state);
    if (FAILED(hr))
        return hr;
    hr = library.SetPosition(seconds);
    if (!paused) {
        const HRESULT resumed = library.Pause(state);
        if (SUCCEEDED(hr))
            hr = resumed;
    }
    return hr;
}

}  // namespace

int RunPlay(const CCommandLine& commandLine)
{
    CLibrarySession session;
    if (const int status = session.Open(true))
        return status;
    CQuillmarLibrary& library = session.Library();
    const std::wstring& source = commandLine.Target();
    const bool url = source.find(L"://") != std::wstring::npos;
    AudioDevice device;
    if (!commandLine.Device().empty()) {
        if (const int status = ChooseDevice(library, DeviceKind::Output, commandLine.Device(), device))
            return status;
    }

    CUserInput input(session.Events());
    HRESULT hr = device.id.empty() ? library.Play(ToUtf8(source), 0)
                                   : library.PlayOnDevice(ToUtf8(device.id), ToUtf8(source), 0);
    if (FAILED(hr)) {
        // A graph built before the failure stays held until a stop releases it.
        library.Stop();
        // Say what is wrong with a local file that exists but holds no audio the library writes.
        if (!url && FileSize(source) >= 0 && CMediaLength::Seconds(source) < 0 &&
            (hr == VFW_E_CANNOT_RENDER || hr == VFW_E_UNKNOWN_FILE_TYPE || hr == VFW_E_UNSUPPORTED_STREAM ||
             hr == VFW_E_INVALID_FILE_FORMAT))
            return CLibrarySession::ReportFailure(L"play \"" + source + L"\" (not a WAVE or MP3 file)", hr);
        return CLibrarySession::ReportFailure(L"play \"" + source + L"\"", hr);
    }
    double duration = 0.0;
    library.GetDuration(duration);
    // The volume asked for, then the start: both before the first sound of the file is heard.
    int volume = -1;    // percent; -1 when the playback has no volume control
    if (commandLine.VolumePercent() >= 0) {
        hr = library.SetVolume(CVolumeLevel::ToHundredthsDb(commandLine.VolumePercent()));
        if (FAILED(hr)) {
            library.Stop();
            return CLibrarySession::ReportFailure(L"setting the volume of \"" + source + L"\"", hr);
        }
    }
    int hundredths = 0;
    if (SUCCEEDED(library.GetVolume(hundredths)))
        volume = CVolumeLevel::ToPercent(hundredths);
    const double start = commandLine.StartSeconds();
    if (start > 0.0) {
        if (duration > 0.0 && start > duration) {
            library.Stop();
            CConsole::Err(L"quillmar: --start " + CStatusText::Time(start) + L" is past the end of \"" + source +
                          L"\" (" + CStatusText::Time(duration) + L") (see quillmar play --help)\n");
            return 2;
        }
        hr = MoveTo(library, start, false);
        if (FAILED(hr)) {
            library.Stop();
            return CLibrarySession::ReportFailure(L"play \"" + source + L"\" from " + CStatusText::Time(start), hr);
        }
    }
    CConsole console(commandLine.Quiet());
    console.Note(L"Playing " + source + L" (" + CStatusText::Time(duration) + L")" +
                 (device.id.empty() ? L"" : L" on " + device.name) +
                 (start > 0.0 ? L" from " + CStatusText::Time(start) : L"") +
                 L"; space pauses and resumes, left/right seek 5 s, up/down change the volume, q or Enter stops "
                 L"(or Ctrl+C).\n");

    CInterruptHook hook;
    bool paused = false;
    bool ended = false;
    double position = start;
    HRESULT failure = S_OK;
    StreamEnd end;
    for (bool running = true; running;) {
        if (SUCCEEDED(library.GetCurrentPosition(position))) {
            console.Status(CStatusText::Progress(position, duration, paused) +
                           (volume >= 0 ? L"  volume " + std::to_wstring(volume) + L"%" : L""));
            hook.StatusDrawn();
        }
        QueuedEvent event;
        if (!session.Events().Take(event, 100))
            continue;
        switch (event.kind) {
        case EventKind::Stopped:
            ended = true;
            end = session.EndOf(event.reason);
            running = false;
            break;
        case EventKind::Interrupt:
            running = false;
            break;
        case EventKind::Key:
            if (event.key == L'q' || event.key == L'Q' || event.key == L'\r') {
                running = false;
            } else if (event.key == L' ') {
                hr = library.Pause(paused);
                if (FAILED(hr)) {
                    failure = hr;
                    running = false;
                } else if (!console.Live()) {
                    console.Note((paused ? L"Paused at " : L"Resumed at ") + CStatusText::Time(position) + L".\n");
                }
            } else if (event.key == kKeyLeft || event.key == kKeyRight) {
                const double target = std::min(std::max(position + (event.key == kKeyLeft ? -kSeekStep : kSeekStep), 0.0),
                                               duration > 0.0 ? duration : position);
                hr = MoveTo(library, target, paused);
                if (SUCCEEDED(hr))
                    position = target;
                if (FAILED(hr) || !console.Live())
                    console.Note(FAILED(hr) ? L"Cannot seek: " + CResultCodes::Describe(hr) + L"\n"
                                            : L"Moved to " + CStatusText::Time(target) + L".\n");
            } else if (event.key == kKeyUp || event.key == kKeyDown) {
                const int wanted = std::min(std::max((volume < 0 ? 100 : volume) +
                                                         (event.key == kKeyUp ? kVolumeStep : -kVolumeStep), 0),
                                            100);
                hr = library.SetVolume(CVolumeLevel::ToHundredthsDb(wanted));
                if (SUCCEEDED(hr))
                    volume = wanted;
                if (FAILED(hr) || !console.Live())
                    console.Note(FAILED(hr) ? L"Cannot change the volume: " + CResultCodes::Describe(hr) + L"\n"
                                            : L"Volume " + std::to_wstring(wanted) + L"%.\n");
            }
            break;
        case EventKind::Level:
            break;
        }
    }
    const EndReport report =
        ended ? CStreamEndReport::ForEnd(L"play \"" + source + L"\"", false, end) : EndReport();
    if (ended && report.exitStatus == 0)
        console.Status(CStatusText::Progress(duration, duration, false));
    console.EndStatus();

    hr = library.Stop();
    if (FAILED(failure))
        return CLibrarySession::ReportFailure(L"pause", failure);
    if (report.exitStatus != 0) {
        CConsole::Out(L"Stopped at " + CStatusText::Time(position) + L".\n");
        return CLibrarySession::Report(report);
    }
    if (FAILED(hr))
        return CLibrarySession::ReportFailure(L"stop", hr);
    CConsole::Out(ended ? L"Played to the end.\n" : L"Stopped at " + CStatusText::Time(position) + L".\n");
    return 0;
}
