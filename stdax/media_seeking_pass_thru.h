#pragma once
// stdax::IMediaSeekingPassThruImpl: IMediaSeeking answered by the filter upstream of a given input
// pin. Every call looks up the pin connected to that input pin, asks it for IMediaSeeking and makes
// the same call there with the caller's arguments; the upstream filter validates them.
//
// The host (a filter or pin) mixes it in, supplies IUnknown (its owner's) and binds it to its input
// pin with SetSeekingPin. An unconnected pin and an upstream pin without IMediaSeeking both give
// E_NOTIMPL; an unbound pass-through gives E_UNEXPECTED. No lock: the peer is looked up afresh on
// every call through IPin::ConnectedTo.
#include <windows.h>
#include <strmif.h>

namespace stdax {

class IMediaSeekingPassThruImpl : public IMediaSeeking {
public:
    // pin: the input pin whose peer provides seeking; not reference-counted (the host's own pin).
    explicit IMediaSeekingPassThruImpl(IPin* pin = nullptr) : m_pin(pin) {}
    virtual ~IMediaSeekingPassThruImpl() = default;

    void SetSeekingPin(IPin* pin) { m_pin = pin; }
    IPin* SeekingPin() const { return m_pin; }

    // The upstream IMediaSeeking with one reference, or the reason there is none.
    HRESULT GetUpstreamSeeking(IMediaSeeking** ppSeeking);

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                                const GUID* pSourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                           DWORD dwStopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double dRate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) override;

private:
    IPin* m_pin;
};

} // namespace stdax
