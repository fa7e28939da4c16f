#include "filters/volume_meter/gap_counter.h"

namespace VolumeMeter {

void CGapCounter::Restart(DWORD samplesPerSecond, DWORD bytesPerSecond)
{
    *this = CGapCounter();
    m_bytesPerSecond = bytesPerSecond;
    // Without a rate: a millisecond, a few frames at any rate a capture device uses.
    m_tolerance = samplesPerSecond != 0 ? kToleranceFrames * 10000000 / samplesPerSecond : 10000;
}

CGapCounter::Finding CGapCounter::Observe(const AM_SAMPLE2_PROPERTIES& sample)
{
    Finding finding;
    const bool hasStart = (sample.dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
    if (!hasStart && !m_untimedSeen) {
        m_untimedSeen = true;
        finding.firstUntimed = true;
    }
    if (m_started) {
        const bool late = hasStart && m_haveEnd && sample.tStart - m_end > m_tolerance;
        const bool flagged = (sample.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0;
        if (late || flagged) {
            finding.gap = true;
            finding.timed = hasStart && m_haveEnd;
            finding.at = m_end;
            finding.missing = finding.timed && sample.tStart > m_end ? sample.tStart - m_end : 0;
            ++m_gaps;
            m_missing += finding.missing;
        }
    }
    m_started = true;
    m_haveEnd = hasStart;
    if (hasStart) {
        if ((sample.dwSampleFlags & AM_SAMPLE_STOPVALID) != 0)
            m_end = sample.tStop;
        else if (m_bytesPerSecond != 0 && sample.lActual > 0)
            m_end = sample.tStart + static_cast<LONGLONG>(sample.lActual) * 10000000 / m_bytesPerSecond;
        else
            m_end = sample.tStart;
    }
    return finding;
}

} // namespace VolumeMeter
