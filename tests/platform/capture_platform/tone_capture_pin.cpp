#include "tone_capture_pin.h"

#include "capture_platform.h"
#include "media_formats.h"
#include "tone_capture_filter.h"
#include "tone_capture_report.h"

#include "stdax/media_type_operations.h"

#include <uuids.h>

#include <algorithm>
#include <utility>

namespace CapturePlatform {

namespace {

// Long enough for a downstream filter that holds a sample to be stopped by the graph first.
constexpr DWORD kStreamStopTimeout = 10000;
// Longest single wait while pacing, so that a stop request is seen soon.
constexpr LONGLONG kLongestPacingWait = 20;
// Allocator buffers when no count was suggested and downstream asks for fewer.
constexpr LONG kDefaultBuffers = 4;

constexpr DWORD kLowestRate = 8000;
constexpr DWORD kHighestRate = 48000;

WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

PcmSource::Settings ToneSettings(const WAVEFORMATEX& format, double frequency)
{
    PcmSource::Settings settings;
    settings.waveform = PcmSource::Waveform::Tone;
    settings.frequency = frequency;
    // Stereo: the right channel has a tone of its own, so that a recording shows which side is which.
    settings.secondFrequency = frequency * kRightToneRatio;
    settings.amplitude = kToneAmplitude;
    settings.sampleRate = format.nSamplesPerSec;
    settings.channels = format.nChannels;
    settings.bitsPerSample = format.wBitsPerSample;
    return settings;
}

bool CanWrite(const void* p, UINT_PTR bytes)
{
    return p != nullptr && !::IsBadWritePtr(const_cast<void*>(p), bytes);
}

} // namespace

// --- thread -------------------------------------------------------------------------------------------

CToneCaptureThread::~CToneCaptureThread()
{
    // Run uses the pin: stop before this part is gone.
    Stop();
}

HRESULT CToneCaptureThread::Begin()
{
    const HRESULT hr = Start();
    if (SUCCEEDED(hr))
        SetStopTimeout(kStreamStopTimeout);
    return hr;
}

HRESULT CToneCaptureThread::OnStart()
{
    return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

HRESULT CToneCaptureThread::Run()
{
    return m_pin.Stream(StopEvent());
}

HRESULT CToneCaptureThread::OnStop()
{
    ::CoUninitialize();
    return S_OK;
}

// --- pin ----------------------------------------------------------------------------------------------

CToneCapturePin::CToneCapturePin(CToneCaptureFilter* filter, const AMOVIESETUP_PIN* setup,
                                 CaptureOptions options, HRESULT* result)
    : CBaseOutputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      m_owner(filter), m_options(std::move(options)), m_frequency(kToneFrequency),
      m_format(PcmFormat(kDefaultRate, 1, 16)), m_suggested{-1, -1, -1, -1},
      m_signal(ToneSettings(m_format, m_frequency)), m_signalFrequency(m_frequency), m_thread(*this)
{
}

CToneCapturePin::~CToneCapturePin()
{
    m_thread.Stop();
}

bool CToneCapturePin::IsSupported(const WAVEFORMATEX& format)
{
    return IsConsistentPcm(format) && format.nSamplesPerSec >= kLowestRate && format.nSamplesPerSec <= kHighestRate;
}

HRESULT CToneCapturePin::SetToneFrequency(double frequency)
{
    if (!(frequency > 0.0 && frequency < kLowestRate / 2))
        return E_INVALIDARG;
    m_frequency = frequency;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadReadPtr(ppv, sizeof(*ppv)) || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IKsPropertySet) {
        *ppv = static_cast<IKsPropertySet*>(this);
        return COM::GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    }
    if (riid == IID_IAMStreamConfig) {
        *ppv = static_cast<IAMStreamConfig*>(this);
        return COM::GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    }
    if (riid == IID_IAMBufferNegotiation) {
        *ppv = static_cast<IAMBufferNegotiation*>(this);
        return COM::GetInterface(static_cast<IAMBufferNegotiation*>(this), ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CToneCapturePin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    WAVEFORMATEX format;
    const HRESULT hr = ReadPcmFormat(pmt, &format);
    if (FAILED(hr))
        return hr;
    return IsSupported(format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CToneCapturePin::SetMediaType(const AM_MEDIA_TYPE* pmt)
{
    WAVEFORMATEX format;
    HRESULT hr = ReadPcmFormat(pmt, &format);
    if (SUCCEEDED(hr))
        hr = CBaseOutputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr))
        m_format = format;
    return hr;
}

HRESULT CToneCapturePin::GetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    if (position < 0)
        return E_INVALIDARG;
    if (pmt == nullptr)
        return E_POINTER;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    Synchronization::CAutoLock lock(m_lock);
    stdax::FreeMediaTypeContents(pmt);
    return MakeAudioMediaType(m_format, pmt);
}

HRESULT CToneCapturePin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    return DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT CToneCapturePin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    const LONG frame = m_format.nBlockAlign;
    LONG bytes = static_cast<LONG>(m_format.nAvgBytesPerSec * kDefaultBufferMilliseconds / 1000);
    if (m_suggested.cbBuffer > 0)
        bytes = m_suggested.cbBuffer;
    // Whole frames, at least one.
    bytes = std::max<LONG>(bytes / frame * frame, frame);
    pProperties->cbBuffer = bytes;
    if (m_suggested.cBuffers > 0)
        pProperties->cBuffers = m_suggested.cBuffers;
    else if (pProperties->cBuffers < kDefaultBuffers)
        pProperties->cBuffers = kDefaultBuffers;
    if (m_suggested.cbAlign > 0)
        pProperties->cbAlign = m_suggested.cbAlign;
    if (m_suggested.cbPrefix >= 0)
        pProperties->cbPrefix = m_suggested.cbPrefix;
    return S_OK;
}

namespace {
volatile LONG g_failNextStart = S_OK;
}

void FailNextStart(HRESULT failure)
{
    ::InterlockedExchange(&g_failNextStart, failure);
}

HRESULT CToneCapturePin::Active()
{
    const HRESULT injected = ::InterlockedExchange(&g_failNextStart, S_OK);
    if (FAILED(injected))
        return injected;
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    HRESULT hr = m_allocator->Commit();
    if (FAILED(hr))
        return hr;
    // Every run of the stream starts again at frame 0.
    m_signalFrequency = m_frequency;
    m_signal = PcmSource::CSignal(ToneSettings(m_format, m_signalFrequency));
    hr = m_thread.Begin();
    if (FAILED(hr))
        m_allocator->Decommit();
    return hr;
}

HRESULT CToneCapturePin::Inactive()
{
    // Decommitting first wakes a thread that waits for a free buffer.
    const HRESULT decommitted = CBaseOutputPin::Inactive();
    const HRESULT stopped = m_thread.Stop();
    if (FAILED(decommitted))
        return decommitted;
    return FAILED(stopped) ? stopped : S_OK;
}

// --- IKsPropertySet -----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCapturePin::Set(REFGUID guidPropSet, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    if (guidPropSet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    // The pin category is read only.
    return E_PROP_ID_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                                               DWORD cbPropData, DWORD* pcbReturned)
{
    if (guidPropSet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (pcbReturned != nullptr && !CanWrite(pcbReturned, sizeof(*pcbReturned)))
        return E_POINTER;
    // Without a buffer the caller learns the size it needs.
    if (pPropData == nullptr) {
        if (pcbReturned == nullptr)
            return E_POINTER;
        *pcbReturned = sizeof(GUID);
        return S_OK;
    }
    if (cbPropData < sizeof(GUID))
        return E_UNEXPECTED;
    if (!CanWrite(pPropData, sizeof(GUID)))
        return E_POINTER;
    *static_cast<GUID*>(pPropData) = PIN_CATEGORY_CAPTURE;
    if (pcbReturned != nullptr)
        *pcbReturned = sizeof(GUID);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport)
{
    if (guidPropSet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport != nullptr) {
        if (!CanWrite(pTypeSupport, sizeof(*pTypeSupport)))
            return E_POINTER;
        *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    }
    return S_OK;
}

// --- IAMStreamConfig ----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCapturePin::SetFormat(AM_MEDIA_TYPE* pmt)
{
    WAVEFORMATEX format;
    HRESULT hr = ReadPcmFormat(pmt, &format);
    if (hr == E_POINTER)
        return hr;
    if (FAILED(hr) || !IsSupported(format) || (m_options.monoOnly && format.nChannels != 1))
        return VFW_E_INVALIDMEDIATYPE;
    Synchronization::CAutoLock lock(m_lock);
    if (!m_filter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (IsConnected()) {
        const WAVEFORMATEX& current = m_format;
        const bool same = current.nChannels == format.nChannels && current.nSamplesPerSec == format.nSamplesPerSec &&
                          current.wBitsPerSample == format.wBitsPerSample;
        return same ? S_OK : VFW_E_ALREADY_CONNECTED;
    }
    m_format = format;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::GetFormat(AM_MEDIA_TYPE** ppmt)
{
    if (!CanWrite(ppmt, sizeof(*ppmt)))
        return E_POINTER;
    *ppmt = nullptr;
    AM_MEDIA_TYPE* const record = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (record == nullptr)
        return E_OUTOFMEMORY;
    stdax::InitializeMediaType(record);
    Synchronization::CAutoLock lock(m_lock);
    const HRESULT hr = MakeAudioMediaType(m_format, record);
    if (FAILED(hr)) {
        ::CoTaskMemFree(record);
        return hr;
    }
    *ppmt = record;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::GetNumberOfCapabilities(int* piCount, int* piSize)
{
    if (!CanWrite(piCount, sizeof(*piCount)) || !CanWrite(piSize, sizeof(*piSize)))
        return E_POINTER;
    *piCount = 1;
    *piSize = sizeof(AUDIO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC)
{
    if (!CanWrite(ppmt, sizeof(*ppmt)) || !CanWrite(pSCC, sizeof(AUDIO_STREAM_CONFIG_CAPS)))
        return E_POINTER;
    if (iIndex < 0)
        return E_INVALIDARG;
    if (iIndex > 0)
        return S_FALSE;
    const HRESULT hr = GetFormat(ppmt);
    if (FAILED(hr))
        return hr;
    AUDIO_STREAM_CONFIG_CAPS caps = {};
    caps.guid = MEDIATYPE_Audio;
    caps.MinimumChannels = 1;
    caps.MaximumChannels = 2;
    caps.ChannelsGranularity = 1;
    caps.MinimumBitsPerSample = 8;
    caps.MaximumBitsPerSample = 16;
    caps.BitsPerSampleGranularity = 8;
    caps.MinimumSampleFrequency = kLowestRate;
    caps.MaximumSampleFrequency = kHighestRate;
    caps.SampleFrequencyGranularity = 1;
    *reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(pSCC) = caps;
    return S_OK;
}

// --- IAMBufferNegotiation -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCapturePin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop)
{
    if (pprop == nullptr || ::IsBadReadPtr(pprop, sizeof(*pprop)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    m_suggested = *pprop;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCapturePin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop)
{
    if (!CanWrite(pprop, sizeof(*pprop)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->GetProperties(pprop);
}

// --- streaming ----------------------------------------------------------------------------------------

REFERENCE_TIME CToneCapturePin::TimeOfFrame(LONGLONG frame) const
{
    return frame * 10000000 / m_format.nSamplesPerSec;
}

HRESULT CToneCapturePin::WaitForStreamTime(HANDLE stopEvent, REFERENCE_TIME due, bool paced)
{
    for (;;) {
        DWORD wait = static_cast<DWORD>(kLongestPacingWait);
        if (m_owner->State() == State_Running) {
            // Without a clock there is nothing to pace by: the buffer goes out at once.
            if (!paced || m_owner->Clock() == nullptr)
                return S_OK;
            REFERENCE_TIME now = 0;
            if (SUCCEEDED(m_owner->StreamTime(&now))) {
                if (now >= due)
                    return S_OK;
                wait = static_cast<DWORD>(std::min<LONGLONG>((due - now) / 10000 + 1, kLongestPacingWait));
            }
        }
        if (::WaitForSingleObject(stopEvent, wait) != WAIT_TIMEOUT)
            return S_FALSE;
    }
}

LONGLONG CToneCapturePin::FramesToDrop(LONGLONG position, ULONG bufferFrames) const
{
    REFERENCE_TIME now = 0;
    if (m_owner->State() != State_Running || m_owner->Clock() == nullptr || FAILED(m_owner->StreamTime(&now)))
        return 0;
    const LONGLONG rate = m_format.nSamplesPerSec;
    const LONGLONG recorded = now / 10000000 * rate + now % 10000000 * rate / 10000000;
    const LONGLONG held = std::max<LONGLONG>(static_cast<LONGLONG>(m_options.holdMilliseconds) * rate / 1000,
                                             bufferFrames);
    const LONGLONG excess = recorded - position - held;
    if (excess <= 0)
        return 0;
    return (excess + bufferFrames - 1) / bufferFrames * bufferFrames;
}

HRESULT CToneCapturePin::Stream(HANDLE stopEvent)
{
    const ULONG frameBytes = m_format.nBlockAlign;
    const bool paced = !m_options.fast;
    CToneCaptureReport report(m_options.reportPath, m_format.nSamplesPerSec, m_signalFrequency,
                              m_options.holdMilliseconds, m_options.fast);
    LONGLONG position = 0;
    bool discontinuity = true;
    bool stalled = false;

    while (::WaitForSingleObject(stopEvent, 0) == WAIT_TIMEOUT && !m_owner->IsDeviceLost()) {
        IMediaSample* sample = nullptr;
        // Decommitted: the filter is stopping.
        if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || sample == nullptr)
            break;
        BYTE* data = nullptr;
        const LONG room = sample->GetSize();
        const ULONG frames = room > 0 ? static_cast<ULONG>(room) / frameBytes : 0;
        if (frames == 0 || FAILED(sample->GetPointer(&data))) {
            sample->Release();
            break;
        }
        // The device recorded on while this thread was away: what it could not hold is lost.
        const LONGLONG dropped = paced ? FramesToDrop(position, frames) : 0;
        if (dropped > 0) {
            report.Dropped(TimeOfFrame(position), dropped, TimeOfFrame(position + dropped) - TimeOfFrame(position));
            m_signal.Skip(dropped);
            position += dropped;
            discontinuity = true;
        }
        // The buffer is full once its last frame has been recorded.
        if (WaitForStreamTime(stopEvent, TimeOfFrame(position + frames), paced) != S_OK || m_owner->IsDeviceLost()) {
            sample->Release();
            break;
        }
        m_signal.Fill(data, frames);
        sample->SetActualDataLength(static_cast<LONG>(frames * frameBytes));
        REFERENCE_TIME start = TimeOfFrame(position);
        REFERENCE_TIME stop = TimeOfFrame(position + frames);
        LONGLONG mediaStart = position;
        LONGLONG mediaStop = position + frames;
        sample->SetTime(&start, &stop);
        sample->SetMediaTime(&mediaStart, &mediaStop);
        sample->SetSyncPoint(TRUE);
        sample->SetPreroll(FALSE);
        sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        const HRESULT delivered = Deliver(sample);
        sample->Release();
        // Downstream wants no more or has stopped: streaming ends without a word.
        if (delivered != S_OK)
            break;
        report.Delivered(frames);
        position += frames;
        discontinuity = false;
        // The forced drop: the thread is away for longer than the device holds.
        if (paced && m_options.dropAt && !stalled &&
            TimeOfFrame(position) >= static_cast<REFERENCE_TIME>(m_options.dropAtMilliseconds) * 10000) {
            stalled = true;
            if (::WaitForSingleObject(stopEvent, m_options.holdMilliseconds + 100) != WAIT_TIMEOUT)
                break;
        }
    }

    report.Stopped();
    ::WaitForSingleObject(stopEvent, INFINITE);
    return S_OK;
}

} // namespace CapturePlatform
