#pragma once
// The infinite tee (CLSID_InfTee): one input pin "Input" and output pins "Output1", "Output2", ...;
// a new output appears whenever the last one gets connected, so one output is always free. Outputs
// are kept until the filter goes (an IPin a caller holds stays valid), so a disconnected output in
// the middle stays in place under its name.
//
// Lock order: the filter lock, then the receive lock. Receive and the stream notifications run
// under the receive lock; Stop takes it after the pins are inactive, so that a Receive in progress
// has ended when Stop returns.
#include "inf_tee_pins.h"

#include "stdax/base_filter.h"
#include "support/critical_section.h"

#include <vector>

namespace CapturePlatform {

struct CInfTeeRecords {
    CInfTeeRecords();

    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
    AMOVIESETUP_MEDIATYPE m_typeRecord;
    AMOVIESETUP_PIN m_pinRecords[2];
    AMOVIESETUP_FILTER m_filterRecord;
};

class CInfTee : private CInfTeeRecords, public stdax::CBaseFilter {
public:
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~CInfTee() override;

    int GetPinCount() override;
    stdax::CBasePin* GetPin(int n) override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    CTeeInputPin* Input() const { return m_input; }
    int OutputCount() const { return static_cast<int>(m_outputs.size()); }
    CTeeOutputPin* Output(int n) const { return m_outputs[static_cast<size_t>(n)]; }
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }

    // Called with the filter lock held when output has been connected: adds "Output<n+1>" if output
    // was the last one.
    HRESULT OutputConnected(CTeeOutputPin* output);

private:
    explicit CInfTee(HRESULT* result);
    HRESULT AddOutput();

    CTeeInputPin* m_input = nullptr;
    std::vector<CTeeOutputPin*> m_outputs;
};

} // namespace CapturePlatform
