#pragma once
// CFilterGraph_Capture builds the graph that records: the default audio capture device (or the one
// chosen by its id), set to mono
// 16-bit PCM at the requested rate in 40 ms buffers, feeds an infinite tee. The tee's first output
// goes to the volume meter, which hands every level to VolumeMeter_Callback; its second output,
// "Output2", goes through an encoder into a writer:
//   - wave format tag 85 (MPEG audio Layer III): the library's MP3 encoder and the platform's File Writer;
//   - any other tag: the first installed audio compressor that produces the tag, and the library's
//     WAV writer.
// Only the building is done here; running, pausing and stopping are the transport natives' work.
//
// Init and Free hold the object's own lock. Init initialises COM on its thread and undoes every
// initialisation there before it returns; Free may run on any thread and initialises nothing.
#include <windows.h>
#include <dshow.h>

#include "filters/volume_meter/filter_properties.h"
#include "graph/capture_options.h"
#include "graph/filter_enumerator.h"
#include "graph/filter_graph.h"
#include "stdax/com/ptr.h"
#include "support/critical_section.h"

// The level callback the volume meter is given: defined by the Java binding (it calls "InputLevel");
// programs that use the graph without the binding define their own.
HRESULT VolumeMeter_Callback(double level);

class CFilterGraph_Capture : public DirectShow::CFilterGraph {
public:
    // The wave format tag that selects the MP3 chain (only the low 16 bits of a tag count).
    static constexpr WORD MpegLayer3Tag = 0x0055;

    CFilterGraph_Capture();
    // Frees whatever is still held.
    ~CFilterGraph_Capture() override;

    // Builds the recording graph into the file at path. sampleRate in Hz; bitRate in bit/s counts for
    // MP3 only. deviceId names the audio input device by its id (see CInputDeviceList); null records
    // from the default device. A device id that names no present device fails with
    // DirectShow::DeviceNotPresent before anything is added. A graph still held is refused
    // (E_UNEXPECTED) and stays as it is; a build that fails half-way keeps what it built until Free.
    HRESULT Init(const wchar_t* path, int formatTag, int sampleRate, int bitRate, const wchar_t* deviceId = nullptr);
    // As above with every option of the record (channels, variable bit rate, the tap that receives the
    // recorded bytes). A stereo recording from a device that refuses stereo fails with
    // DirectShow::NoStereoCapture before any writer is added. With a tap, path may be null or empty:
    // the library's stream sink then stands in for the writer and nothing is written to disk. The tap
    // is told the format once the chain is connected, and its End once Free has released the graph.
    HRESULT Init(const wchar_t* path, const CaptureOptions& options, const wchar_t* deviceId = nullptr);

    // Adds the volume meter behind the upstream output pin and gives it the callback.
    HRESULT InsertVolumeMeter(IPin* upstream, VolumeMeter::LevelCallback callback);
    // Adds the encoder for the format tag behind the upstream output pin and the writer of path behind it.
    HRESULT InsertEncoderChain(int formatTag, IPin* upstream, const wchar_t* path, int bitRate);
    HRESULT InsertEncoderChain(const CaptureOptions& options, IPin* upstream, const wchar_t* path);

    // Empties the device list and releases the graph (stopping it first if it still runs, so that no
    // filter streams once Free has returned), then the device's interfaces. S_FALSE when nothing was held.
    HRESULT Free() override;

    // The gaps the capture device left in the current recording, or in the last one once it is freed,
    // and the audio time they miss (100-ns units): the volume meter's counts (see
    // VolumeMeter::IFilterProperties::GetDroppedAudio), copied when the graph is freed. S_OK; S_FALSE
    // when the device set no time stamps (the length is not known); 0 gaps before the first recording.
    HRESULT GetDroppedAudio(ULONG* gaps, REFERENCE_TIME* missing);

private:
    // The index in the device list of the device whose id is deviceId; DirectShow::DeviceNotPresent
    // when none has it.
    HRESULT FindDevice(const wchar_t* deviceId, LONG* index) const;

    // Tells the tap the format of what the writer (or the stream sink) receives through its input pin.
    HRESULT DescribeStream(const CaptureOptions& options, IPin* writerInput);

    Synchronization::CCriticalSection m_lock;
    // The tap of the graph held: told its End once the graph is released.
    IByteTap* m_tap = nullptr;
    DirectShow::CFilterEnumerator m_devices;
    COM::TPtr<IAMResourceControl> m_resourceControl;
    COM::TPtr<IAMAudioInputMixer> m_inputMixer;
    // The meter of the graph held, and the counts of the last one freed.
    COM::TPtr<VolumeMeter::IFilterProperties> m_meter;
    ULONG m_lastGaps = 0;
    REFERENCE_TIME m_lastMissing = 0;
    HRESULT m_lastDropResult = S_OK;
};
