// Tessaro.dll as the commands use it: loaded from the tool's own directory through the JVM host, with
// its "Stopped" and "InputLevel" calls posted to an event queue that the main thread works off.
#pragma once

#include "jvm_host/quillmar_library.h"
#include "quillmar/event_queue.h"
#include "quillmar/stream_output.h"
#include "quillmar/stream_end.h"

#include <atomic>
#include <string>

class CLibrarySession : private JvmHost::IQuillmarCallbacks {
public:
    CLibrarySession();
    // Frees the library's graphs and threads (freeLibrary) if Open initialised it.
    ~CLibrarySession();
    CLibrarySession(const CLibrarySession&) = delete;
    CLibrarySession& operator=(const CLibrarySession&) = delete;

    // Loads Tessaro.dll from the directory of quillmar.exe and, with initialise, calls initLibrary.
    // A failure is reported on stderr; the result is the exit status to use (0 when it worked).
    int Open(bool initialise);

    CQuillmarLibrary& Library() { return m_library; }
    CEventQueue& Events() { return m_events; }
    // Where a streamed recording's "StreamFormat" and "StreamData" go; null drops them.
    void SetStreamOutput(CStreamOutput* output) { m_streamOutput.store(output); }

    // How the stream ended whose "Stopped" carried that value, with the cause the library tells.
    StreamEnd EndOf(int stoppedValue);
    // How the stream with that number ended, from the end record the library keeps from the moment it
    // learns of an end (so also after a stop that dropped its "Stopped"); false when it has not ended.
    bool RecordedEnd(int stream, StreamEnd& end);
    // Prints the report's error line, if any, to stderr and returns its exit status.
    static int Report(const EndReport& report);

    // Prints "quillmar: <what> failed: 0x... NAME: message" to stderr and returns exit status 1.
    static int ReportFailure(const std::wstring& what, HRESULT code);
    // The directory where the library writes its logs: the current directory, or the temporary
    // directory when the current one cannot be written.
    static std::wstring LogDirectory();
    // The full path of a file next to quillmar.exe.
    static std::wstring BesideProgram(const wchar_t* name);

private:
    void Stopped(jint reason) override;
    void InputLevel(jdouble level) override;
    void StreamFormat(const std::string& waveFormat) override;
    void StreamData(const std::string& bytes, bool end) override;

    CEventQueue m_events;
    std::atomic<CStreamOutput*> m_streamOutput{nullptr};
    CQuillmarLibrary m_library;
    bool m_initialised = false;
};

