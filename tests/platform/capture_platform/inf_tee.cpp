#include "inf_tee.h"

#include <uuids.h>

#include <cwchar>
#include <new>

namespace CapturePlatform {

namespace {

const WCHAR kTeeName[] = L"Infinite Pin Tee Filter";

} // namespace

CInfTeeRecords::CInfTeeRecords()
    : m_typeRecord{&GUID_NULL, &GUID_NULL},
      m_pinRecords{{const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &m_typeRecord},
                   {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, TRUE, nullptr, nullptr, 1, &m_typeRecord}},
      m_filterRecord{&CLSID_InfTee, kTeeName, MERIT_DO_NOT_USE, 2, m_pinRecords}
{
}

COM::CUnknown* CInfTee::CreateInstance(IUnknown*, HRESULT* result)
{
    return new CInfTee(result);
}

CInfTee::CInfTee(HRESULT* result) : CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_input = new CTeeInputPin(this, &m_pinRecords[0], result);
    if (m_input == nullptr) {
        *result = E_OUTOFMEMORY;
        return;
    }
    if (SUCCEEDED(*result))
        *result = AddOutput();
}

CInfTee::~CInfTee()
{
    for (CTeeOutputPin* output : m_outputs)
        delete static_cast<COM::CUnknown*>(output);
    delete static_cast<COM::CUnknown*>(m_input);
}

int CInfTee::GetPinCount()
{
    return (m_input != nullptr ? 1 : 0) + OutputCount();
}

stdax::CBasePin* CInfTee::GetPin(int n)
{
    if (n == 0)
        return m_input;
    if (n < 0 || n > OutputCount())
        return nullptr;
    return m_outputs[static_cast<size_t>(n - 1)];
}

HRESULT CInfTee::AddOutput()
{
    WCHAR name[32];
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"Output%d", OutputCount() + 1);
    HRESULT hr = S_OK;
    CTeeOutputPin* const output = new CTeeOutputPin(this, &m_pinRecords[1], name, &hr);
    if (output == nullptr)
        return E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        // A Receive walks the list: it must not see it change.
        Synchronization::CAutoLock lock(&m_receiveLock);
        try {
            m_outputs.push_back(output);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(output);
        return hr;
    }
    ++m_pinVersion;
    return S_OK;
}

HRESULT CInfTee::OutputConnected(CTeeOutputPin* output)
{
    if (m_outputs.empty() || m_outputs.back() != output)
        return S_OK;
    return AddOutput();
}

HRESULT STDMETHODCALLTYPE CInfTee::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            stdax::CBasePin* const pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            const HRESULT inactive = pin->Inactive();
            if (FAILED(inactive) && SUCCEEDED(hr))
                hr = inactive;
        }
    }
    m_state = State_Stopped;
    // A Receive that was under way has ended once this lock can be had.
    Synchronization::CAutoLock receiving(&m_receiveLock);
    return hr;
}

} // namespace CapturePlatform
