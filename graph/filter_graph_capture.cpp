#include "graph/filter_graph_capture.h"

#include <objbase.h>
#include <uuids.h>

#include <cstring>
#include <cwchar>

#include "filters/mpeg2_audio_encoder/encoder_interfaces.h"
#include "filters/mpeg2_audio_encoder/filter.h"
#include "filters/volume_meter/volume_meter.h"
#include "filters/wave_writer/wave_writer.h"
#include "graph/device_utilities.h"
#include "support/com_init.h"
#include "support/library_logs.h"
#include "support/step_sequence.h"
#include "support/trace_address.h"
#include "support/trace_log.h"

namespace {

// Addresses as the trace prints them.
template <class T>
Win32::TraceAddressValue Address(T* pointer)
{
    return Win32::TraceAddress(pointer);
}
Win32::TraceAddressValue Address(VolumeMeter::LevelCallback callback)
{
    return Win32::TraceAddress(reinterpret_cast<void*>(callback));
}

// Only the low 16 bits of a format tag count.
unsigned Tag(int formatTag)
{
    return static_cast<WORD>(formatTag);
}

// The audio subtype of a wave format tag: MEDIASUBTYPE_PCM with the tag as its first field.
GUID SubtypeOfTag(WORD tag)
{
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = tag;
    return subtype;
}

// Adds the first audio compressor that turns audio into the tag's format and is also listed among
// the system's ACM codecs (same friendly name, case-sensitive); VFW_E_UNSUPPORTED_AUDIO when none.
HRESULT AddAudioCompressor(DirectShow::CFilterGraph& graph, WORD tag, IBaseFilter** encoder)
{
    DirectShow::CFilterEnumerator candidates;
    DirectShow::CFilterEnumerator compressors;
    DirectShow::CDeviceNameList candidateNames;
    DirectShow::CDeviceNameList compressorNames;
    HRESULT hr = S_OK;
    CStepSequence(hr)
        .Do([&] {
            return candidates.EnumerateMatchingFilters({MEDIATYPE_Audio, GUID_NULL}, {MEDIATYPE_Audio, SubtypeOfTag(tag)});
        })
        .Do([&] { return candidates.GetFriendlyNames(candidateNames); })
        .Do([&] { return compressors.EnumerateCategory(CDEF_DEVMON_CMGR_DEVICE, CLSID_AudioCompressorCategory); })
        .Do([&] { return compressors.GetFriendlyNames(compressorNames); })
        .Do([&] {
            for (const DirectShow::CDeviceName& candidate : candidateNames) {
                for (const DirectShow::CDeviceName& compressor : compressorNames) {
                    if (candidate.name == compressor.name)
                        return graph.AddSourceFilterForMoniker(candidate.moniker, candidate.name.c_str(), encoder);
                }
            }
            return VFW_E_UNSUPPORTED_AUDIO;
        });
    // The names hold monikers of the enumerators: they go first.
    candidateNames.clear();
    compressorNames.clear();
    candidates.Free();
    compressors.Free();
    return hr;
}

// Sets the MP3 encoder to constant bit rate at the given rate in kbit/s; everything else keeps the
// encoder's settings.
HRESULT SetConstantBitRate(IBaseFilter* encoder, DWORD kbps)
{
    COM::TPtr<MPEG2AudioEncoder::IEncoderSettings> settings;
    HRESULT hr = encoder->QueryInterface(MPEG2AudioEncoder::IID_IEncoderSettings, reinterpret_cast<void**>(&settings));
    if (FAILED(hr))
        return hr;
    if (settings.IsNull())
        return E_UNEXPECTED;
    MPEG2AudioEncoder::EncoderSettings record;
    std::memset(&record, 0, sizeof(record));
    hr = settings->GetEncoderSettings(&record);
    if (FAILED(hr))
        return hr;
    record.dwBitrateKbps = kbps;
    record.dwVbrMode = 0;
    return settings->SetEncoderSettings(&record);
}

} // namespace

CFilterGraph_Capture::CFilterGraph_Capture()
{
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::CFilterGraph_Capture");
    scope.BeginNoResult();
}

CFilterGraph_Capture::~CFilterGraph_Capture()
{
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::~CFilterGraph_Capture");
    scope.BeginNoResult();
    Free();
    m_inputMixer.Release();
    m_resourceControl.Release();
}

HRESULT CFilterGraph_Capture::Init(const wchar_t* path, int formatTag, int sampleRate, int bitRate,
                                   const wchar_t* deviceId)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::Init");
    scope.Begin(&hr, L"\"%ls\", %d, %d, %d, " TRACE_ADDRESS, path != nullptr ? path : L"", Tag(formatTag), sampleRate,
                bitRate, Address(&VolumeMeter_Callback));
    Synchronization::CAutoLock lock(&m_lock);

    const DWORD rate = static_cast<DWORD>(sampleRate);
    CComInit com;
    LONG deviceIndex = -1;
    COM::TPtr<IMoniker> device;
    wchar_t* deviceName = nullptr;
    COM::TPtr<IBaseFilter> capturer;
    COM::TPtr<IPin> capturePin;
    COM::TPtr<IBaseFilter> tee;
    COM::TPtr<IPin> teeInput;
    COM::TPtr<IPin> teeOutput;
    COM::TPtr<IPin> teeOutput2;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"init COM…");
            return com.Initialise();
        })
        .Do([&] {
            s_MainLog.Print(L"init FilterGraph…");
            return Create();
        })
        .Do([&] {
            // A new recording: the last one's gaps are no longer the current ones.
            m_lastGaps = 0;
            m_lastMissing = 0;
            m_lastDropResult = S_OK;
            s_MainLog.Print(L"init FilterEnumerator…");
            return m_devices.EnumerateCategory(0, CLSID_AudioInputDeviceCategory);
        })
        .Do([&] {
            if (deviceId != nullptr) {
                s_MainLog.Print(L"find chosen AudioCapturer \"%ls\"…", deviceId);
                return FindDevice(deviceId, &deviceIndex);
            }
            s_MainLog.Print(L"get index of default AudioCapturer…");
            return m_devices.GetDefaultIndex(&deviceIndex);
        })
        .Do([&] {
            s_MainLog.Print(deviceId != nullptr ? L"get chosen AudioCapturer…" : L"get default AudioCapturer…");
            const HRESULT item = m_devices.GetItem(static_cast<ULONG>(deviceIndex), &device);
            return FAILED(item) ? item : DirectShow::GetFriendlyName(device, &deviceName);
        })
        .Do([&] {
            s_MainLog.Print(L"insert AudioCapturer…");
            return DirectShow::InsertAudioCapturer(*this, device, rate, rate / 25, deviceName, &capturer, &capturePin);
        })
        .Do([&] {
            s_MainLog.Print(L"query IAMResourceControl…");
            return capturer.QueryInterface(IID_IAMResourceControl, reinterpret_cast<void**>(&m_resourceControl));
        })
        .Do([&] {
            s_MainLog.Print(L"invoke GetAMAudioInputMixer()…");
            return DirectShow::GetAMAudioInputMixer(capturer, &m_inputMixer);
        })
        .Do([&] {
            s_MainLog.Print(L"insert InfinitePinTee…");
            // Each part runs where what it needs exists; the first failure is the result.
            HRESULT result = S_OK;
            const auto keep = [&result](HRESULT part) {
                if (SUCCEEDED(result) && FAILED(part))
                    result = part;
            };
            keep(AddFilter(CLSID_InfTee, nullptr, &tee));
            if (tee.IsValid())
                keep(FindPinByDirection(tee, PINDIR_INPUT, &teeInput));
            if (teeInput.IsValid())
                keep(ConnectDirect(capturePin, teeInput));
            if (tee.IsValid())
                keep(FindPinByDirection(tee, PINDIR_OUTPUT, &teeOutput));
            return result;
        })
        .Do([&] {
            s_MainLog.Print(L"insert VolumeMeter…");
            return InsertVolumeMeter(teeOutput, &VolumeMeter_Callback);
        })
        .Do([&] {
            s_MainLog.Print(L"find InfinitePinTee Output2…");
            return DirectShow::FindOutput2Pin(tee, &teeOutput2);
        })
        .Do([&] { return InsertEncoderChain(formatTag, teeOutput2, path, bitRate); });

    // The graph holds what was added; the local references go.
    teeOutput2.Release();
    teeOutput.Release();
    teeInput.Release();
    tee.Release();
    capturePin.Release();
    capturer.Release();
    device.Release();
    ::CoTaskMemFree(deviceName);
    // Every COM initialisation of this thread is undone on it: the device list keeps its monikers, not
    // the initialisation, until Free, which may run on another thread.
    m_devices.ReleaseCom();
    com.Uninitialise();
    return hr;
}

HRESULT CFilterGraph_Capture::FindDevice(const wchar_t* deviceId, LONG* index) const
{
    return m_devices.FindById(deviceId, index);
}

HRESULT CFilterGraph_Capture::InsertVolumeMeter(IPin* upstream, VolumeMeter::LevelCallback callback)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::InsertVolumeMeter");
    scope.Begin(&hr, TRACE_ADDRESS L", " TRACE_ADDRESS, Address(upstream), Address(callback));

    COM::TPtr<IBaseFilter> meter;
    COM::TPtr<IPin> input;
    COM::TPtr<VolumeMeter::IFilterProperties> properties;
    CStepSequence(hr)
        .Do([&] {
            s_MainLog.Print(L"insert VolumeMeter…");
            return AddFilter(&VolumeMeter::CreateInstance, L"VolumeMeter", &meter);
        })
        .Do([&] {
            s_MainLog.Print(L"find VolumeMeter input…");
            return FindPinByDirection(meter, PINDIR_INPUT, &input);
        })
        .Do([&] {
            s_MainLog.Print(L"connect upstream output with VolumeMeter input…");
            return ConnectDirect(upstream, input);
        })
        .Do([&] {
            s_MainLog.Print(L"query VolumeMeter for IFilterProperties…");
            return meter.QueryInterface(VolumeMeter::IID_IFilterProperties, reinterpret_cast<void**>(&properties));
        })
        .Do([&] { return properties.IsNull() ? E_UNEXPECTED : properties->SetCallback(callback); })
        .Do([&] {
            Synchronization::CAutoLock lock(&m_lock);
            m_meter = properties;
            return S_OK;
        });
    return hr;
}

HRESULT CFilterGraph_Capture::InsertEncoderChain(int formatTag, IPin* upstream, const wchar_t* path, int bitRate)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::InsertEncoderChain");
    scope.Begin(&hr, TRACE_ADDRESS L", \"%ls\", %d, %d", Address(upstream), path != nullptr ? path : L"", Tag(formatTag),
                bitRate);

    const bool mp3 = static_cast<WORD>(formatTag) == MpegLayer3Tag;
    COM::TPtr<IBaseFilter> encoder;
    COM::TPtr<IPin> encoderInput;
    COM::TPtr<IPin> encoderOutput;
    COM::TPtr<IBaseFilter> writer;
    COM::TPtr<IFileSinkFilter2> sink;
    COM::TPtr<IPin> writerInput;
    CStepSequence(hr)
        .Do([&] {
            if (!mp3)
                return AddAudioCompressor(*this, static_cast<WORD>(formatTag), &encoder);
            const HRESULT added = AddFilter(&MPEG2AudioEncoder::CFilter::CreateFilter, L"MPEG2AudioEncoder", &encoder);
            return FAILED(added) ? added : SetConstantBitRate(encoder, static_cast<DWORD>(bitRate) / 1000);
        })
        .Do([&] { return FindPinByDirection(encoder, PINDIR_INPUT, &encoderInput); })
        .Do([&] { return ConnectDirect(upstream, encoderInput); })
        .Do([&] { return FindPinByDirection(encoder, PINDIR_OUTPUT, &encoderOutput); })
        .Do([&] {
            return mp3 ? AddFilter(CLSID_FileWriter, L"FileWriter", &writer)
                       : AddFilter(&WaveWriter::CreateInstance, L"WaveWriter", &writer);
        })
        .Do([&] { return writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)); })
        .Do([&] { return sink.IsNull() ? E_UNEXPECTED : sink->SetFileName(path, nullptr); })
        .Do([&] { return sink->SetMode(AM_FILE_OVERWRITE); })
        .Do([&] { return FindPinByDirection(writer, PINDIR_INPUT, &writerInput); })
        .Do([&] { return ConnectDirect(encoderOutput, writerInput); });
    return hr;
}

HRESULT CFilterGraph_Capture::Free()
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::Free");
    scope.Begin(&hr);
    Synchronization::CAutoLock lock(&m_lock);

    s_MainLog.Print(L"free FilterEnumerator…");
    hr = m_devices.Free();
    s_MainLog.Print(L"free FilterGraph…");
    if (IsValid()) {
        // The base's release stops the graph and every filter first.
        DirectShow::CFilterGraph::Free();
    } else if (hr == S_OK) {
        hr = S_FALSE;
    }
    if (SUCCEEDED(hr)) {
        m_inputMixer.Release();
        m_resourceControl.Release();
    }
    // The graph has stopped: the meter's counts are the recording's last; they stay readable.
    if (m_meter.IsValid()) {
        ULONG gaps = 0;
        REFERENCE_TIME missing = 0;
        const HRESULT read = m_meter->GetDroppedAudio(&gaps, &missing);
        if (SUCCEEDED(read)) {
            m_lastGaps = gaps;
            m_lastMissing = missing;
            m_lastDropResult = read;
        }
        m_meter.Release();
    }
    return hr;
}

HRESULT CFilterGraph_Capture::GetDroppedAudio(ULONG* gaps, REFERENCE_TIME* missing)
{
    if (gaps == nullptr || missing == nullptr)
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    if (m_meter.IsValid())
        return m_meter->GetDroppedAudio(gaps, missing);
    *gaps = m_lastGaps;
    *missing = m_lastMissing;
    return m_lastDropResult;
}
