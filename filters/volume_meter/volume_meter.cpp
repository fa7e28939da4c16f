#include "filters/volume_meter/volume_meter.h"

#include "support/library_logs.h"
#include "support/trace_log.h"

#include <mmreg.h>
#include <uuids.h>

#include <cstring>

namespace VolumeMeter {

const CLSID CLSID_VolumeMeter = {0x3bb256e3, 0x0636, 0x4338, {0xb4, 0x2e, 0x25, 0xcd, 0xeb, 0x8f, 0x44, 0x06}};
const IID IID_IFilterProperties = {0xe1ba76be, 0xbdfe, 0x490e, {0x98, 0x91, 0xfa, 0xe4, 0x51, 0x39, 0x63, 0x53}};

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[1] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kPins[1] = {
    {const_cast<LPWSTR>(L"Input"), TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes}};
const AMOVIESETUP_FILTER kSetup = {&CLSID_VolumeMeter, L"VolumeMeter", MERIT_DO_NOT_USE, 1, kPins};

// Lowest and highest value of n unsigned 8-bit samples.
void Extremes8(const BYTE* data, ULONG n, int& low, int& high)
{
    BYTE lo = 255, hi = 0;
    for (ULONG i = 0; i < n; ++i) {
        const BYTE v = data[i];
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    low = lo;
    high = hi;
}

// Lowest and highest value of n signed 16-bit little-endian samples (the buffer need not be aligned).
void Extremes16(const BYTE* data, ULONG n, int& low, int& high)
{
    SHORT lo = 32767, hi = -32768;
    for (ULONG i = 0; i < n; ++i) {
        SHORT v;
        std::memcpy(&v, data + 2 * i, sizeof(v));
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    low = lo;
    high = hi;
}

} // namespace

COM::CUnknown* CFilter::Create(IUnknown* outer, HRESULT* result)
{
    return new CFilter(outer, result);
}

HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    return COM::CreateObject(&CFilter::Create, outer, riid, ppv);
}

CFilter::CFilter(IUnknown* outer, HRESULT* result)
    : CFilterLocks(), CBaseFilter(&kSetup, outer, &m_filterLock, result), m_pin(nullptr), m_bytesPerSample(0),
      m_samplesPerSecond(0), m_bytesPerSecond(0), m_resumed(0), m_pausedAfterRunning(false), m_fullScale(0.0),
      m_level(0.0), m_callback(nullptr)
{
    if (FAILED(*result))
        return;
    m_pin = new CInputPin(this, &kPins[0], result);
    if (m_pin == nullptr && SUCCEEDED(*result))
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IFilterProperties) {
        *ppv = static_cast<IFilterProperties*>(this);
        return COM::GetInterface(static_cast<IFilterProperties*>(this), ppv);
    }
    if (riid == IID_IMediaSeeking) {
        if (m_pin == nullptr)
            return E_NOTIMPL;
        Synchronization::CAutoLock lock(&m_filterLock);
        if (!m_pin->IsConnected())
            return E_NOTIMPL;
        *ppv = m_pin->SeekingInterface();
        return COM::GetInterface(m_pin->SeekingInterface(), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

stdax::CBasePin* CFilter::GetPin(int n)
{
    return n == 0 ? m_pin : nullptr;
}

HRESULT CFilter::DeriveFormat(const AM_MEDIA_TYPE& type)
{
    if (type.formattype != FORMAT_WaveFormatEx || type.cbFormat < sizeof(WAVEFORMATEX) || type.pbFormat == nullptr)
        return VFW_E_INVALID_MEDIA_TYPE;
    const WAVEFORMATEX& format = *reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    const WORD bits = format.wBitsPerSample;
    if (bits == 0)
        return VFW_E_INVALID_MEDIA_TYPE;
    m_bytesPerSample = static_cast<WORD>((bits + 7) / 8);
    m_samplesPerSecond = format.nSamplesPerSec;
    m_bytesPerSecond = format.nAvgBytesPerSec;
    // 2^bits - 1 without an integer shift that would overflow for wide samples.
    double scale = 1.0;
    for (WORD i = 0; i < bits; ++i)
        scale *= 2.0;
    m_fullScale = scale - 1.0;
    return S_OK;
}

HRESULT CFilter::Measure(const stdax::CMediaSampleProperties& sample, HRESULT readResult)
{
    HRESULT hr = readResult;
    if (sample.HasFlag(AM_SAMPLE_TYPECHANGED)) {
        hr = DeriveFormat(sample.MediaType());
        if (FAILED(hr))
            return hr;
    }
    const AM_SAMPLE2_PROPERTIES& props = sample.Properties();
    if (props.lActual < 1)
        return hr;
    // A valid length beyond the sample's buffer would be measured past the buffer's end.
    if (props.lActual > props.cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    if (m_bytesPerSample == 0 || m_fullScale == 0.0)
        return E_UNEXPECTED;
    const ULONG n = static_cast<ULONG>(props.lActual) / m_bytesPerSample;
    if (n == 0)
        return hr;

    int low = 0, high = 0;
    const bool measured = m_bytesPerSample == 1 || m_bytesPerSample == 2;
    if (m_bytesPerSample == 1)
        Extremes8(props.pbBuffer, n, low, high);
    else if (m_bytesPerSample == 2)
        Extremes16(props.pbBuffer, n, low, high);

    Synchronization::CAutoLock lock(&m_levelLock);
    // Other widths are not measured: the previous level stands.
    if (measured)
        m_level = (high - low) / m_fullScale;
    if (m_callback != nullptr)
        hr = m_callback(m_level);
    return hr;
}

void CFilter::CheckContinuity(const stdax::CMediaSampleProperties& sample)
{
    CGapCounter::Finding finding;
    ULONG gaps = 0;
    {
        Synchronization::CAutoLock lock(&m_gapLock);
        if (::InterlockedExchange(&m_resumed, 0) != 0)
            m_gapCounter.Resume();
        finding = m_gapCounter.Observe(sample.Properties());
        gaps = m_gapCounter.Gaps();
    }
    // Audio lost is kept in the log whatever its size.
    if (finding.firstUntimed)
        s_MainLog.PrintKept(L"VolumeMeter: the capture device sets no time stamps; only its discontinuities count as gaps.");
    if (!finding.gap)
        return;
    if (finding.timed)
        s_MainLog.PrintKept(L"VolumeMeter: gap %lu in the captured audio at %.3f s, %.1f ms lost.", gaps,
                            static_cast<double>(finding.at) / 1e7, static_cast<double>(finding.missing) / 1e4);
    else
        s_MainLog.PrintKept(L"VolumeMeter: gap %lu in the captured audio (a discontinuity), length unknown.", gaps);
}

HRESULT STDMETHODCALLTYPE CFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    const FILTER_STATE before = m_state;
    if (m_state == State_Paused)
        return S_OK;
    if (m_pin == nullptr || !m_pin->IsConnected()) {
        m_state = State_Paused;
        return S_OK;
    }
    if (m_state == State_Stopped) {
        HRESULT derived;
        {
            Synchronization::CAutoLock receive(&m_receiveLock);
            derived = DeriveFormat(m_pin->ConnectionType());
            {
                // A new recording: its own gap counts.
                Synchronization::CAutoLock gap(&m_gapLock);
                m_gapCounter.Restart(m_samplesPerSecond, m_bytesPerSecond);
                ::InterlockedExchange(&m_resumed, 0);
                m_pausedAfterRunning = false;
            }
            Synchronization::CAutoLock level(&m_levelLock);
            m_level = 0.0;
        }
        if (FAILED(derived))
            return derived;
    }
    // Paused after running: the stream that resumes later starts afresh (see Run).
    if (before == State_Running)
        m_pausedAfterRunning = true;
    m_pin->NotifyFilterState(State_Paused, 0);
    HRESULT hr = CBaseFilter::Pause();
    // From Running the meter has nothing to wait for, yet the pause is reported as not complete.
    if (before == State_Running && m_state == State_Paused && hr == S_OK)
        hr = S_FALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_pin != nullptr)
        m_pin->NotifyFilterState(State_Stopped, 0);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped) {
        // An unconnected pin has no allocator to decommit: stopping it is no failure.
        if (m_pin != nullptr && m_pin->IsConnected())
            hr = m_pin->Inactive();
        // A Receive in progress finishes first; one waiting for the lock then finds the filter
        // stopped, so no level is stored (and no callback made) after the reset.
        Synchronization::CAutoLock receive(&m_receiveLock);
        m_state = State_Stopped;
        if (SUCCEEDED(hr)) {
            Synchronization::CAutoLock level(&m_levelLock);
            m_level = 0.0;
        }
    }
    m_state = State_Stopped;
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Run(REFERENCE_TIME tStart)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    // Pause first, so that stream control hears Paused before Running and not the other way round.
    if (m_state == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    // The stream resumes: what the device delivers from here on is no gap, though it may be flagged or
    // re-timed. What it delivered while paused (the audio up to the pause) still follows on before.
    if (m_state == State_Paused && m_pausedAfterRunning) {
        m_pausedAfterRunning = false;
        ::InterlockedExchange(&m_resumed, 1);
    }
    if (m_pin != nullptr)
        m_pin->NotifyFilterState(State_Running, tStart);
    return CBaseFilter::Run(tStart);
}

HRESULT STDMETHODCALLTYPE CFilter::SetSyncSource(IReferenceClock* clock)
{
    if (m_pin != nullptr)
        m_pin->SetSyncSource(clock);
    return CBaseFilter::SetSyncSource(clock);
}

HRESULT STDMETHODCALLTYPE CFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    const HRESULT hr = CBaseFilter::JoinFilterGraph(graph, name);
    if (SUCCEEDED(hr) && m_pin != nullptr)
        m_pin->SetFilterGraph(EventSink());
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::IsActive()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    return m_state == State_Stopped ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE CFilter::GetLevel(double* level)
{
    if (level == nullptr || ::IsBadWritePtr(level, sizeof(*level)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_levelLock);
    *level = m_level;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilter::SetCallback(LevelCallback callback)
{
    if (callback == nullptr || ::IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback))))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_levelLock);
    m_callback = callback;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilter::GetDroppedAudio(ULONG* gaps, REFERENCE_TIME* missing)
{
    if (gaps == nullptr || ::IsBadWritePtr(gaps, sizeof(*gaps)) || missing == nullptr ||
        ::IsBadWritePtr(missing, sizeof(*missing)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_gapLock);
    *gaps = m_gapCounter.Gaps();
    *missing = m_gapCounter.Missing();
    return m_gapCounter.UntimedSeen() ? S_FALSE : S_OK;
}

} // namespace VolumeMeter
