// quillmar play: plays a file or URL with a progress line; space pauses, q or Ctrl+C stops.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/library_session.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/user_input.h"

int RunPlay(const CCommandLine& commandLine)
{
    CLibrarySession session;
    if (const int status = session.Open(true))
        return status;
    CQuillmarLibrary& library = session.Library();
    const std::wstring& target = commandLine.Target();
    const std::wstring source = target.find(L"://") != std::wstring::npos ? target : FullPath(target);

    CUserInput input(session.Events());
    HRESULT hr = library.Play(Utf8(source), 0);
    if (FAILED(hr)) {
        // A graph built before the failure stays held until a stop releases it.
        library.Stop();
        return CLibrarySession::ReportFailure(L"play \"" + source + L"\"", hr);
    }
    double duration = 0.0;
    library.GetDuration(duration);
    CConsole::Out(L"Playing " + source + L" (" + CStatusText::Time(duration) +
                  L"); space pauses and resumes, q or Ctrl+C stops.\n");

    CConsole console;
    CInterruptHook hook;
    bool paused = false;
    bool ended = false;
    double position = 0.0;
    HRESULT failure = S_OK;
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
            running = false;
            break;
        case EventKind::Interrupt:
            running = false;
            break;
        case EventKind::Key:
            if (event.key == L'q' || event.key == L'Q') {
                running = false;
            } else if (event.key == L' ') {
                hr = library.Pause(paused);
                if (FAILED(hr)) {
                    failure = hr;
                    running = false;
                }
            }
            break;
        case EventKind::Level:
            break;
        }
    }
    if (ended)
        console.Status(CStatusText::Progress(duration, duration, false));
    console.EndStatus();

    hr = library.Stop();
    if (FAILED(failure))
        return CLibrarySession::ReportFailure(L"pause", failure);
    if (FAILED(hr))
        return CLibrarySession::ReportFailure(L"stop", hr);
    CConsole::Out(ended ? L"Played to the end.\n" : L"Stopped at " + CStatusText::Time(position) + L".\n");
    return 0;
}
