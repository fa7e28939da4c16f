#pragma once
// A filter for the framework tests, built on the framework's base filter and base pin: one input
// and one output pin, each offering a table of audio types (completed with a WAVEFORMATEX block),
// with knobs that make single steps fail and a log of the calls the framework makes on them.
#include "stdax/base_filter.h"
#include "stdax/base_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

namespace StdaxTest {

// {5B0E4C2A-7F31-4E8B-9C55-1D2A3B4C5D61}
extern const CLSID CLSID_TestFilter;

// Offered type tables, in the order given.
extern const AMOVIESETUP_MEDIATYPE kPcmThenFloat[2];
extern const AMOVIESETUP_MEDIATYPE kFloatThenPcm[2];
extern const AMOVIESETUP_MEDIATYPE kPcmOnly[1];

class CTestFilter;

class CTestPin : public stdax::CBasePin {
public:
    CTestPin(CTestFilter* filter, const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result);

    // Knobs.
    HRESULT m_activeResult = S_OK;
    HRESULT m_breakConnectResult = S_OK;
    HRESULT m_completeConnectResult = S_OK;
    // CheckMediaType refuses these subtypes with m_refusal.
    std::vector<GUID> m_refusedSubtypes;
    HRESULT m_refusal = VFW_E_TYPE_NOT_ACCEPTED;
    // Sample rate written into the offered format blocks.
    DWORD m_offeredRate = 44100;
    // When set, EnumMediaTypes hands out this enumerator instead of the framework's.
    IEnumMediaTypes* m_typesEnumerator = nullptr;

    // What happened.
    std::vector<GUID> m_checkedSubtypes;
    int m_active = 0, m_inactive = 0, m_run = 0, m_breakConnect = 0, m_completeConnect = 0;
    REFERENCE_TIME m_runStart = -1;

    void SetTryMyTypesFirst(bool value) { m_tryMyTypesFirst = value; }
    void SetCanReconnectWhenActive(bool value) { m_canReconnectWhenActive = value; }
    void ChangeMediaTypeVersion() { ++m_mediaTypeVersion; }
    IQualityControl* QualitySink() const { return m_qualitySink; }

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;

    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

private:
    CTestFilter* const m_owner;
};

struct CTestFilterTypes {
    const AMOVIESETUP_MEDIATYPE* input = kPcmThenFloat;
    UINT inputCount = 2;
    const AMOVIESETUP_MEDIATYPE* output = kPcmThenFloat;
    UINT outputCount = 2;
};

// The filter's lock and its setup records, built before the base filter that checks them.
struct CTestFilterRecords {
    explicit CTestFilterRecords(const CTestFilterTypes& types);

    Synchronization::CCriticalSection m_filterLock;
    AMOVIESETUP_PIN m_pinRecords[2];
    AMOVIESETUP_FILTER m_filterRecord;
};

class CTestFilter : private CTestFilterRecords, public stdax::CBaseFilter {
public:
    // A new filter with one reference, or null (out of memory or a failed construction, whose
    // result is stored in *result).
    static CTestFilter* Create(const CTestFilterTypes& types = CTestFilterTypes(), HRESULT* result = nullptr);

    ~CTestFilter() override;

    int GetPinCount() override { return static_cast<int>(m_pins.size()); }
    stdax::CBasePin* GetPin(int n) override;

    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    CTestPin* Input() const { return m_pins[0]; }
    CTestPin* Output() const { return m_pins[1]; }
    IBaseFilter* Interface() { return BaseFilterInterface(); }
    void ChangePinVersion() { ++m_pinVersion; }
    // Adds one more input pin (a pin set that changes while enumerated).
    HRESULT AddInputPin(LPCWSTR name);

    // GetPin answers null for this index (-1: never).
    int m_nullPinIndex = -1;
    // In order: "Pause", "Stop", "<pin>.Active", "<pin>.Inactive", "<pin>.Run".
    std::vector<std::wstring> m_calls;

private:
    CTestFilter(const CTestFilterTypes& types, HRESULT* result);

    std::vector<CTestPin*> m_pins;
};

// The live objects of the framework (filters, pins) at the start of a test, checked at its end.
class CLiveObjectCheck {
public:
    CLiveObjectCheck();
    LONG Leaked() const;

private:
    LONG m_atStart;
};

// A reference clock that reports a time set by the test.
class CFixedClock : public IReferenceClock {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override;
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

    LONG m_references = 1;
    REFERENCE_TIME m_time = 0;
    HRESULT m_result = S_OK;
};

// An unknown that counts its references; never deleted.
class CCountedUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }
    LONG m_references = 1;
};

// A PCM or float WAVEFORMATEX media type record owning its format block.
void MakeAudioType(AM_MEDIA_TYPE* mt, const GUID& subtype, DWORD rate);
DWORD SampleRateOf(const AM_MEDIA_TYPE& mt);

// Initialises COM for one test (multithreaded apartment) and undoes it afterwards.
class CComApartment {
public:
    explicit CComApartment(DWORD model = COINIT_MULTITHREADED) : m_result(::CoInitializeEx(nullptr, model)) {}
    ~CComApartment()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};

} // namespace StdaxTest
