#include "pcm_source_pin.h"

#include "pcm_source.h"

#include "stdax/media_type_operations.h"

#include <evcode.h>
#include <uuids.h>

#include <algorithm>

namespace PcmSource {

namespace {

// Long enough for a downstream filter that holds a sample to be stopped by the graph first.
constexpr DWORD StreamStopTimeout = 10000;
// Longest single wait while pacing, so that a stop request is seen soon.
constexpr LONGLONG LongestPacingWait = 20;

enum class Outcome { Delivered, EndOfStream, Ended };

} // namespace

// --- thread -------------------------------------------------------------------------------------------

CStreamThread::~CStreamThread()
{
    // Run uses the pin: stop before this part is gone.
    Stop();
}

HRESULT CStreamThread::Begin()
{
    const HRESULT hr = Start();
    if (SUCCEEDED(hr))
        SetStopTimeout(StreamStopTimeout);
    return hr;
}

HRESULT CStreamThread::OnStart()
{
    return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

HRESULT CStreamThread::Run()
{
    return m_pin.Stream(StopEvent());
}

HRESULT CStreamThread::OnStop()
{
    ::CoUninitialize();
    return S_OK;
}

// --- pin ----------------------------------------------------------------------------------------------

COutputPin::COutputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, const Settings& settings, HRESULT* result)
    : CBaseOutputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      m_owner(filter), m_settings(settings), m_signal(settings), m_thread(*this)
{
}

COutputPin::~COutputPin()
{
    ::InterlockedExchange(&m_stopping, 1);
    m_thread.Stop();
}

HRESULT COutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    AM_MEDIA_TYPE own;
    stdax::InitializeMediaType(&own);
    HRESULT hr = MakeMediaType(m_settings, &own);
    if (SUCCEEDED(hr)) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
        if (pmt->majortype == own.majortype && pmt->subtype == own.subtype && pmt->formattype == own.formattype) {
            if (own.cbFormat == 0) {
                hr = S_OK;
            } else if (pmt->cbFormat >= sizeof(WAVEFORMATEX) && pmt->pbFormat != nullptr &&
                       !::IsBadReadPtr(pmt->pbFormat, sizeof(WAVEFORMATEX))) {
                // What the samples will hold must be what the peer reads: every field but cbSize.
                const auto* theirs = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
                const auto* ours = reinterpret_cast<const WAVEFORMATEX*>(own.pbFormat);
                if (theirs->wFormatTag == ours->wFormatTag && theirs->nChannels == ours->nChannels &&
                    theirs->nSamplesPerSec == ours->nSamplesPerSec && theirs->nAvgBytesPerSec == ours->nAvgBytesPerSec &&
                    theirs->nBlockAlign == ours->nBlockAlign && theirs->wBitsPerSample == ours->wBitsPerSample)
                    hr = S_OK;
            }
        }
    }
    stdax::FreeMediaTypeContents(&own);
    return hr;
}

HRESULT COutputPin::OnGetMediaType(int, AM_MEDIA_TYPE* pmt)
{
    return MakeMediaType(m_settings, pmt);
}

HRESULT COutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    return DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT COutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    const LONG full = static_cast<LONG>(FramesPerBuffer(m_settings) * BytesPerFrame(m_settings));
    if (pProperties->cbBuffer < full)
        pProperties->cbBuffer = full;
    if (pProperties->cBuffers < 1)
        pProperties->cBuffers = m_settings.buffers;
    return S_OK;
}

HRESULT COutputPin::Active()
{
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    HRESULT hr = m_allocator->Commit();
    if (FAILED(hr))
        return hr;
    // Every run of the stream starts again at frame 0.
    m_signal.Reset();
    m_delivered = 0;
    m_deliveredFrames = 0;
    m_endOfStream = 0;
    m_streamResult = S_OK;
    ::InterlockedExchange(&m_stopping, 0);
    hr = m_thread.Begin();
    if (FAILED(hr))
        m_allocator->Decommit();
    return hr;
}

HRESULT COutputPin::Inactive()
{
    // Decommitting first wakes a thread that waits for a free buffer.
    const HRESULT decommitted = CBaseOutputPin::Inactive();
    ::InterlockedExchange(&m_stopping, 1);
    const HRESULT stopped = m_thread.Stop();
    if (FAILED(decommitted))
        return decommitted;
    return FAILED(stopped) ? stopped : S_OK;
}

HRESULT COutputPin::WaitForStreamTime(HANDLE stopEvent, REFERENCE_TIME due)
{
    for (;;) {
        DWORD wait = static_cast<DWORD>(LongestPacingWait);
        if (m_owner->State() == State_Running) {
            // Without a clock there is nothing to pace by: the sample goes out at once.
            if (m_owner->Clock() == nullptr)
                return S_OK;
            REFERENCE_TIME now = 0;
            if (SUCCEEDED(m_owner->StreamTime(&now))) {
                if (now >= due)
                    return S_OK;
                wait = static_cast<DWORD>(std::min<LONGLONG>((due - now) / 10000 + 1, LongestPacingWait));
            }
        }
        if (::WaitForSingleObject(stopEvent, wait) != WAIT_TIMEOUT)
            return S_FALSE;
    }
}

void COutputPin::Abort(HRESULT hr)
{
    m_streamResult = hr;
    IMediaEventSink* const sink = m_owner->EventSink();
    if (sink != nullptr)
        sink->Notify(EC_ERRORABORT, hr, 0);
}

HRESULT COutputPin::Stream(HANDLE stopEvent)
{
    const LONGLONG total = TotalFrames(m_settings);
    const ULONG perBuffer = FramesPerBuffer(m_settings);
    const ULONG bytesPerFrame = BytesPerFrame(m_settings);
    LONGLONG position = 0;
    Outcome outcome = Outcome::Delivered;

    while (outcome == Outcome::Delivered && m_stopping == 0) {
        ULONG frames = perBuffer;
        if (total >= 0) {
            if (position >= total) {
                outcome = Outcome::EndOfStream;
                break;
            }
            frames = static_cast<ULONG>(std::min<LONGLONG>(frames, total - position));
        }
        // A live source has the data once its last frame has been recorded.
        if (m_settings.realTime && WaitForStreamTime(stopEvent, TimeOfFrame(m_settings, position + frames)) != S_OK)
            break;

        IMediaSample* sample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr) || sample == nullptr) {
            // Decommitted: the filter is stopping.
            m_streamResult = FAILED(hr) ? hr : E_POINTER;
            break;
        }
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        const LONG room = sample->GetSize();
        if (SUCCEEDED(hr)) {
            frames = std::min<ULONG>(frames, room > 0 ? static_cast<ULONG>(room) / bytesPerFrame : 0);
            hr = frames > 0 ? S_OK : VFW_E_BUFFER_OVERFLOW;
        }
        if (SUCCEEDED(hr)) {
            m_signal.Fill(data, frames);
            hr = sample->SetActualDataLength(static_cast<LONG>(frames * bytesPerFrame));
        }
        if (SUCCEEDED(hr)) {
            REFERENCE_TIME start = TimeOfFrame(m_settings, position);
            REFERENCE_TIME stop = TimeOfFrame(m_settings, position + frames);
            if (m_settings.streamOutput) {
                start = position * bytesPerFrame;
                stop = (position + frames) * bytesPerFrame;
            }
            LONGLONG mediaStart = position, mediaStop = position + frames;
            sample->SetTime(&start, &stop);
            sample->SetMediaTime(&mediaStart, &mediaStop);
            sample->SetSyncPoint(TRUE);
            sample->SetPreroll(FALSE);
            sample->SetDiscontinuity(m_delivered == 0 ? TRUE : FALSE);
            if (m_settings.beforeDelivery)
                hr = m_settings.beforeDelivery(static_cast<ULONG>(m_delivered), sample);
        }
        if (hr == S_OK) {
            hr = Deliver(sample);
            sample->Release();
            if (hr == S_OK) {
                position += frames;
                ++m_delivered;
                m_deliveredFrames = position;
            } else {
                // Downstream wants no more (S_FALSE) or has stopped: streaming ends without a word.
                m_streamResult = hr;
                outcome = Outcome::Ended;
            }
        } else {
            sample->Release();
            if (hr == S_FALSE) {
                outcome = Outcome::EndOfStream;
            } else {
                Abort(hr);
                outcome = Outcome::Ended;
            }
        }
    }

    if (outcome == Outcome::EndOfStream && SUCCEEDED(DeliverEndOfStream()))
        m_endOfStream = 1;
    ::WaitForSingleObject(stopEvent, INFINITE);
    return S_OK;
}

} // namespace PcmSource
