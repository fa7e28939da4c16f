#include "platform/file_writer/file_writer.h"

#include "support/system_error.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

namespace FileWriter {

namespace {

const AMOVIESETUP_MEDIATYPE s_anyStream[] = {{&MEDIATYPE_Stream, &GUID_NULL}};
const AMOVIESETUP_PIN s_pin = {const_cast<LPWSTR>(L"in"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1,
                               s_anyStream};
const AMOVIESETUP_FILTER s_filter = {&CLSID_FileWriter, L"File writer", MERIT_DO_NOT_USE, 1, &s_pin};

volatile LONGLONG g_writeLimit = -1;  // as ULONGLONG: ~0, no limit

bool IsWritable(void* pointer, UINT_PTR size)
{
    return pointer != nullptr && !::IsBadWritePtr(pointer, size);
}

} // namespace

void SetWriteLimit(ULONGLONG bytes)
{
    ::InterlockedExchange64(&g_writeLimit, static_cast<LONGLONG>(bytes));
}

// --- pin ---------------------------------------------------------------------------------------------

CInputPin::CInputPin(CFilter* filter, HRESULT* result)
    : CRenderedInputPin(filter, filter->FilterLock(), &s_pin, nullptr, result), m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (!IsWritable(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IStream || riid == IID_ISequentialStream) {
        *ppv = static_cast<IStream*>(this);
        return COM::GetInterface(static_cast<IStream*>(this), ppv);
    }
    return CRenderedInputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    return pmt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    HRESULT hr = CRenderedInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    hr = pSample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const long length = pSample->GetActualDataLength();
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    ULONGLONG offset = m_nextOffset;
    if (SUCCEEDED(pSample->GetTime(&start, &stop)) && start >= 0)
        offset = static_cast<ULONGLONG>(start);
    if (length <= 0)
        return S_OK;
    ULONG written = 0;
    hr = m_owner->WriteAt(offset, data, static_cast<ULONG>(length), &written);
    if (SUCCEEDED(hr) && written != static_cast<ULONG>(length))
        hr = STG_E_MEDIUMFULL;
    // A failed write is reported only through the result, as far as the platform's writer is known to
    // report it: the graph hears nothing from here, the filter upstream must end the stream itself.
    if (FAILED(hr))
        return hr;
    m_nextOffset = offset + written;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CInputPin::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    if (pcbRead != nullptr && !IsWritable(pcbRead, sizeof(*pcbRead)))
        return E_POINTER;
    if (cb > 0 && !IsWritable(pv, cb))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_owner->FileLock());
    ULONG read = 0;
    const HRESULT hr = m_owner->ReadAt(m_position, pv, cb, &read);
    if (SUCCEEDED(hr))
        m_position += read;
    if (pcbRead != nullptr)
        *pcbRead = read;
    return FAILED(hr) ? hr : (read < cb ? S_FALSE : S_OK);
}

HRESULT STDMETHODCALLTYPE CInputPin::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    if (pcbWritten != nullptr && !IsWritable(pcbWritten, sizeof(*pcbWritten)))
        return E_POINTER;
    if (cb > 0 && (pv == nullptr || ::IsBadReadPtr(pv, cb)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_owner->FileLock());
    ULONG written = 0;
    const HRESULT hr = m_owner->WriteAt(m_position, pv, cb, &written);
    if (SUCCEEDED(hr))
        m_position += written;
    if (pcbWritten != nullptr)
        *pcbWritten = written;
    return hr;
}

HRESULT STDMETHODCALLTYPE CInputPin::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition)
{
    if (newPosition != nullptr && !IsWritable(newPosition, sizeof(*newPosition)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_owner->FileLock());
    LONGLONG base = 0;
    if (origin == STREAM_SEEK_CUR) {
        base = static_cast<LONGLONG>(m_position);
    } else if (origin == STREAM_SEEK_END) {
        ULONGLONG size = 0;
        const HRESULT hr = m_owner->FileSize(&size);
        if (FAILED(hr))
            return hr;
        base = static_cast<LONGLONG>(size);
    } else if (origin != STREAM_SEEK_SET) {
        return STG_E_INVALIDFUNCTION;
    }
    const LONGLONG target = base + move.QuadPart;
    if (target < 0)
        return STG_E_INVALIDFUNCTION;
    m_position = static_cast<ULONGLONG>(target);
    if (newPosition != nullptr)
        newPosition->QuadPart = m_position;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::SetSize(ULARGE_INTEGER newSize)
{
    Synchronization::CAutoLock lock(m_owner->FileLock());
    return m_owner->Resize(newSize.QuadPart);
}

HRESULT STDMETHODCALLTYPE CInputPin::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CInputPin::Commit(DWORD)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::Revert()
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CInputPin::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE CInputPin::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE CInputPin::Stat(STATSTG* statstg, DWORD flags)
{
    if (!IsWritable(statstg, sizeof(*statstg)))
        return E_POINTER;
    ZeroMemory(statstg, sizeof(*statstg));
    ULONGLONG size = 0;
    HRESULT hr = S_OK;
    {
        Synchronization::CAutoLock lock(m_owner->FileLock());
        hr = m_owner->FileSize(&size);
    }
    if (FAILED(hr))
        return hr;
    statstg->type = STGTY_STREAM;
    statstg->cbSize.QuadPart = size;
    statstg->grfMode = STGM_READWRITE;
    if ((flags & STATFLAG_NONAME) == 0) {
        WCHAR name[stdax::IFileSinkFilter2Impl::FileNameLength];
        if (SUCCEEDED(m_owner->CopyFileName(name, ARRAYSIZE(name)))) {
            const size_t bytes = (::lstrlenW(name) + 1) * sizeof(WCHAR);
            statstg->pwcsName = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
            if (statstg->pwcsName == nullptr)
                return E_OUTOFMEMORY;
            ::CopyMemory(statstg->pwcsName, name, bytes);
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::Clone(IStream**)
{
    return E_NOTIMPL;
}

// --- filter ------------------------------------------------------------------------------------------

CFilter::CFilter(IUnknown* outer, HRESULT* result)
    : CFilterLocks(), CBaseFilter(&s_filter, outer, &m_filterLock, result), m_pin(nullptr),
      m_file(INVALID_HANDLE_VALUE)
{
    if (FAILED(*result))
        return;
    m_pin = new CInputPin(this, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
    CloseFile();
}

COM::CUnknown* CFilter::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CFilter(outer, result);
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (!IsWritable(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IFileSinkFilter || riid == IID_IFileSinkFilter2) {
        *ppv = static_cast<IFileSinkFilter2*>(this);
        return COM::GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    }
    if (riid == IID_IAMFilterMiscFlags) {
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
        return COM::GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped) {
        const HRESULT hr = OpenFile();
        if (FAILED(hr))
            return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin->IsConnected())
        hr = m_pin->Inactive();
    {
        // A Receive in progress finishes before the filter counts as stopped.
        Synchronization::CAutoLock receive(&m_receiveLock);
        m_state = State_Stopped;
    }
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
}

HRESULT CFilter::OpenFile()
{
    WCHAR name[FileNameLength];
    HRESULT hr = CopyFileName(name, ARRAYSIZE(name));
    if (FAILED(hr))
        return hr;
    Synchronization::CAutoLock lock(&m_fileLock);
    CloseFile();
    const DWORD disposition = Mode() == AM_FILE_OVERWRITE ? CREATE_ALWAYS : OPEN_ALWAYS;
    m_file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return Win32::ResultFromLastError();
    return S_OK;
}

void CFilter::CloseFile()
{
    Synchronization::CAutoLock lock(&m_fileLock);
    if (m_file != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

HRESULT CFilter::WriteAt(ULONGLONG offset, const void* data, ULONG size, ULONG* written)
{
    Synchronization::CAutoLock lock(&m_fileLock);
    *written = 0;
    if (m_file == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    if (size == 0)
        return S_OK;
    const ULONGLONG limit = static_cast<ULONGLONG>(::InterlockedCompareExchange64(&g_writeLimit, 0, 0));
    if (offset > limit || size > limit - offset)
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    // The file pointer is moved first and the write goes without an OVERLAPPED record: under Wine a
    // write with an offset in an OVERLAPPED record costs a round trip to the server (completion
    // handling), a seek and a plain write do not.
    DWORD done = 0;
    if (!MoveTo(offset) || !::WriteFile(m_file, data, size, &done, nullptr))
        return Win32::ResultFromLastError();
    *written = done;
    return S_OK;
}

HRESULT CFilter::ReadAt(ULONGLONG offset, void* data, ULONG size, ULONG* read)
{
    Synchronization::CAutoLock lock(&m_fileLock);
    *read = 0;
    if (m_file == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    ULONGLONG fileSize = 0;
    HRESULT hr = FileSize(&fileSize);
    if (FAILED(hr) || size == 0 || offset >= fileSize)
        return hr;
    DWORD done = 0;
    if (!MoveTo(offset))
        return Win32::ResultFromLastError();
    if (!::ReadFile(m_file, data, size, &done, nullptr) && ::GetLastError() != ERROR_HANDLE_EOF)
        return Win32::ResultFromLastError();
    *read = done;
    return S_OK;
}

bool CFilter::MoveTo(ULONGLONG offset)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(m_file, position, nullptr, FILE_BEGIN) != FALSE;
}

HRESULT CFilter::Resize(ULONGLONG size)
{
    Synchronization::CAutoLock lock(&m_fileLock);
    if (m_file == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(m_file, position, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_file))
        return Win32::ResultFromLastError();
    return S_OK;
}

HRESULT CFilter::FileSize(ULONGLONG* size)
{
    Synchronization::CAutoLock lock(&m_fileLock);
    *size = 0;
    if (m_file == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(m_file, &length))
        return Win32::ResultFromLastError();
    *size = static_cast<ULONGLONG>(length.QuadPart);
    return S_OK;
}

} // namespace FileWriter
