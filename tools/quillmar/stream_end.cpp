#include "quillmar/stream_end.h"

#include "quillmar/result_codes.h"

EndReport CStreamEndReport::Failure(const std::wstring& operation, const std::wstring& why)
{
    EndReport report;
    report.exitStatus = 1;
    report.error = L"quillmar: " + operation + L" failed: " + why + L"\n";
    return report;
}

EndReport CStreamEndReport::ForEnd(const std::wstring& operation, bool recording, const StreamEnd& end)
{
    const wchar_t* const lost =
        recording ? L"the capture device was lost" : L"the audio output device was lost";
    if (!end.causeKnown) {
        // A library that does not tell the cause: 0 is an end, 1 a failure of an unknown kind.
        if (end.stoppedValue == 0)
            return EndReport();
        return Failure(operation, L"the stream was aborted (an error, or its device was lost)");
    }
    switch (end.eventCode) {
    case StreamEnd::kComplete:
    case StreamEnd::kStreamControlStopped:
        return EndReport();
    case StreamEnd::kDeviceLost:
        return Failure(operation, lost);
    default:
        // An abort: with its error when the library has one.
        if (FAILED(end.result))
            return Failure(operation, CResultCodes::Describe(end.result));
        if (end.stoppedValue == 0)
            return EndReport();
        return Failure(operation, L"the stream was aborted by an error the library did not name");
    }
}
