#include "wave_out_renderer.h"

#include "capture_platform.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

namespace CapturePlatform {

namespace {

const AMOVIESETUP_MEDIATYPE s_pcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN s_pin = {const_cast<LPWSTR>(L"Audio Input"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1,
                               s_pcm};
const AMOVIESETUP_FILTER s_filter = {&CLSID_WaveOutRenderer, kWaveOutRendererName, MERIT_DO_NOT_USE, 1, &s_pin};

const WAVEFORMATEX* PcmFormat(const AM_MEDIA_TYPE& type)
{
    if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM || type.formattype != FORMAT_WaveFormatEx
        || type.pbFormat == nullptr || type.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    const WAVEFORMATEX* format = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return format->wFormatTag == WAVE_FORMAT_PCM && format->nAvgBytesPerSec > 0 ? format : nullptr;
}

} // namespace

CWaveOutRendererPin::CWaveOutRendererPin(CWaveOutRenderer* filter, HRESULT* result)
    : CRenderedInputPin(filter, &filter->m_filterLock, &s_pin, nullptr, result), m_owner(filter)
{
}

HRESULT CWaveOutRendererPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    return PcmFormat(*pmt) != nullptr ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT STDMETHODCALLTYPE CWaveOutRendererPin::Receive(IMediaSample* sample)
{
    Synchronization::CAutoLock lock(&m_owner->m_receiveLock);
    HRESULT hr = CRenderedInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    hr = m_owner->Write(data, sample->GetActualDataLength());
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE CWaveOutRendererPin::EndOfStream()
{
    Synchronization::CAutoLock lock(&m_owner->m_receiveLock);
    // The end is told when it has been heard; a stop or flush meanwhile drops it.
    if (!m_owner->Drain())
        return S_OK;
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CWaveOutRendererPin::BeginFlush()
{
    ::InterlockedExchange(&m_owner->m_interrupted, 1);
    ::SetEvent(m_owner->m_done);
    HRESULT hr = CRenderedInputPin::BeginFlush();
    Synchronization::CAutoLock queue(&m_owner->m_queueLock);
    if (m_owner->m_waveOut != nullptr)
        ::waveOutReset(m_owner->m_waveOut);
    m_owner->Reap();
    return hr;
}

HRESULT STDMETHODCALLTYPE CWaveOutRendererPin::EndFlush()
{
    {
        // A Receive or EndOfStream that saw the flush has returned.
        Synchronization::CAutoLock receive(&m_owner->m_receiveLock);
        ::InterlockedExchange(&m_owner->m_interrupted, 0);
    }
    return CRenderedInputPin::EndFlush();
}

CWaveOutRenderer::CWaveOutRenderer(IUnknown* outer, HRESULT* result)
    : CWaveOutRendererLocks(), CBaseFilter(&s_filter, outer, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_pin = new CWaveOutRendererPin(this, result);
    if (m_pin == nullptr || m_done == nullptr)
        *result = E_OUTOFMEMORY;
    else
        SetSeekingPin(m_pin->PinInterface());
}

CWaveOutRenderer::~CWaveOutRenderer()
{
    Close();
    delete static_cast<COM::CUnknown*>(m_pin);
    if (m_done != nullptr)
        ::CloseHandle(m_done);
}

COM::CUnknown* CWaveOutRenderer::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CWaveOutRenderer(outer, result);
}

HRESULT STDMETHODCALLTYPE CWaveOutRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(this);
        return COM::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    if (riid == IID_IPersistPropertyBag) {
        *ppv = static_cast<IPersistPropertyBag*>(this);
        return COM::GetInterface(static_cast<IPersistPropertyBag*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CWaveOutRenderer::Load(IPropertyBag* bag, IErrorLog* log)
{
    if (bag == nullptr)
        return E_POINTER;
    VARIANT name;
    ::VariantInit(&name);
    name.vt = VT_BSTR;
    HRESULT hr = bag->Read(kWaveOutNameProperty, &name, log);
    if (FAILED(hr))
        return hr;
    if (name.vt != VT_BSTR || name.bstrVal == nullptr) {
        ::VariantClear(&name);
        return E_INVALIDARG;
    }
    const std::wstring wanted = name.bstrVal;
    ::VariantClear(&name);
    const UINT count = ::waveOutGetNumDevs();
    for (UINT device = 0; device < count; ++device) {
        WAVEOUTCAPSW caps = {};
        if (::waveOutGetDevCapsW(device, &caps, sizeof(caps)) == MMSYSERR_NOERROR
            && std::wstring(caps.szPname).compare(0, wanted.size(), wanted) == 0) {
            m_device = device;
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
}

HRESULT CWaveOutRenderer::Open()
{
    Synchronization::CAutoLock queue(&m_queueLock);
    if (m_waveOut != nullptr)
        return S_OK;
    const WAVEFORMATEX* format = PcmFormat(m_pin->ConnectionType());
    if (format == nullptr)
        return VFW_E_NOT_CONNECTED;
    const MMRESULT opened = ::waveOutOpen(&m_waveOut, m_device, format, reinterpret_cast<DWORD_PTR>(m_done), 0,
                                          CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        m_waveOut = nullptr;
        return E_FAIL;
    }
    m_bytesPerSecond = format->nAvgBytesPerSec;
    ::waveOutPause(m_waveOut);
    return S_OK;
}

void CWaveOutRenderer::Close()
{
    Synchronization::CAutoLock queue(&m_queueLock);
    if (m_waveOut == nullptr)
        return;
    ::waveOutReset(m_waveOut);
    Reap();
    ::waveOutClose(m_waveOut);
    m_waveOut = nullptr;
}

size_t CWaveOutRenderer::Reap()
{
    size_t queued = 0;
    for (auto buffer = m_buffers.begin(); buffer != m_buffers.end();) {
        if ((buffer->first.dwFlags & WHDR_DONE) != 0) {
            ::waveOutUnprepareHeader(m_waveOut, &buffer->first, sizeof(WAVEHDR));
            buffer = m_buffers.erase(buffer);
        } else {
            queued += buffer->first.dwBufferLength;
            ++buffer;
        }
    }
    return queued;
}

HRESULT CWaveOutRenderer::Write(const BYTE* data, long length)
{
    if (length <= 0)
        return S_OK;
    for (;;) {
        if (::InterlockedCompareExchange(&m_interrupted, 0, 0) != 0)
            return S_FALSE;
        {
            Synchronization::CAutoLock queue(&m_queueLock);
            if (m_waveOut == nullptr)
                return VFW_E_WRONG_STATE;
            if (Reap() * 1000 <= static_cast<size_t>(m_bytesPerSecond) * kQueuedMilliseconds) {
                m_buffers.emplace_back();
                auto& buffer = m_buffers.back();
                buffer.second.assign(data, data + length);
                buffer.first = {};
                buffer.first.lpData = reinterpret_cast<LPSTR>(buffer.second.data());
                buffer.first.dwBufferLength = static_cast<DWORD>(length);
                if (::waveOutPrepareHeader(m_waveOut, &buffer.first, sizeof(WAVEHDR)) != MMSYSERR_NOERROR
                    || ::waveOutWrite(m_waveOut, &buffer.first, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
                    m_buffers.pop_back();
                    return E_FAIL;
                }
                return S_OK;
            }
        }
        ::WaitForSingleObject(m_done, 50);
    }
}

bool CWaveOutRenderer::Drain()
{
    for (;;) {
        if (::InterlockedCompareExchange(&m_interrupted, 0, 0) != 0)
            return false;
        {
            Synchronization::CAutoLock queue(&m_queueLock);
            if (m_waveOut == nullptr || Reap() == 0)
                return m_waveOut != nullptr;
        }
        ::WaitForSingleObject(m_done, 50);
    }
}

HRESULT STDMETHODCALLTYPE CWaveOutRenderer::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    ::InterlockedExchange(&m_interrupted, 1);
    ::SetEvent(m_done);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin->IsConnected())
        hr = m_pin->Inactive();
    Close();
    {
        // A Receive or EndOfStream in progress has seen the stop and returned.
        Synchronization::CAutoLock receive(&m_receiveLock);
        ::InterlockedExchange(&m_interrupted, 0);
    }
    m_state = State_Stopped;
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE CWaveOutRenderer::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped && m_pin->IsConnected()) {
        const HRESULT opened = Open();
        if (FAILED(opened))
            return opened;
    }
    {
        Synchronization::CAutoLock queue(&m_queueLock);
        if (m_waveOut != nullptr)
            ::waveOutPause(m_waveOut);
    }
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE CWaveOutRenderer::Run(REFERENCE_TIME tStart)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped) {
        const HRESULT paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    {
        Synchronization::CAutoLock queue(&m_queueLock);
        if (m_waveOut != nullptr)
            ::waveOutRestart(m_waveOut);
    }
    return CBaseFilter::Run(tStart);
}

} // namespace CapturePlatform
