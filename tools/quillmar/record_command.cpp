// quillmar record: records from the default capture device with a live input level.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/library_session.h"
#include "quillmar/session_control.h"
#include "quillmar/status_text.h"
#include "quillmar/user_input.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace {

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
        std::swprintf(text, 160, L"MP3 at %d bit/s, %d Hz mono", commandLine.BitRate(), commandLine.SampleRate());
    else
        std::swprintf(text, 160, L"WAVE with format tag %d (0x%04X), %d Hz mono", commandLine.FormatTag(),
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
    const std::wstring path = FullPath(commandLine.Target());

    CUserInput input(session.Events());
    HRESULT hr = library.Record(Utf8(path), commandLine.FormatTag(), commandLine.SampleRate(), commandLine.BitRate());
    if (FAILED(hr)) {
        // A graph built before the failure stays held until a stop releases it.
        library.Stop();
        return CLibrarySession::ReportFailure(L"record \"" + path + L"\"", hr);
    }
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);

    wchar_t limit[64] = L"Enter or Ctrl+C stops";
    if (commandLine.Seconds() > 0)
        std::swprintf(limit, 64, L"stops after %g s, or on Enter or Ctrl+C", commandLine.Seconds());
    CConsole::Out(L"Recording to " + path + L"\n  " + FormatDescription(commandLine) + L"; " + limit + L".\n");

    CConsole console;
    CInterruptHook hook;
    console.Status(CStatusText::LevelBar(0.0, 0.0));
    const wchar_t* why = L"time limit";
    int lostDevice = 0;
    for (bool running = true; running;) {
        const double elapsed = SecondsSince(start);
        unsigned timeout = 100;
        if (commandLine.Seconds() > 0) {
            if (elapsed >= commandLine.Seconds())
                break;
            timeout = static_cast<unsigned>(std::min(100.0, (commandLine.Seconds() - elapsed) * 1000.0) + 1);
        }
        QueuedEvent event;
        if (!session.Events().Take(event, timeout))
            continue;
        switch (event.kind) {
        case EventKind::Level:
            console.Status(CStatusText::LevelBar(event.level, SecondsSince(start)));
            hook.StatusDrawn();
            break;
        case EventKind::Key:
            if (event.key == L'\r' || event.key == L'q' || event.key == L'Q') {
                why = L"Enter";
                running = false;
            }
            break;
        case EventKind::Interrupt:
            why = L"Ctrl+C";
            running = false;
            break;
        case EventKind::Stopped:
            why = event.reason == 1 ? L"capture device lost" : L"ended by the library";
            lostDevice = event.reason == 1;
            running = false;
            break;
        }
    }
    const double recorded = SecondsSince(start);
    console.EndStatus();

    hr = library.Stop();
    if (FAILED(hr))
        return CLibrarySession::ReportFailure(L"stop", hr);
    wchar_t summary[160];
    std::swprintf(summary, 160, L"Recorded %.1f s (stopped: %ls). Wrote %lld bytes to ", recorded, why, FileSize(path));
    CConsole::Out(summary + path + L"\n");
    return lostDevice ? 1 : 0;
}
