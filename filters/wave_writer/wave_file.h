#pragma once
// CWaveFile: one RIFF WAVE file written through the platform's multimedia file I/O (mmio).
//
// Layout: "RIFF" <size> "WAVE", "fmt " with the format (16 bytes for PCM, 18 + cbSize otherwise),
// "fact" with the length in sample frames, "data" with the bytes in the order they were written.
// The sizes and the frame count are filled in by Close.
//
// Sample bytes are gathered in a buffer of our own, allocated when the file is opened, and go to
// the file through mmioWrite when the next bytes would not fit and at the close. The file is opened
// unbuffered so that every write to disk reports its own result. A failed write is returned to the
// call that made it, whose own bytes are dropped; bytes gathered from earlier calls, which were
// reported as written, are kept for the next try, and the next bytes follow directly on those that
// did reach the file.
//
// RIFF counts sizes in 32 bits: the "data" chunk takes bytes up to the point where the file would
// pass 4 GiB - 1 (whole blocks of the format), and refuses the rest with FileFull, the file staying
// valid with everything up to there. Positions past 2 GiB never go through mmio's signed 32-bit
// offsets: the recovery after a failed write and the sizes written at the close address the file
// itself with 64-bit positions.
//
// Not thread-safe: the owner serialises the calls.
#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>

class CWaveFile {
public:
    // Bytes gathered before they go to the file.
    static constexpr ULONG BufferSize = 64 * 1024;
    // The "data" chunk is full: the file has reached the size RIFF can describe.
    static constexpr HRESULT FileFull = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

    CWaveFile();
    // Closes a file that is still open.
    ~CWaveFile();

    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // Creates (or truncates) the file and writes everything up to the start of the "data" chunk.
    // format: formatLength bytes of a WAVEFORMATEX; E_POINTER when unreadable, E_INVALIDARG when
    // shorter than 18 bytes or than the 18 + cbSize bytes a non-PCM format announces. E_FAIL when
    // the file cannot be opened or a header write falls short; other mmio failures through
    // ResultFromMmio. A file this object still had open is closed first.
    HRESULT OpenForWrite(LPCWSTR fileName, const WAVEFORMATEX* format, ULONG formatLength);
    // Appends count bytes to the "data" chunk. E_UNEXPECTED without an open file, E_POINTER for
    // unreadable data, E_INVALIDARG for 0 bytes, ResultFromMmio(MMIOERR_CANNOTWRITE) when the file
    // refused bytes (this call's bytes are lost, earlier ones kept; the file stays open), FileFull when only
    // the part that fits below the size limit was taken (or nothing, once the limit is reached).
    HRESULT Write(const BYTE* data, ULONG count);
    // Test hook: the "data" chunk goes on bytes further, leaving them unwritten (zeros, and no disk
    // space where the file system keeps sparse files), so that tests reach the size limits without
    // writing gigabytes. E_UNEXPECTED without an open file, FileFull past the limit.
    HRESULT SkipData(DWORD bytes);
    // Writes what is gathered, fixes the chunk sizes and the frame count and closes the file.
    // S_FALSE when no file is open. A failed final write is returned after the file was finished
    // with the bytes that did reach it; a failure of the chunk operations leaves the file open.
    HRESULT Close();

    bool IsOpen() const { return m_hmmio != nullptr; }
    // Bytes in the "data" chunk so far, gathered ones included.
    DWORD DataBytes() const { return m_dataBytes + m_buffered; }
    // The "fact" value for dataBytes bytes of the format the file was opened with.
    DWORD FrameCount(DWORD dataBytes) const;

    // An mmio result code as an HRESULT.
    static HRESULT ResultFromMmio(MMRESULT result);

private:
    HRESULT WriteThrough(const BYTE* data, ULONG count);
    HRESULT Flush();
    void FreeBuffer();
    // The file's own pointer to a 64-bit position.
    HRESULT MoveTo(ULONGLONG position);
    // count bytes at a 64-bit position of the file, past mmio.
    HRESULT WriteAt(ULONGLONG position, const void* data, DWORD count);

    HMMIO m_hmmio;
    HANDLE m_file;      // the handle that mmio was given and closes
    DWORD m_factOffset; // where the "fact" value stands
    DWORD m_dataLimit;  // most bytes the "data" chunk may hold
    MMCKINFO m_ckSub;  // "fmt ", "fact", then "data"
    MMCKINFO m_ckRiff;
    BYTE* m_buffer;
    ULONG m_buffered;
    DWORD m_dataBytes;  // bytes of "data" that reached the file
    WAVEFORMATEX m_format;
    WORD m_samplesPerBlock; // from the format's extra bytes where it carries them; 0 otherwise
};
