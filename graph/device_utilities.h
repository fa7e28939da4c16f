#pragma once
// What the capture graph needs to put the platform's audio capture device into a graph and configure
// it: the capture format, the device's friendly name, its capture pin and buffer size, its audio input
// mixer, and the infinite tee's second output. Adding filters, finding a pin by direction and
// connecting pins are the filter graph wrapper's.
//
// Free functions without locks or logging; COM must be initialised on the calling thread. Every
// interface obtained on the way is released before a function returns.
#include <windows.h>
#include <dshow.h>

#include "graph/filter_graph.h"
#include "support/media_type.h"

namespace DirectShow {

// 16-bit PCM of 1 or 2 channels at the sample rate (Audio / PCM / WaveFormatEx, fixed-size samples of
// one frame); the record's format block is replaced by a new 18-byte WAVEFORMATEX. E_OUTOFMEMORY leaves
// the record as it was.
HRESULT MakePcmMediaType(CMediaType& mediaType, DWORD sampleRate, WORD channels = 1);

// The moniker's "FriendlyName" in a new string from the COM task allocator (the caller frees it with
// CoTaskMemFree). A name that is not a string is refused (DISP_E_TYPEMISMATCH).
HRESULT GetFriendlyName(IMoniker* moniker, wchar_t** name);

// The moniker's display name, the device's id: it stays the same while the device is present and
// tells apart devices of the same friendly name. A new string from the COM task allocator (the caller
// frees it with CoTaskMemFree).
HRESULT GetDeviceId(IMoniker* moniker, wchar_t** id);

// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED): the chosen input device is not present.
constexpr HRESULT DeviceNotPresent = static_cast<HRESULT>(0x8007048FL);

// The filter's first output pin whose pin category (IKsPropertySet, AMPROPSETID_Pin) is the given one;
// VFW_E_NOT_FOUND (*pin null) when none has it.
HRESULT FindPinByCategory(IBaseFilter* filter, REFGUID category, IPin** pin);

// VFW_E_NO_ACCEPTABLE_TYPES: the capture device refused stereo 16-bit PCM.
constexpr HRESULT NoStereoCapture = VFW_E_NO_ACCEPTABLE_TYPES;

// Adds the capture device that the moniker names to the graph under the name, and sets its capture
// pin to 16-bit PCM of the channels (1 or 2) at the sample rate in buffers of samplesPerBuffer frames.
// A device that refuses the stereo format fails with NoStereoCapture. *filter receives the device
// filter as soon as it joined the graph; *pin the capture pin when everything succeeded.
HRESULT InsertAudioCapturer(CFilterGraph& graph, IMoniker* moniker, DWORD sampleRate, DWORD samplesPerBuffer,
                            const wchar_t* name, IBaseFilter** filter, IPin** pin, WORD channels = 1);

// Suggests buffers of the given size to the pin's allocator negotiation, every other property left to
// the pin. E_INVALIDARG for 0 bytes (the pin is not asked).
HRESULT SuggestBufferSize(IPin* pin, long bytes);

// The device's audio input mixer: the filter's own when it reports a mix level, otherwise that of
// the first enabled input pin that reports one; E_NOTIMPL when there is none. Nothing is changed on
// the mixer.
HRESULT GetAMAudioInputMixer(IBaseFilter* filter, IAMAudioInputMixer** mixer);

// The filter's pin named exactly "Output2" (the infinite tee's second output); VFW_E_NOT_FOUND when
// it has none.
HRESULT FindOutput2Pin(IBaseFilter* filter, IPin** pin);

} // namespace DirectShow
