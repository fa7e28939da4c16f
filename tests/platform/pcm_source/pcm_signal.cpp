#include "pcm_signal.h"

#include <cmath>
#include <cstring>

namespace PcmSource {

CSignal::CSignal(const Settings& settings) : m_settings(settings)
{
    m_settings.beforeDelivery = nullptr;
    Reset();
}

void CSignal::Reset()
{
    m_position = 0;
    m_noise = m_settings.seed != 0 ? m_settings.seed : 1;
}

double CSignal::NextValue(WORD channel)
{
    if (m_settings.waveform == Waveform::Noise) {
        // xorshift32: a full-period sequence that is the same on every run.
        m_noise ^= m_noise << 13;
        m_noise ^= m_noise >> 17;
        m_noise ^= m_noise << 5;
        return m_settings.amplitude * (static_cast<double>(m_noise) / 2147483648.0 - 1.0);
    }
    // Whole seconds and the rest are taken apart so that the phase stays exact over long streams.
    const double rate = m_settings.sampleRate;
    const double seconds = static_cast<double>(m_position / m_settings.sampleRate);
    const double rest = static_cast<double>(m_position % m_settings.sampleRate);
    const double frequency =
        channel == 1 && m_settings.secondFrequency > 0.0 ? m_settings.secondFrequency : m_settings.frequency;
    const double cycles = std::fmod(frequency * seconds, 1.0) + frequency * rest / rate;
    return m_settings.amplitude * std::sin(2.0 * 3.14159265358979323846 * cycles);
}

void CSignal::Fill(BYTE* out, ULONG frames)
{
    if (m_settings.waveform == Waveform::Silence) {
        const int silence = m_settings.bitsPerSample == 8 ? 128 : 0;
        std::memset(out, silence, static_cast<size_t>(frames) * BytesPerFrame(m_settings));
        m_position += frames;
        return;
    }
    for (ULONG f = 0; f < frames; ++f, ++m_position) {
        for (WORD c = 0; c < m_settings.channels; ++c) {
            const double value = NextValue(c);
            if (m_settings.bitsPerSample == 8) {
                *out++ = static_cast<BYTE>(128 + std::lround(value * 127.0));
            } else {
                const auto sample = static_cast<SHORT>(std::lround(value * 32767.0));
                *out++ = static_cast<BYTE>(sample & 0xFF);
                *out++ = static_cast<BYTE>((sample >> 8) & 0xFF);
            }
        }
    }
}

void CSignal::Skip(LONGLONG frames)
{
    if (frames <= 0)
        return;
    if (m_settings.waveform == Waveform::Noise) {
        for (LONGLONG f = 0; f < frames; ++f) {
            for (WORD c = 0; c < m_settings.channels; ++c)
                NextValue(c);
        }
    }
    m_position += frames;
}

std::vector<BYTE> CSignal::Generate(const Settings& settings, LONGLONG frames)
{
    std::vector<BYTE> bytes(static_cast<size_t>(frames) * BytesPerFrame(settings));
    CSignal signal(settings);
    if (!bytes.empty())
        signal.Fill(bytes.data(), static_cast<ULONG>(frames));
    return bytes;
}

} // namespace PcmSource
