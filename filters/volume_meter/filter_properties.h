#pragma once
// VolumeMeter::IFilterProperties: what the capture graph asks of the volume meter filter: whether it
// streams, the last level it measured, the function that receives every new level, and the audio the
// capture device lost.
#include <windows.h>
#include <unknwn.h>
#include <strmif.h>

namespace VolumeMeter {

// Receives each measured level (0.0 to 1.0) on the streaming thread. Its result becomes the result
// of the sample that was measured, so a failure reaches the filter upstream.
using LevelCallback = HRESULT (*)(double level);

// {E1BA76BE-BDFE-490E-9891-FAE451396353}
extern const IID IID_IFilterProperties;

class IFilterProperties : public IUnknown {
public:
    // S_OK while the filter is Paused or Running, S_FALSE while Stopped.
    virtual HRESULT STDMETHODCALLTYPE IsActive() = 0;
    // The last measured level; E_POINTER for an unwritable pointer.
    virtual HRESULT STDMETHODCALLTYPE GetLevel(double* level) = 0;
    // Replaces the callback; E_POINTER (old callback kept) for null or a pointer that is not code.
    // Waits while a callback is running.
    virtual HRESULT STDMETHODCALLTYPE SetCallback(LevelCallback callback) = 0;
    // The gaps in the audio received since the filter last left Stopped (the current recording, or the
    // last one once stopped) and the audio time they miss, in 100-ns units (see gap_counter.h). S_OK;
    // S_FALSE when a sample came without time stamps: gaps are then counted from discontinuity flags,
    // and their length is not known. E_POINTER for an unwritable pointer. Never waits for a callback.
    virtual HRESULT STDMETHODCALLTYPE GetDroppedAudio(ULONG* gaps, REFERENCE_TIME* missing) = 0;
};

} // namespace VolumeMeter
