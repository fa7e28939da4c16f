#include "pcm_source.h"

#include <uuids.h>

namespace PcmSource {

const CLSID CLSID_PcmSource = {0x526e39d5, 0x30d3, 0x4194, {0x9e, 0xb3, 0x34, 0xb5, 0x9a, 0x83, 0xb6, 0x72}};

namespace {

const WCHAR kFilterName[] = L"PCM Test Source";

} // namespace

CFilterRecords::CFilterRecords(const Settings& settings)
    : m_settings(settings),
      m_typeRecord{settings.streamOutput ? &MEDIATYPE_Stream : &MEDIATYPE_Audio,
                   settings.streamOutput ? &GUID_NULL : &MEDIASUBTYPE_PCM},
      m_pinRecord{const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &m_typeRecord},
      m_filterRecord{&CLSID_PcmSource, kFilterName, MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
}

CFilter* CFilter::Create(const Settings& settings, HRESULT* result)
{
    HRESULT hr = CheckSettings(settings);
    CFilter* filter = nullptr;
    if (SUCCEEDED(hr)) {
        filter = new CFilter(settings, &hr);
        if (filter == nullptr) {
            hr = E_OUTOFMEMORY;
        } else if (FAILED(hr)) {
            delete static_cast<COM::CUnknown*>(filter);
            filter = nullptr;
        } else {
            filter->NonDelegatingAddRef();
        }
    }
    if (result != nullptr)
        *result = hr;
    return filter;
}

HRESULT CreateFilter(const Settings& settings, IBaseFilter** filter)
{
    if (filter == nullptr || ::IsBadWritePtr(filter, sizeof(*filter)))
        return E_POINTER;
    HRESULT hr = S_OK;
    CFilter* const created = CFilter::Create(settings, &hr);
    *filter = created != nullptr ? created->Interface() : nullptr;
    return hr;
}

CFilter::CFilter(const Settings& settings, HRESULT* result)
    : CFilterRecords(settings), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_pin = new COutputPin(this, &m_pinRecord, m_settings, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

stdax::CBasePin* CFilter::GetPin(int n)
{
    return n == 0 ? m_pin : nullptr;
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin != nullptr && m_pin->IsConnected())
        hr = m_pin->Inactive();
    m_state = State_Stopped;
    return hr;
}

} // namespace PcmSource
