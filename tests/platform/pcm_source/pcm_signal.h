#pragma once
// The sample values of the PCM test source, frame after frame from the start of the stream. Tests
// build a second generator from the same settings to know every byte the source delivered.
#include "pcm_settings.h"

#include <vector>

namespace PcmSource {

class CSignal {
public:
    explicit CSignal(const Settings& settings);

    // Back to frame 0 (and the noise seed).
    void Reset();
    // Writes the next frames (BytesPerFrame each) to out and advances.
    void Fill(BYTE* out, ULONG frames);
    // Advances past frames without writing them: what follows is what Fill would have given after
    // writing them (a tone keeps its phase with the frame count).
    void Skip(LONGLONG frames);
    LONGLONG Position() const { return m_position; }

    // The first frames of the stream the settings describe.
    static std::vector<BYTE> Generate(const Settings& settings, LONGLONG frames);

private:
    double NextValue(WORD channel);

    Settings m_settings;
    LONGLONG m_position = 0;
    UINT32 m_noise = 1;
};

} // namespace PcmSource
