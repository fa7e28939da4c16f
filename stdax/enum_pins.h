#pragma once
// stdax::CEnumPins: the pin enumerator that CBaseFilter::EnumPins hands out.
//
// It holds a reference on its filter and remembers every pin it has handed out since its last
// Reset, so that a walk that restarts because the filter's pin set changed (the filter's pin
// version moved on) never returns a pin twice; a clone inherits that memory. Not a framework COM
// object: it is allocated from the free store and lives until its last reference goes. Reference
// counting is interlocked; otherwise one thread at a time uses it.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <vector>

namespace stdax {

class CBaseFilter;

class CEnumPins : public IEnumPins {
public:
    // Builds an enumerator with one reference on filter, a copy of source (a clone) or, without
    // source, a fresh walk from the first pin. Returns null when out of memory.
    static CEnumPins* Create(CBaseFilter* filter, const CEnumPins* source);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override;

    virtual ~CEnumPins();

private:
    explicit CEnumPins(CBaseFilter* filter);
    bool IsOutOfSync() const;
    void Restart();
    bool WasHandedOut(IPin* pin) const;

    int m_position;
    int m_pinCount;
    CBaseFilter* const m_filter;
    LONG m_version;
    volatile LONG m_references;
    std::vector<IPin*> m_handedOut; // identity only: no references held
};

} // namespace stdax
