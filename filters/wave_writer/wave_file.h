#pragma once
// CWaveFile: one RIFF WAVE file written through the platform's multimedia file I/O (mmio).
//
// Layout: "RIFF" <size> "WAVE", "fmt " with the format (16 bytes for PCM, 18 + cbSize otherwise),
// "fact" with the length in sample frames, "data" with the bytes in the order they were written.
// The sizes and the frame count are kept up to date while the file grows (below) and fixed by Close.
//
// Sample bytes are gathered in a buffer of our own, allocated when the file is opened, and go to
// the file through mmioWrite whenever about a second of audio is gathered (at most BufferSize bytes)
// and at the close. The file is opened unbuffered so that every write to disk reports its own result.
// After each of those writes the RIFF, "data" and "fact" sizes in the header are brought up to date,
// so that a process that ends without a close (killed, or gone without stopping) leaves a valid file
// holding all but the last second.
//
// The first failed write ends the file: the error is kept and returned by that call and every later
// Write (the system's error: disk full, access denied...; a write that stops short counts as a full
// disk), the gathered bytes are given up, and the "data" chunk ends with the last whole block that
// reached the disk (the file is cut there). Close then finishes the header as usual.
//
// RIFF counts sizes in 32 bits: the "data" chunk takes bytes up to the point where the file would
// pass 4 GiB - 1 (whole blocks of the format), and refuses the rest with FileFull, the file staying
// valid with everything up to there. Positions past 2 GiB never go through mmio's signed 32-bit
// offsets: the cut after a failed write and the sizes written into the header address the file itself
// with 64-bit positions.
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
    // unreadable data, E_INVALIDARG for 0 bytes; the write error (see Failure) once a write to the
    // file has failed, in this call or an earlier one; FileFull when only the part that fits below the
    // size limit was taken (or nothing, once the limit is reached).
    HRESULT Write(const BYTE* data, ULONG count);
    // The error of the write that ended the file, S_OK while none failed.
    HRESULT Failure() const { return m_failure; }
    // Test hook: the "data" chunk goes on bytes further, leaving them unwritten (zeros, and no disk
    // space where the file system keeps sparse files), so that tests reach the size limits without
    // writing gigabytes. E_UNEXPECTED without an open file, FileFull past the limit.
    HRESULT SkipData(DWORD bytes);
    // Whether each write of gathered bytes also brings the header's sizes up to date (the default); off,
    // only Close writes them. For benchmarks that weigh the cost.
    void SetSizeRefresh(bool on) { m_refreshSizes = on; }
    // Writes what is gathered, fixes the chunk sizes and the frame count and closes the file.
    // S_FALSE when no file is open. A failed final write is returned after the file was finished
    // with the bytes that did reach it (an earlier failure, returned by Write already, is not
    // returned again); a failure of the chunk operations leaves the file open.
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
    // Ends the file at the first failed write (see the class comment); returns failure.
    HRESULT Fail(HRESULT failure);
    // Writes the "data" size, the RIFF size and the frame count for the bytes on disk, then puts the
    // file pointer back behind them. The RIFF size counts the pad byte of odd data only once it has been
    // written (at the close): a header refreshed while recording never claims more than the file holds.
    enum EPad { PadNotWritten, PadWritten };
    HRESULT WriteSizes(EPad pad = PadNotWritten);
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
    ULONG m_flushBytes; // gathered bytes that go to the file at once: about a second, whole blocks
    HRESULT m_failure;  // the failed write that ended the file
    bool m_refreshSizes;
    DWORD m_dataBytes;  // bytes of "data" that reached the file
    WAVEFORMATEX m_format;
    WORD m_samplesPerBlock; // from the format's extra bytes where it carries them; 0 otherwise
};
