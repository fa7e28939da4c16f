#pragma once
// A PCM source filter for tests: one output pin that delivers a tone or noise (see Settings) from
// a streaming thread of its own, then end of stream. Built on the framework's base filter and
// base output pin; the model for sources that stand in for capture devices (Settings::realTime).
//
//     PcmSource::Settings settings;
//     settings.length = 5000000;                  // half a second
//     PcmSource::CFilter* source = PcmSource::CFilter::Create(settings, &hr);
//     graph->AddFilter(source->Interface(), L"Source");   // ... and release it when done
#include "pcm_settings.h"
#include "pcm_source_pin.h"

#include "stdax/base_filter.h"
#include "support/critical_section.h"

namespace PcmSource {

// {526E39D5-30D3-4194-9EB3-34B59A83B672}
extern const CLSID CLSID_PcmSource;

// The lock and the setup records, built before the base filter that checks them.
struct CFilterRecords {
    explicit CFilterRecords(const Settings& settings);

    Settings m_settings;
    Synchronization::CCriticalSection m_filterLock;
    AMOVIESETUP_MEDIATYPE m_typeRecord;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CFilter : private CFilterRecords, public stdax::CBaseFilter {
public:
    // A new filter with one reference on its IBaseFilter, or null with the reason in *result
    // (E_INVALIDARG for unusable settings, E_OUTOFMEMORY).
    static CFilter* Create(const Settings& settings, HRESULT* result = nullptr);
    ~CFilter() override;

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override;
    // Inactive on the connected pin (which ends streaming), then Stopped.
    HRESULT STDMETHODCALLTYPE Stop() override;

    COutputPin* Output() const { return m_pin; }
    IBaseFilter* Interface() { return BaseFilterInterface(); }
    const Settings& GetSettings() const { return m_settings; }

private:
    CFilter(const Settings& settings, HRESULT* result);

    COutputPin* m_pin = nullptr;
};

// The same, handing out the IBaseFilter only.
HRESULT CreateFilter(const Settings& settings, IBaseFilter** filter);

} // namespace PcmSource
