#include "filters/wave_writer/wave_file.h"

#include "support/step_sequence.h"
#include "support/system_error.h"

#include <cstring>

namespace {

const FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
const FOURCC kFormat = mmioFOURCC('f', 'm', 't', ' ');
const FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
const FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// A GSM 6.10 block of 65 bytes holds 320 samples.
constexpr WORD GsmSamplesPerBlock = 320;

constexpr int NameLength = 260;

} // namespace

CWaveFile::CWaveFile()
    : m_hmmio(nullptr), m_file(INVALID_HANDLE_VALUE), m_factOffset(0), m_dataLimit(0), m_ckSub(), m_ckRiff(),
      m_buffer(nullptr), m_buffered(0), m_flushBytes(BufferSize), m_failure(S_OK), m_refreshSizes(true),
      m_dataBytes(0), m_format(), m_samplesPerBlock(0)
{
}

CWaveFile::~CWaveFile()
{
    Close();
    if (m_hmmio != nullptr)
        ::mmioClose(m_hmmio, 0);
    FreeBuffer();
}

HRESULT CWaveFile::ResultFromMmio(MMRESULT result)
{
    switch (result) {
    case MMSYSERR_NOERROR:
        return S_OK;
    case MMSYSERR_BADDEVICEID:
        return E_POINTER;
    case MMSYSERR_ALLOCATED:
        return E_ACCESSDENIED;
    case MMSYSERR_INVALHANDLE:
        return E_HANDLE;
    case MMSYSERR_NODRIVER:
        return E_FAIL;
    case MMSYSERR_NOMEM:
        return E_OUTOFMEMORY;
    case MMSYSERR_INVALFLAG:
    case MMSYSERR_INVALPARAM:
    case MIXERR_INVALLINE:
    case MIXERR_INVALCONTROL:
        return E_INVALIDARG;
    default:
        return E_UNEXPECTED;
    }
}

void CWaveFile::FreeBuffer()
{
    if (m_buffer != nullptr)
        ::HeapFree(::GetProcessHeap(), 0, m_buffer);
    m_buffer = nullptr;
    m_buffered = 0;
}

HRESULT CWaveFile::OpenForWrite(LPCWSTR fileName, const WAVEFORMATEX* format, ULONG formatLength)
{
    if (fileName == nullptr || ::IsBadStringPtrW(fileName, NameLength))
        return E_POINTER;
    if (format == nullptr || ::IsBadReadPtr(format, sizeof(WAVEFORMATEX)))
        return E_POINTER;
    if (formatLength < sizeof(WAVEFORMATEX))
        return E_INVALIDARG;
    // PCM keeps the 16 bytes without cbSize; other formats carry cbSize and the extra bytes it
    // announces, which must be there.
    const LONG formatBytes = format->wFormatTag == WAVE_FORMAT_PCM ? 16 : sizeof(WAVEFORMATEX) + format->cbSize;
    if (static_cast<ULONG>(formatBytes) > formatLength || ::IsBadReadPtr(format, formatBytes))
        return E_INVALIDARG;

    if (m_hmmio != nullptr) {
        ::mmioClose(m_hmmio, 0);
        m_hmmio = nullptr;
    }
    FreeBuffer();
    m_buffer = static_cast<BYTE*>(::HeapAlloc(::GetProcessHeap(), 0, BufferSize));
    if (m_buffer == nullptr)
        return E_OUTOFMEMORY;

    WCHAR name[NameLength];
    ::lstrcpynW(name, fileName, NameLength);
    // mmio's own file opening goes through the ANSI code page and a 128-character path limit, so a
    // name outside that code page or a long path would fail or land elsewhere. The file is created
    // here under its full UTF-16 name and mmio is handed the open handle (the standard DOS I/O
    // procedure with the handle in adwInfo[0]); from then on mmio owns it and closes it.
    const HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const HRESULT openFailure = Win32::ResultFromLastError();
        FreeBuffer();
        return openFailure;
    }
    MMIOINFO handOver = {};
    handOver.fccIOProc = FOURCC_DOS;
    // Kernel handles keep their value within 32 bits, also in 64-bit processes.
    handOver.adwInfo[0] = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(file));
    m_hmmio = ::mmioOpenW(nullptr, &handOver, MMIO_READWRITE);
    if (m_hmmio == nullptr) {
        ::CloseHandle(file);
        FreeBuffer();
        return E_FAIL;
    }
    m_file = file;
    m_format = *format;
    m_samplesPerBlock = 0;
    if (format->wFormatTag != WAVE_FORMAT_PCM && format->cbSize >= sizeof(WORD))
        std::memcpy(&m_samplesPerBlock, reinterpret_cast<const BYTE*>(format) + sizeof(WAVEFORMATEX), sizeof(WORD));
    m_dataBytes = 0;
    m_failure = S_OK;
    // About a second of audio in whole blocks, at least one block, at most the buffer.
    const ULONG block = format->nBlockAlign != 0 ? format->nBlockAlign : 1;
    ULONG second = format->nAvgBytesPerSec - format->nAvgBytesPerSec % block;
    if (second < block)
        second = block;
    m_flushBytes = second < BufferSize ? second : BufferSize;

    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] {
             m_ckRiff = MMCKINFO();
             m_ckRiff.fccType = kWave;
             return ResultFromMmio(::mmioCreateChunk(m_hmmio, &m_ckRiff, MMIO_CREATERIFF));
         })
        .Do([&] {
            m_ckSub = MMCKINFO();
            m_ckSub.ckid = kFormat;
            m_ckSub.cksize = 16;
            return ResultFromMmio(::mmioCreateChunk(m_hmmio, &m_ckSub, 0));
        })
        .Do([&] {
            const LONG written = ::mmioWrite(m_hmmio, reinterpret_cast<const char*>(format), formatBytes);
            return written == formatBytes ? S_OK : E_FAIL;
        })
        .Do([&] { return ResultFromMmio(::mmioAscend(m_hmmio, &m_ckSub, 0)); })
        .Do([&] {
            m_ckSub = MMCKINFO();
            m_ckSub.ckid = kFact;
            return ResultFromMmio(::mmioCreateChunk(m_hmmio, &m_ckSub, 0));
        })
        .Do([&] {
            // Unknown until the close.
            const DWORD unknown = 0xFFFFFFFF;
            m_factOffset = m_ckSub.dwDataOffset;
            const LONG written = ::mmioWrite(m_hmmio, reinterpret_cast<const char*>(&unknown), sizeof(unknown));
            return written == sizeof(unknown) ? S_OK : E_FAIL;
        })
        .Do([&] { return ResultFromMmio(::mmioAscend(m_hmmio, &m_ckSub, 0)); })
        .Do([&] {
            m_ckSub = MMCKINFO();
            m_ckSub.ckid = kData;
            return ResultFromMmio(::mmioCreateChunk(m_hmmio, &m_ckSub, 0));
        })
        .Do([&] {
            // The file may not pass 4 GiB - 1 bytes; the data ends on a whole block and needs no
            // pad byte.
            const DWORD align = m_format.nBlockAlign != 0 ? m_format.nBlockAlign : 1;
            DWORD limit = 0xFFFFFFFFUL - m_ckSub.dwDataOffset;
            limit -= limit % align;
            if (limit % 2 != 0)
                limit -= align;
            m_dataLimit = limit;
            return S_OK;
        });
    if (FAILED(hr)) {
        ::mmioClose(m_hmmio, 0);
        m_hmmio = nullptr;
        FreeBuffer();
    }
    return hr;
}

HRESULT CWaveFile::WriteThrough(const BYTE* data, ULONG count)
{
    ::SetLastError(ERROR_SUCCESS);
    const LONG written = ::mmioWrite(m_hmmio, reinterpret_cast<const char*>(data), static_cast<LONG>(count));
    if (written == static_cast<LONG>(count)) {
        m_dataBytes += count;
        return S_OK;
    }
    // The system's reason where the write failed; a write that stopped short found the disk full
    // (Windows fails such a write, other systems write what fits). A failure without a reason is a
    // write fault.
    const DWORD error = ::GetLastError();
    if (written > 0)
        m_dataBytes += static_cast<DWORD>(written);
    if (written >= 0)
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    return Win32::ResultFromSystemError(static_cast<LONG>(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT));
}

HRESULT CWaveFile::Fail(HRESULT failure)
{
    m_failure = failure;
    m_buffered = 0;
    // The data ends with the last whole block on disk, and on an even length (no pad byte to write on
    // a full disk); the file is cut behind it, so that the header describes all of it.
    const DWORD align = m_format.nBlockAlign != 0 ? m_format.nBlockAlign : 1;
    const DWORD unit = align % 2 == 0 ? align : 2 * align;
    m_dataBytes -= m_dataBytes % unit;
    if (SUCCEEDED(MoveTo(static_cast<ULONGLONG>(m_ckSub.dwDataOffset) + m_dataBytes)))
        ::SetEndOfFile(m_file);
    WriteSizes();
    return failure;
}

HRESULT CWaveFile::WriteSizes(EPad pad)
{
    const DWORD dataBytes = m_dataBytes;
    const ULONGLONG dataEnd = static_cast<ULONGLONG>(m_ckSub.dwDataOffset) + dataBytes;
    const DWORD padBytes = pad == PadWritten ? dataBytes % 2 : 0;
    const DWORD riffSize = static_cast<DWORD>(dataEnd + padBytes - 2 * sizeof(DWORD));
    const DWORD frames = FrameCount(dataBytes);
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] { return WriteAt(m_ckSub.dwDataOffset - sizeof(DWORD), &dataBytes, sizeof(dataBytes)); })
        .Do([&] { return WriteAt(m_ckRiff.dwDataOffset - sizeof(DWORD), &riffSize, sizeof(riffSize)); })
        .Do([&] { return WriteAt(m_factOffset, &frames, sizeof(frames)); })
        .Do([&] { return MoveTo(dataEnd); });
    return hr;
}

HRESULT CWaveFile::MoveTo(ULONGLONG position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN) ? S_OK : Win32::ResultFromLastError();
}

HRESULT CWaveFile::WriteAt(ULONGLONG position, const void* data, DWORD count)
{
    HRESULT hr = MoveTo(position);
    if (FAILED(hr))
        return hr;
    DWORD written = 0;
    if (!::WriteFile(m_file, data, count, &written, nullptr))
        return Win32::ResultFromLastError();
    return written == count ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

HRESULT CWaveFile::SkipData(DWORD bytes)
{
    if (m_hmmio == nullptr)
        return E_UNEXPECTED;
    HRESULT hr = Flush();
    if (FAILED(hr))
        return hr;
    if (bytes > m_dataLimit - m_dataBytes)
        return FileFull;
    m_dataBytes += bytes;
    return MoveTo(static_cast<ULONGLONG>(m_ckSub.dwDataOffset) + m_dataBytes);
}

HRESULT CWaveFile::Flush()
{
    if (m_buffered == 0)
        return S_OK;
    HRESULT hr = WriteThrough(m_buffer, m_buffered);
    if (SUCCEEDED(hr)) {
        m_buffered = 0;
        if (m_refreshSizes)
            hr = WriteSizes();
    }
    return FAILED(hr) ? Fail(hr) : hr;
}

HRESULT CWaveFile::Write(const BYTE* data, ULONG count)
{
    if (m_hmmio == nullptr || m_buffer == nullptr)
        return E_UNEXPECTED;
    if (data == nullptr || ::IsBadReadPtr(data, count))
        return E_POINTER;
    if (count == 0)
        return E_INVALIDARG;
    if (FAILED(m_failure))
        return m_failure;
    // Only what fits below the size limit is taken.
    const DWORD room = m_dataLimit - DataBytes();
    const HRESULT taken = count <= room ? S_OK : FileFull;
    if (count > room)
        count = room;
    while (count > 0) {
        const ULONG piece = count < m_flushBytes - m_buffered ? count : m_flushBytes - m_buffered;
        std::memcpy(m_buffer + m_buffered, data, piece);
        m_buffered += piece;
        data += piece;
        count -= piece;
        if (m_buffered == m_flushBytes) {
            const HRESULT hr = Flush();
            if (FAILED(hr))
                return hr;
        }
    }
    return taken;
}

DWORD CWaveFile::FrameCount(DWORD dataBytes) const
{
    const WORD align = m_format.nBlockAlign;
    WORD perBlock = 0;
    switch (m_format.wFormatTag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_EXTENSIBLE:
        // One block is one frame.
        perBlock = 1;
        break;
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
        perBlock = m_samplesPerBlock;
        break;
    case WAVE_FORMAT_GSM610:
        perBlock = m_samplesPerBlock != 0 ? m_samplesPerBlock : GsmSamplesPerBlock;
        break;
    default:
        break;
    }
    ULONGLONG frames = 0;
    if (perBlock != 0 && align != 0) {
        // A last block that is cut short counts in proportion.
        frames = static_cast<ULONGLONG>(dataBytes / align) * perBlock +
                 static_cast<ULONGLONG>(dataBytes % align) * perBlock / align;
    } else if (m_format.nAvgBytesPerSec != 0) {
        frames = static_cast<ULONGLONG>(dataBytes) * m_format.nSamplesPerSec / m_format.nAvgBytesPerSec;
    } else if (align != 0) {
        frames = dataBytes / align;
    }
    return frames > 0xFFFFFFFFULL ? 0xFFFFFFFFUL : static_cast<DWORD>(frames);
}

HRESULT CWaveFile::Close()
{
    if (m_hmmio == nullptr)
        return S_FALSE;
    // A failed last write is reported, but the file is still finished with what reached it. A failure
    // returned by Write before is not reported again.
    const HRESULT flushed = FAILED(m_failure) ? S_OK : Flush();

    // The sizes go straight to their places in the file: past 2 GiB mmio's seeks and chunk
    // operations would take the positions for negative 32-bit offsets.
    const DWORD dataBytes = m_dataBytes;
    const ULONGLONG dataEnd = static_cast<ULONGLONG>(m_ckSub.dwDataOffset) + dataBytes;
    const BYTE pad = 0;
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    // A chunk of odd length is followed by a pad byte.
    steps.Do([&] { return dataBytes % 2 != 0 ? WriteAt(dataEnd, &pad, sizeof(pad)) : S_OK; })
        .Do([&] { return WriteSizes(PadWritten); });
    if (FAILED(hr))
        return hr;

    // The handle is gone after mmioClose whatever it returns.
    const MMRESULT result = ::mmioClose(m_hmmio, 0);
    m_hmmio = nullptr;
    m_file = INVALID_HANDLE_VALUE;
    FreeBuffer();
    if (result != MMSYSERR_NOERROR)
        return ResultFromMmio(result);
    return flushed;
}
