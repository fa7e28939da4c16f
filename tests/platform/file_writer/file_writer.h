#pragma once
// FileWriter::CFilter: a file writer for the test prefix, registered under CLSID_FileWriter.
//
// It gives what the MP3 recording chain needs from the platform's File Writer and Wine's lacks:
//   - one input pin "in" accepting MEDIATYPE_Stream of any subtype; each sample is written at the byte
//     offset of its start time (a sample without a time follows the previous one);
//   - IFileSinkFilter2 on the filter (name, media type, mode), and IAMFilterMiscFlags telling the graph
//     that it renders;
//   - IStream on the input pin (Read, Write, Seek, SetSize, Stat) on the open file.
// Pause out of Stopped opens the file (truncated in AM_FILE_OVERWRITE mode, else kept); the file stays
// open after Stop, so that a filter upstream can still write through the pin's IStream during its own
// Stop, and is closed when the filter is released or paused again. The end of the stream is reported
// to the graph as EC_COMPLETE; a sample that cannot be written only through Receive's result (no event).
//
// For fault tests the module exports (undecorated, WINAPI):
//   HRESULT FileWriter_FailWritesAfter(ULONGLONG bytes)
//     Every writer of the process behaves as on a full disk from then on: a write that would end past
//     byte `bytes` of its file writes nothing and fails with HRESULT_FROM_WIN32(ERROR_DISK_FULL). ~0 (the
//     initial value) lifts the limit. Returns S_OK. A process whose environment has
//     TESSARO_TEST_WRITE_FAIL_AFTER (decimal bytes) when the module is loaded starts with that limit.
#include "stdax/base_filter.h"
#include "stdax/file_sink_filter.h"
#include "stdax/rendered_input_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <objidl.h>
#include <strmif.h>

namespace FileWriter {

inline constexpr wchar_t kModuleName[] = L"file_writer.dll";
inline constexpr char kFailWritesAfterExport[] = "FileWriter_FailWritesAfter";
using FailWritesAfterFunction = HRESULT(WINAPI*)(ULONGLONG bytes);

// The disk-full limit of every writer in the process (see FileWriter_FailWritesAfter).
void SetWriteLimit(ULONGLONG bytes);

class CFilter;

class CInputPin : public stdax::CRenderedInputPin, public IStream {
public:
    CInputPin(CFilter* filter, HRESULT* result);

    COM_FORWARD_IUNKNOWN
    // IStream and ISequentialStream, then the rendered pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;

    // ISequentialStream / IStream. E_UNEXPECTED while no file is open.
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* statstg, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override;

private:
    CFilter* const m_owner;
    // Where the next sample without a time goes.
    ULONGLONG m_nextOffset = 0;
    // The IStream position.
    ULONGLONG m_position = 0;
};

// The filter's locks, built before the base filter that is handed them.
struct CFilterLocks {
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
    Synchronization::CCriticalSection m_fileLock;
};

class CFilter : private CFilterLocks,
                public stdax::CBaseFilter,
                public stdax::IFileSinkFilter2Impl,
                public IAMFilterMiscFlags {
public:
    CFilter(IUnknown* outer, HRESULT* result);
    ~CFilter() override;
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    COM_FORWARD_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }

    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    // IAMFilterMiscFlags: a renderer, so that the graph waits for its EC_COMPLETE.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // File access at explicit offsets, under the file lock. E_UNEXPECTED while no file is open.
    HRESULT WriteAt(ULONGLONG offset, const void* data, ULONG size, ULONG* written);
    HRESULT ReadAt(ULONGLONG offset, void* data, ULONG size, ULONG* read);
    HRESULT Resize(ULONGLONG size);
    HRESULT FileSize(ULONGLONG* size);

    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }
    Synchronization::CCriticalSection* FileLock() { return &m_fileLock; }

private:
    HRESULT OpenFile();
    void CloseFile();
    // Moves the file pointer of the open file (under the file lock); false on failure (last error set).
    bool MoveTo(ULONGLONG offset);

    CInputPin* m_pin;
    HANDLE m_file;
};

} // namespace FileWriter
