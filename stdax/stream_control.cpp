#include "stdax/stream_control.h"

#include "support/system_error.h"

#include <evcode.h>

namespace {

// Waits shorter than this are not worth blocking the streaming thread for.
constexpr LONGLONG MinimumWaitMilliseconds = 10;
// The longest finite wait; INFINITE itself is kept for the paused state.
constexpr LONGLONG MaximumWaitMilliseconds = INFINITE - 1;

} // namespace

CBaseStreamControl::CBaseStreamControl(HRESULT* result)
    : m_streamState(STREAM_FLOWING), m_stateAfterStop(STREAM_FLOWING), m_startTime(MaxTime), m_stopTime(MaxTime),
      m_startCookie(0), m_stopCookie(0), m_controlFlushing(FALSE), m_sendExtraOnStop(FALSE), m_extraSent(FALSE),
      m_streamEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_clock(nullptr), m_eventSink(nullptr),
      m_filterState(State_Stopped), m_runStart(0)
{
    if (m_streamEvent == nullptr && result != nullptr && SUCCEEDED(*result))
        *result = Win32::ResultFromLastError();
}

CBaseStreamControl::~CBaseStreamControl()
{
    {
        Synchronization::CAutoLock lock(&m_controlLock);
        if (m_clock != nullptr) {
            IReferenceClock* const clock = m_clock;
            m_clock = nullptr;
            clock->Release();
        }
    }
    if (m_streamEvent != nullptr)
        ::CloseHandle(m_streamEvent);
}

HRESULT STDMETHODCALLTYPE CBaseStreamControl::StartAt(const REFERENCE_TIME* ptStart, DWORD dwCookie)
{
    if (ptStart != nullptr && ::IsBadReadPtr(ptStart, sizeof(*ptStart)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_controlLock);
    if (ptStart == nullptr) {
        // Start now.
        m_startTime = MaxTime;
        m_startCookie = 0;
        m_streamState = STREAM_FLOWING;
        Signal();
    } else if (*ptStart == MaxTime) {
        // Cancel the start: a stopped filter with a stop pending flows until that stop.
        m_startTime = MaxTime;
        m_startCookie = 0;
        if (m_filterState == State_Stopped && m_stopTime != MaxTime)
            m_streamState = STREAM_FLOWING;
    } else {
        // A stopped filter discards until the start, unless a stop comes first.
        if (m_filterState == State_Stopped && m_stopTime >= *ptStart)
            m_streamState = STREAM_DISCARDING;
        m_startTime = *ptStart;
        m_startCookie = dwCookie;
        Signal();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseStreamControl::StopAt(const REFERENCE_TIME* ptStop, BOOL bSendExtra, DWORD dwCookie)
{
    if (ptStop != nullptr && ::IsBadReadPtr(ptStop, sizeof(*ptStop)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_controlLock);
    m_sendExtraOnStop = FALSE;
    m_extraSent = FALSE;
    if (ptStop == nullptr) {
        // Stop now.
        m_stopTime = MaxTime;
        m_stopCookie = 0;
        m_streamState = STREAM_DISCARDING;
        m_stateAfterStop = STREAM_FLOWING;
        Signal();
    } else if (*ptStop == MaxTime) {
        // Cancel the stop: a stopped filter with a start pending discards until that start.
        m_stopTime = MaxTime;
        m_stopCookie = 0;
        m_stateAfterStop = STREAM_FLOWING;
        if (m_filterState == State_Stopped && m_startTime != MaxTime)
            m_streamState = STREAM_DISCARDING;
    } else {
        // A stopped filter flows until the stop, unless a start is due no later.
        if (m_filterState == State_Stopped && m_startTime > *ptStop)
            m_streamState = STREAM_FLOWING;
        m_sendExtraOnStop = bSendExtra;
        m_stopTime = *ptStop;
        m_stopCookie = dwCookie;
        m_stateAfterStop = STREAM_DISCARDING;
        Signal();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseStreamControl::GetInfo(AM_STREAM_INFO* pInfo)
{
    if (pInfo == nullptr || ::IsBadWritePtr(pInfo, sizeof(*pInfo)))
        return E_POINTER;
    // Under the lock: the times are 64-bit and must not be read half-changed.
    Synchronization::CAutoLock lock(&m_controlLock);
    pInfo->tStart = m_startTime;
    pInfo->tStop = m_stopTime;
    pInfo->dwStartCookie = m_startCookie;
    pInfo->dwStopCookie = m_stopCookie;
    pInfo->dwFlags = 0;
    if (m_startTime != MaxTime)
        pInfo->dwFlags |= AM_STREAM_INFO_START_DEFINED;
    if (m_stopTime != MaxTime)
        pInfo->dwFlags |= AM_STREAM_INFO_STOP_DEFINED;
    if (m_streamState == STREAM_DISCARDING)
        pInfo->dwFlags |= AM_STREAM_INFO_DISCARDING;
    if (m_sendExtraOnStop)
        pInfo->dwFlags |= AM_STREAM_INFO_STOP_SEND_EXTRA;
    return S_OK;
}

void CBaseStreamControl::SetSyncSource(IReferenceClock* pClock)
{
    Synchronization::CAutoLock lock(&m_controlLock);
    if (pClock != nullptr)
        pClock->AddRef();
    IReferenceClock* const old = m_clock;
    m_clock = pClock;
    if (old != nullptr)
        old->Release();
}

void CBaseStreamControl::SetFilterGraph(IMediaEventSink* pSink)
{
    Synchronization::CAutoLock lock(&m_controlLock);
    m_eventSink = pSink;
}

void CBaseStreamControl::Flushing(BOOL bInProgress)
{
    Synchronization::CAutoLock lock(&m_controlLock);
    m_controlFlushing = bInProgress;
    Signal();
}

void CBaseStreamControl::NotifyFilterState(FILTER_STATE newState, REFERENCE_TIME tStart)
{
    Synchronization::CAutoLock lock(&m_controlLock);
    if (newState == m_filterState)
        return;
    switch (newState) {
    case State_Paused:
        m_filterState = State_Paused;
        break;
    case State_Running:
        m_runStart = tStart;
        m_filterState = State_Running;
        break;
    case State_Stopped: {
        // Commands still pending take effect now, in the order of their times.
        const bool startPending = m_startTime != MaxTime;
        const bool stopPending = m_stopTime != MaxTime;
        if (startPending && !stopPending) {
            ExecuteStart();
        } else if (stopPending && !startPending) {
            ExecuteStop();
        } else if (startPending && stopPending) {
            if (m_startTime <= m_stopTime) {
                ExecuteStart();
                ExecuteStop();
            } else {
                ExecuteStop();
                ExecuteStart();
            }
        }
        m_streamState = STREAM_FLOWING;
        m_filterState = State_Stopped;
        break;
    }
    default:
        return;
    }
    Signal();
}

void CBaseStreamControl::ExecuteStart()
{
    m_streamState = STREAM_FLOWING;
    if (m_startCookie != 0 && m_eventSink != nullptr)
        m_eventSink->Notify(EC_STREAM_CONTROL_STARTED, reinterpret_cast<LONG_PTR>(static_cast<IAMStreamControl*>(this)),
                            m_startCookie);
    m_startTime = MaxTime;
    m_startCookie = 0;
}

void CBaseStreamControl::ExecuteStop()
{
    m_streamState = m_stateAfterStop;
    if (m_stopCookie != 0 && m_eventSink != nullptr)
        m_eventSink->Notify(EC_STREAM_CONTROL_STOPPED, reinterpret_cast<LONG_PTR>(static_cast<IAMStreamControl*>(this)),
                            m_stopCookie);
    m_stopTime = MaxTime;
    m_stopCookie = 0;
    m_stateAfterStop = STREAM_FLOWING;
}

StreamControlState CBaseStreamControl::CheckSampleTimes(REFERENCE_TIME start, REFERENCE_TIME stop)
{
    if (m_stopTime >= start) {
        // The stop lies at or after the sample's start: only a start within the sample matters.
        if (m_startTime < stop) {
            if (m_startTime > m_stopTime)
                ExecuteStop();
            ExecuteStart();
        }
    } else if (m_startTime >= stop) {
        ExecuteStop();
    } else if (m_stopTime < m_startTime) {
        ExecuteStop();
        ExecuteStart();
    } else {
        ExecuteStart();
        ExecuteStop();
    }
    return m_streamState;
}

StreamControlState CBaseStreamControl::CheckStreamState(IMediaSample* pSample)
{
    REFERENCE_TIME sampleStart = 0, sampleStop = 0;
    const bool hasTimes = pSample != nullptr && !::IsBadReadPtr(pSample, sizeof(void*)) &&
                          SUCCEEDED(pSample->GetTime(&sampleStart, &sampleStop));

    m_controlLock.Enter();
    for (;;) {
        if (m_controlFlushing || m_filterState == State_Stopped) {
            m_controlLock.Leave();
            return STREAM_DISCARDING;
        }
        if (!hasTimes) {
            const StreamControlState state = m_streamState;
            m_controlLock.Leave();
            return state;
        }
        const StreamControlState result = CheckSampleTimes(sampleStart, sampleStop);
        if (result == STREAM_FLOWING) {
            m_controlLock.Leave();
            return result;
        }
        // One more sample passes after a stop that asked for it.
        if (m_sendExtraOnStop && !m_extraSent && m_stopTime == MaxTime && m_filterState != State_Stopped) {
            m_extraSent = TRUE;
            m_controlLock.Leave();
            return STREAM_FLOWING;
        }
        if (m_clock == nullptr) {
            m_controlLock.Leave();
            return result;
        }
        // Hold the sample until its time, so that a start scheduled meanwhile can still let it pass.
        DWORD wait = INFINITE;
        if (m_filterState != State_Paused) {
            REFERENCE_TIME now = 0;
            if (FAILED(m_clock->GetTime(&now))) {
                m_controlLock.Leave();
                return result;
            }
            const LONGLONG milliseconds = (sampleStart - (now - m_runStart)) / 10000;
            if (milliseconds < MinimumWaitMilliseconds) {
                m_controlLock.Leave();
                return result;
            }
            wait = static_cast<DWORD>(milliseconds < MaximumWaitMilliseconds ? milliseconds : MaximumWaitMilliseconds);
        }
        m_controlLock.Leave();
        // Only a signal means something changed; a wait that cannot be made must not spin.
        if (::WaitForSingleObject(m_streamEvent, wait) != WAIT_OBJECT_0)
            return result;
        m_controlLock.Enter();
    }
}
