// quillmar play: plays a file or URL with a progress line; space pauses, q or Ctrl+C stops.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/library_session.h"
#include "quillmar/media_length.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/user_input.h"

#include <vfwmsgs.h>

int RunPlay(const CCommandLine& commandLine)
{
    CLibrarySession session;
    if (const int status = session.Open(true))
        return status;
    CQuillmarLibrary& library = session.Library();
    const std::wstring& source = commandLine.Target();
    const bool url = source.find(L"://") != std::wstring::npos;

    CUserInput input(session.Events());
    HRESULT hr = library.Play(ToUtf8(source), 0);
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
    CConsole console(commandLine.Quiet());
    console.Note(L"Playing " + source + L" (" + CStatusText::Time(duration) +
                 L"); space pauses and resumes, q or Enter stops (or Ctrl+C).\n");

    CInterruptHook hook;
    bool paused = false;
    bool ended = false;
    double position = 0.0;
    HRESULT failure = S_OK;
    StreamEnd end;
    for (bool running = true; running;) {
        if (SUCCEEDED(library.GetCurrentPosition(position))) {
            console.Status(CStatusText::Progress(position, duration, paused));
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
