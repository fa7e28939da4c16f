#include "test_filter.h"

#include "stdax/media_type_operations.h"

#include <uuids.h>
#include <mmreg.h>

#include <algorithm>

namespace StdaxTest {

const CLSID CLSID_TestFilter = {0x5b0e4c2a, 0x7f31, 0x4e8b, {0x9c, 0x55, 0x1d, 0x2a, 0x3b, 0x4c, 0x5d, 0x61}};

const AMOVIESETUP_MEDIATYPE kPcmThenFloat[2] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
                                                {&MEDIATYPE_Audio, &MEDIASUBTYPE_IEEE_FLOAT}};
const AMOVIESETUP_MEDIATYPE kFloatThenPcm[2] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_IEEE_FLOAT},
                                                {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_MEDIATYPE kPcmOnly[1] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};

namespace {

const WCHAR kFilterName[] = L"Framework Test Filter";

} // namespace

void MakeAudioType(AM_MEDIA_TYPE* mt, const GUID& subtype, DWORD rate)
{
    stdax::InitializeMediaType(mt);
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = subtype;
    mt->formattype = FORMAT_WaveFormatEx;
    auto* format = reinterpret_cast<WAVEFORMATEX*>(stdax::ReallocateFormatBlock(mt, sizeof(WAVEFORMATEX)));
    const bool isFloat = subtype == MEDIASUBTYPE_IEEE_FLOAT;
    format->wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    format->nChannels = 1;
    format->nSamplesPerSec = rate;
    format->wBitsPerSample = isFloat ? 32 : 16;
    format->nBlockAlign = format->wBitsPerSample / 8;
    format->nAvgBytesPerSec = rate * format->nBlockAlign;
    format->cbSize = 0;
    mt->lSampleSize = format->nBlockAlign;
}

DWORD SampleRateOf(const AM_MEDIA_TYPE& mt)
{
    if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || mt.pbFormat == nullptr)
        return 0;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat)->nSamplesPerSec;
}

// --- pin ----------------------------------------------------------------------------------------------

CTestPin::CTestPin(CTestFilter* filter, const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result)
    : CBasePin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, name, result), m_owner(filter)
{
}

HRESULT CTestPin::Active()
{
    m_owner->m_calls.push_back(std::wstring(Name()) + L".Active");
    ++m_active;
    return m_activeResult;
}

HRESULT CTestPin::Inactive()
{
    m_owner->m_calls.push_back(std::wstring(Name()) + L".Inactive");
    ++m_inactive;
    return S_OK;
}

HRESULT CTestPin::Run(REFERENCE_TIME tStart)
{
    m_owner->m_calls.push_back(std::wstring(Name()) + L".Run");
    ++m_run;
    m_runStart = tStart;
    return S_OK;
}

HRESULT CTestPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt != nullptr) {
        m_checkedSubtypes.push_back(pmt->subtype);
        if (std::find(m_refusedSubtypes.begin(), m_refusedSubtypes.end(), pmt->subtype) != m_refusedSubtypes.end())
            return m_refusal;
    }
    return CBasePin::CheckMediaType(pmt);
}

HRESULT CTestPin::CompleteConnect(IPin* pReceivePin)
{
    ++m_completeConnect;
    const HRESULT hr = CBasePin::CompleteConnect(pReceivePin);
    return FAILED(m_completeConnectResult) ? m_completeConnectResult : hr;
}

HRESULT CTestPin::BreakConnect()
{
    ++m_breakConnect;
    return m_breakConnectResult;
}

HRESULT STDMETHODCALLTYPE CTestPin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    if (m_typesEnumerator == nullptr)
        return CBasePin::EnumMediaTypes(ppEnum);
    m_typesEnumerator->AddRef();
    *ppEnum = m_typesEnumerator;
    return S_OK;
}

HRESULT CTestPin::OnGetMediaType(int, AM_MEDIA_TYPE* pmt)
{
    AM_MEDIA_TYPE full;
    MakeAudioType(&full, pmt->subtype, m_offeredRate);
    stdax::FreeMediaTypeContents(pmt);
    *pmt = full;
    return S_OK;
}

// --- filter -------------------------------------------------------------------------------------------

CTestFilter* CTestFilter::Create(const CTestFilterTypes& types, HRESULT* result)
{
    HRESULT hr = S_OK;
    CTestFilter* const filter = new CTestFilter(types, &hr);
    if (filter == nullptr)
        hr = E_OUTOFMEMORY;
    else if (FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(filter);
    } else {
        filter->NonDelegatingAddRef();
    }
    if (result != nullptr)
        *result = hr;
    return SUCCEEDED(hr) ? filter : nullptr;
}

CTestFilterRecords::CTestFilterRecords(const CTestFilterTypes& types)
    : m_pinRecords{{const_cast<LPWSTR>(L"In"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, types.inputCount, types.input},
                   {const_cast<LPWSTR>(L"Out"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, types.outputCount, types.output}},
      m_filterRecord{&CLSID_TestFilter, kFilterName, MERIT_DO_NOT_USE, 2, m_pinRecords}
{
}

CTestFilter::CTestFilter(const CTestFilterTypes& types, HRESULT* result)
    : CTestFilterRecords(types), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    for (const AMOVIESETUP_PIN& record : m_pinRecords) {
        CTestPin* const pin = new CTestPin(this, &record, nullptr, result);
        if (pin == nullptr) {
            *result = E_OUTOFMEMORY;
            break;
        }
        m_pins.push_back(pin);
        if (FAILED(*result))
            break;
    }
}

CTestFilter::~CTestFilter()
{
    for (CTestPin* pin : m_pins)
        delete static_cast<COM::CUnknown*>(pin);
}

HRESULT CTestFilter::AddInputPin(LPCWSTR name)
{
    HRESULT hr = S_OK;
    CTestPin* const pin = new CTestPin(this, &m_pinRecords[0], name, &hr);
    if (pin == nullptr)
        return E_OUTOFMEMORY;
    m_pins.push_back(pin);
    return hr;
}

stdax::CBasePin* CTestFilter::GetPin(int n)
{
    if (n == m_nullPinIndex || n < 0 || n >= GetPinCount())
        return nullptr;
    return m_pins[n];
}

HRESULT STDMETHODCALLTYPE CTestFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_calls.push_back(L"Stop");
    for (CTestPin* pin : m_pins)
        if (pin->IsConnected())
            pin->Inactive();
    m_state = State_Stopped;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTestFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_calls.push_back(L"Pause");
    return CBaseFilter::Pause();
}

// --- helpers ------------------------------------------------------------------------------------------

CLiveObjectCheck::CLiveObjectCheck() : m_atStart(COM::CBaseObject::LiveObjects()) {}

LONG CLiveObjectCheck::Leaked() const
{
    return COM::CBaseObject::LiveObjects() - m_atStart;
}

HRESULT STDMETHODCALLTYPE CFixedClock::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
        *ppv = static_cast<IReferenceClock*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CFixedClock::GetTime(REFERENCE_TIME* time)
{
    if (SUCCEEDED(m_result))
        *time = m_time;
    return m_result;
}

HRESULT STDMETHODCALLTYPE CCountedUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IUnknown) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

} // namespace StdaxTest
