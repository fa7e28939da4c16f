#pragma once
// COversizedSample: a media sample whose valid length claims more bytes than its buffer holds, the
// buffer ending right where an inaccessible page begins. A receiver that trusts the length reads
// into that page and faults; one that checks it against GetSize refuses the sample. The buffer holds
// zeros; the sample carries no times and no media type.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

class COversizedSample : public IMediaSample {
public:
    // A new sample with one reference; size: bytes of the buffer, claimed: the valid length it reports.
    static COversizedSample* Create(long size, long claimed) { return new COversizedSample(size, claimed); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMediaSample) {
            *ppv = static_cast<IMediaSample*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP GetPointer(BYTE** ppBuffer) override
    {
        *ppBuffer = m_buffer;
        return m_buffer != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP_(long) GetSize() override { return m_size; }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    STDMETHODIMP IsSyncPoint() override { return S_OK; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(long) GetActualDataLength() override { return m_claimed; }
    STDMETHODIMP SetActualDataLength(long length) override
    {
        m_claimed = length;
        return S_OK;
    }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override
    {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

private:
    COversizedSample(long size, long claimed) : m_size(size), m_claimed(claimed)
    {
        SYSTEM_INFO system;
        ::GetSystemInfo(&system);
        const SIZE_T page = system.dwPageSize;
        const SIZE_T pages = (static_cast<SIZE_T>(size) + page - 1) / page;
        m_block = static_cast<BYTE*>(::VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE, PAGE_NOACCESS));
        if (m_block != nullptr && ::VirtualAlloc(m_block, pages * page, MEM_COMMIT, PAGE_READWRITE) != nullptr)
            m_buffer = m_block + pages * page - size;
    }
    virtual ~COversizedSample()
    {
        if (m_block != nullptr)
            ::VirtualFree(m_block, 0, MEM_RELEASE);
    }

    LONG m_references = 1;
    long m_size;
    long m_claimed;
    BYTE* m_block = nullptr;
    BYTE* m_buffer = nullptr;
};
