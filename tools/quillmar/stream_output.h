// record -: the recording's stream, as the library hands it over, written to standard output in binary
// mode by a thread of its own, so that neither the library's delivery thread nor the main thread ever
// waits for the reader of the pipe. MP3 goes out as its frames; a WAVE format gets a RIFF header first
// whose RIFF and "data" sizes are 0xFFFFFFFF ("unknown length"), as a streamed WAVE file has.
//
// What waits is bounded by a byte budget: past it, whole chunks are dropped and counted (the reader fell
// that far behind); the library drops and counts on its side as well.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class CStreamOutput {
public:
    // Writes to `output` (standard output), keeping at most `budgetBytes` unwritten.
    CStreamOutput(HANDLE output, std::size_t budgetBytes);
    // Waits for the writer only when it has finished; one blocked in a pipe is left to the process's end.
    ~CStreamOutput();
    CStreamOutput(const CStreamOutput&) = delete;
    CStreamOutput& operator=(const CStreamOutput&) = delete;

    // From the library's delivery thread; none of them waits.
    void Format(const std::string& waveFormat);
    void Data(const std::string& bytes);
    void End();

    // Waits until the stream has ended and everything kept is written (true), or the writing failed,
    // or the time passed (false).
    bool WaitWritten(unsigned timeoutMs);
    // The stream's end came from the library.
    bool Ended() const;
    // The first failed write (the pipe's reader went away): 0 while none failed. Nothing is written after it.
    HRESULT WriteFailure() const;
    std::uint64_t BytesWritten() const;   // the header included
    unsigned long DroppedChunks() const;
    std::uint64_t DroppedBytes() const;

    // The RIFF header of a WAVE stream of unknown length for that WAVEFORMATEX.
    static std::string WaveHeader(const std::string& waveFormat);

    struct CState;

private:
    static DWORD WINAPI WriterThread(void* parameter);

    std::shared_ptr<CState> m_state;
    HANDLE m_thread = nullptr;
};
