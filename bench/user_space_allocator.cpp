#include "user_space_allocator.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace Bench {
namespace {

class CAllocator;

// One buffer of the allocator. It holds a reference on its allocator while it is handed out and goes
// back to the allocator's free list when its last reference is released.
class CSample final : public IMediaSample {
public:
    CSample(CAllocator* owner, BYTE* buffer, LONG size) : m_owner(owner), m_buffer(buffer), m_size(size) {}

    void Reset()
    {
        m_references = 1;
        m_actual = 0;
        m_timeValid = m_stopValid = m_mediaTimeValid = false;
        m_sync = m_preroll = m_discontinuity = FALSE;
        FreeType();
    }
    void FreeType()
    {
        if (m_type == nullptr)
            return;
        if (m_type->cbFormat != 0)
            ::CoTaskMemFree(m_type->pbFormat);
        if (m_type->pUnk != nullptr)
            m_type->pUnk->Release();
        ::CoTaskMemFree(m_type);
        m_type = nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMediaSample) {
            *object = static_cast<IMediaSample*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override
    {
        if (buffer == nullptr)
            return E_POINTER;
        *buffer = m_buffer;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return m_size; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        if (start == nullptr || stop == nullptr)
            return E_POINTER;
        if (!m_timeValid)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = m_start;
        *stop = m_stopValid ? m_stop : m_start + 1;
        return m_stopValid ? S_OK : VFW_S_NO_STOP_TIME;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override
    {
        m_timeValid = start != nullptr;
        m_stopValid = start != nullptr && stop != nullptr;
        if (start != nullptr)
            m_start = *start;
        if (stop != nullptr)
            m_stop = *stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) override
    {
        m_sync = sync;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return m_preroll ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) override
    {
        m_preroll = preroll;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return m_actual; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override
    {
        if (length < 0 || length > m_size)
            return VFW_E_BUFFER_OVERFLOW;
        m_actual = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override
    {
        if (type == nullptr)
            return E_POINTER;
        *type = nullptr;
        if (m_type == nullptr)
            return S_FALSE;
        auto* copy = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (copy == nullptr)
            return E_OUTOFMEMORY;
        *copy = *m_type;
        if (m_type->cbFormat != 0) {
            copy->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(m_type->cbFormat));
            if (copy->pbFormat == nullptr) {
                ::CoTaskMemFree(copy);
                return E_OUTOFMEMORY;
            }
            std::memcpy(copy->pbFormat, m_type->pbFormat, m_type->cbFormat);
        }
        if (copy->pUnk != nullptr)
            copy->pUnk->AddRef();
        *type = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* type) override
    {
        FreeType();
        if (type == nullptr)
            return S_OK;
        AM_MEDIA_TYPE* copy = nullptr;
        AM_MEDIA_TYPE* const previous = m_type;
        m_type = type;
        const HRESULT hr = GetMediaType(&copy);
        m_type = previous;
        if (hr == S_OK)
            m_type = copy;
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return m_discontinuity ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) override
    {
        m_discontinuity = discontinuity;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        if (start == nullptr || stop == nullptr)
            return E_POINTER;
        if (!m_mediaTimeValid)
            return VFW_E_MEDIA_TIME_NOT_SET;
        *start = m_mediaStart;
        *stop = m_mediaStop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* stop) override
    {
        m_mediaTimeValid = start != nullptr && stop != nullptr;
        if (m_mediaTimeValid) {
            m_mediaStart = *start;
            m_mediaStop = *stop;
        }
        return S_OK;
    }

private:
    CAllocator* const m_owner;
    BYTE* const m_buffer;
    const LONG m_size;
    volatile LONG m_references = 0;
    LONG m_actual = 0;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_stop = 0;
    LONGLONG m_mediaStart = 0;
    LONGLONG m_mediaStop = 0;
    bool m_timeValid = false;
    bool m_stopValid = false;
    bool m_mediaTimeValid = false;
    BOOL m_sync = FALSE;
    BOOL m_preroll = FALSE;
    BOOL m_discontinuity = FALSE;
    AM_MEDIA_TYPE* m_type = nullptr;
};

class CAllocator final : public IMemAllocator {
public:
    CAllocator()
    {
        ::InitializeCriticalSection(&m_lock);
        ::InitializeConditionVariable(&m_returned);
    }
    ~CAllocator()
    {
        Free();
        ::DeleteCriticalSection(&m_lock);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
            *object = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        if (request == nullptr || actual == nullptr)
            return E_POINTER;
        if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbAlign <= 0 || request->cbPrefix < 0)
            return VFW_E_BADALIGN;
        ::EnterCriticalSection(&m_lock);
        HRESULT hr = S_OK;
        if (m_committed)
            hr = VFW_E_ALREADY_COMMITTED;
        else if (m_outstanding != 0)
            hr = VFW_E_BUFFERS_OUTSTANDING;
        else
            *actual = m_properties = *request;
        ::LeaveCriticalSection(&m_lock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override
    {
        if (properties == nullptr)
            return E_POINTER;
        ::EnterCriticalSection(&m_lock);
        *properties = m_properties;
        ::LeaveCriticalSection(&m_lock);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override
    {
        ::EnterCriticalSection(&m_lock);
        HRESULT hr = S_OK;
        if (m_properties.cbBuffer <= 0)
            hr = VFW_E_SIZENOTSET;
        else if (!m_committed && m_samples.empty())
            hr = Allocate();
        if (SUCCEEDED(hr))
            m_committed = true;
        ::LeaveCriticalSection(&m_lock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Decommit() override
    {
        ::EnterCriticalSection(&m_lock);
        m_committed = false;
        if (m_outstanding == 0)
            Free();
        ::LeaveCriticalSection(&m_lock);
        // A GetBuffer that waits sees the allocator decommitted.
        ::WakeAllConditionVariable(&m_returned);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) override
    {
        if (sample == nullptr)
            return E_POINTER;
        *sample = nullptr;
        ::EnterCriticalSection(&m_lock);
        HRESULT hr = S_OK;
        for (;;) {
            if (!m_committed) {
                hr = VFW_E_NOT_COMMITTED;
                break;
            }
            if (!m_free.empty())
                break;
            if ((flags & AM_GBF_NOWAIT) != 0) {
                hr = VFW_E_TIMEOUT;
                break;
            }
            ::SleepConditionVariableCS(&m_returned, &m_lock, INFINITE);
        }
        if (hr == S_OK) {
            CSample* const taken = m_free.back();
            m_free.pop_back();
            ++m_outstanding;
            AddRef();   // each sample handed out keeps the allocator
            taken->Reset();
            *sample = taken;
        }
        ::LeaveCriticalSection(&m_lock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override
    {
        if (sample == nullptr)
            return E_POINTER;
        Return(static_cast<CSample*>(sample));
        return S_OK;
    }

    void Return(CSample* sample)
    {
        sample->FreeType();
        ::EnterCriticalSection(&m_lock);
        m_free.push_back(sample);
        --m_outstanding;
        if (!m_committed && m_outstanding == 0)
            Free();
        ::LeaveCriticalSection(&m_lock);
        ::WakeConditionVariable(&m_returned);
        Release();
    }

private:
    HRESULT Allocate()
    {
        const LONG align = m_properties.cbAlign;
        const size_t stride = (static_cast<size_t>(m_properties.cbPrefix + m_properties.cbBuffer) + align - 1) /
                              static_cast<size_t>(align) * static_cast<size_t>(align);
        m_memory = static_cast<BYTE*>(std::malloc(stride * static_cast<size_t>(m_properties.cBuffers) + align));
        if (m_memory == nullptr)
            return E_OUTOFMEMORY;
        BYTE* first = m_memory + m_properties.cbPrefix;
        const UINT_PTR misalignment = reinterpret_cast<UINT_PTR>(first) % static_cast<UINT_PTR>(align);
        if (misalignment != 0)
            first += align - static_cast<LONG>(misalignment);
        for (LONG i = 0; i < m_properties.cBuffers; ++i) {
            CSample* const sample = new (std::nothrow) CSample(this, first + stride * static_cast<size_t>(i),
                                                                m_properties.cbBuffer);
            if (sample == nullptr) {
                Free();
                return E_OUTOFMEMORY;
            }
            m_samples.push_back(sample);
            m_free.push_back(sample);
        }
        return S_OK;
    }
    void Free()
    {
        for (CSample* sample : m_samples)
            delete sample;
        m_samples.clear();
        m_free.clear();
        std::free(m_memory);
        m_memory = nullptr;
    }

    volatile LONG m_references = 1;
    CRITICAL_SECTION m_lock;
    CONDITION_VARIABLE m_returned;
    ALLOCATOR_PROPERTIES m_properties = {};
    bool m_committed = false;
    LONG m_outstanding = 0;
    BYTE* m_memory = nullptr;
    std::vector<CSample*> m_samples;
    std::vector<CSample*> m_free;
};

ULONG STDMETHODCALLTYPE CSample::Release()
{
    const LONG left = ::InterlockedDecrement(&m_references);
    if (left == 0)
        m_owner->Return(this);
    return static_cast<ULONG>(left);
}

class CFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        CAllocator* const allocator = new (std::nothrow) CAllocator();
        if (allocator == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT hr = allocator->QueryInterface(iid, object);
        allocator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

CFactory s_factory;

} // namespace

CUserSpaceAllocatorRegistration::CUserSpaceAllocatorRegistration() : m_cookie(0)
{
    m_result = ::CoRegisterClassObject(CLSID_MemoryAllocator, &s_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                       &m_cookie);
}

CUserSpaceAllocatorRegistration::~CUserSpaceAllocatorRegistration()
{
    if (SUCCEEDED(m_result))
        ::CoRevokeClassObject(m_cookie);
}

} // namespace Bench
