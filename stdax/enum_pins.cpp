#include "stdax/enum_pins.h"

#include "stdax/base_filter.h"
#include "stdax/base_pin.h"

#include <algorithm>
#include <new>

namespace stdax {

CEnumPins* CEnumPins::Create(CBaseFilter* filter, const CEnumPins* source)
{
    CEnumPins* const enumerator = new (std::nothrow) CEnumPins(filter);
    if (enumerator == nullptr)
        return nullptr;
    if (source == nullptr) {
        enumerator->Restart();
        return enumerator;
    }
    enumerator->m_position = source->m_position;
    enumerator->m_pinCount = source->m_pinCount;
    enumerator->m_version = source->m_version;
    try {
        enumerator->m_handedOut = source->m_handedOut;
    } catch (const std::bad_alloc&) {
        enumerator->Release();
        return nullptr;
    }
    return enumerator;
}

CEnumPins::CEnumPins(CBaseFilter* filter)
    : m_position(0), m_pinCount(0), m_filter(filter), m_version(0)
{
    m_filter->BaseFilterInterface()->AddRef();
}

CEnumPins::~CEnumPins()
{
    m_filter->BaseFilterInterface()->Release();
}

bool CEnumPins::IsOutOfSync() const
{
    return m_version != m_filter->GetPinVersion();
}

CEnumPins* CEnumPins::Copy() const
{
    return Create(m_filter, this);
}

void CEnumPins::Restart()
{
    m_version = m_filter->GetPinVersion();
    m_pinCount = m_filter->GetPinCount();
    m_position = 0;
}

bool CEnumPins::WasHandedOut(IPin* pin) const
{
    return std::find(m_handedOut.begin(), m_handedOut.end(), pin) != m_handedOut.end();
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched)
{
    if (COM::IsBadPointerArray(ppPins, cPins))
        return E_POINTER;
    const HRESULT begun = BeginNext(cPins, pcFetched);
    if (FAILED(begun))
        return begun;

    // The pin set changed: walk it again from the start, passing over the pins already returned.
    if (IsOutOfSync()) {
        m_version = m_filter->GetPinVersion();
        m_pinCount = m_filter->GetPinCount();
        m_position = 0;
    }

    const ULONG remaining = m_pinCount > m_position ? static_cast<ULONG>(m_pinCount - m_position) : 0;
    ULONG wanted = std::min(remaining, cPins);
    if (wanted == 0)
        return S_FALSE;

    HRESULT failure = S_OK;
    ULONG fetched = 0;
    while (wanted > 0 && m_position < m_pinCount) {
        CBasePin* const pin = m_filter->GetPin(m_position++);
        if (pin == nullptr) {
            failure = VFW_E_ENUM_OUT_OF_SYNC;
            break;
        }
        IPin* const pinInterface = pin->PinInterface();
        if (WasHandedOut(pinInterface))
            continue;
        try {
            m_handedOut.push_back(pinInterface);
        } catch (const std::bad_alloc&) {
            failure = E_OUTOFMEMORY;
            break;
        }
        pinInterface->AddRef();
        ppPins[fetched++] = pinInterface;
        --wanted;
    }

    return EndNext(cPins, fetched, pcFetched, failure);
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG cPins)
{
    if (IsOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG remaining = m_pinCount > m_position ? static_cast<ULONG>(m_pinCount - m_position) : 0;
    if (cPins > remaining)
        return S_FALSE;
    m_position += static_cast<int>(cPins);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset()
{
    Restart();
    m_handedOut.clear();
    return S_OK;
}

} // namespace stdax
