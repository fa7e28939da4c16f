#pragma once
// stdax::CEnumPins: the pin enumerator that CBaseFilter::EnumPins hands out.
//
// It holds a reference on its filter and remembers every pin it has handed out since its last
// Reset, so that a walk that restarts because the filter's pin set changed (the filter's pin
// version moved on) never returns a pin twice; a clone inherits that memory. Its COM frame is
// TEnumerator's; one thread at a time uses it.
#include "stdax/enumerator.h"

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <vector>

namespace stdax {

class CBaseFilter;

class CEnumPins : public TEnumerator<CEnumPins, IEnumPins, IID_IEnumPins> {
public:
    // Builds an enumerator with one reference on filter, a copy of source (a clone) or, without
    // source, a fresh walk from the first pin. Returns null when out of memory.
    static CEnumPins* Create(CBaseFilter* filter, const CEnumPins* source);

    HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) override;
    HRESULT STDMETHODCALLTYPE Reset() override;

    virtual ~CEnumPins();

private:
    friend class TEnumerator<CEnumPins, IEnumPins, IID_IEnumPins>;

    explicit CEnumPins(CBaseFilter* filter);
    bool IsOutOfSync() const;
    CEnumPins* Copy() const;
    void Restart();
    bool WasHandedOut(IPin* pin) const;

    int m_position;
    int m_pinCount;
    CBaseFilter* const m_filter;
    LONG m_version;
    std::vector<IPin*> m_handedOut; // identity only: no references held
};

} // namespace stdax
