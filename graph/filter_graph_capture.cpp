#include "graph/filter_graph_capture.h"

#include <objbase.h>
#include <uuids.h>
#include <mmreg.h>

#include <cstring>
#include <cwchar>

#include "filters/mpeg2_audio_encoder/encoder_interfaces.h"
#include "filters/mpeg2_audio_encoder/filter.h"
#include "filters/stream_sink/stream_sink.h"
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

// Gives the filter's IByteTapTarget the tap; nothing to do without one.
HRESULT SetTap(IBaseFilter* filter, IByteTap* tap)
{
    if (tap == nullptr)
        return S_OK;
    COM::TPtr<IByteTapTarget> target;
    const HRESULT hr = filter->QueryInterface(IID_IByteTapTarget, reinterpret_cast<void**>(&target));
    if (FAILED(hr))
        return hr;
    return target.IsNull() ? E_UNEXPECTED : target->SetByteTap(tap);
}

// Sets the MP3 encoder to the options' bit rate: constant at bitRate, or LAME's default VBR at the
// quality, with the tag frame (that the writer's stream lets the encoder fill in at stop) when a file is
// written; two channels are joint stereo. Everything else keeps the encoder's settings.
HRESULT SetBitRate(IBaseFilter* encoder, const CaptureOptions& options, bool file)
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
    record.dwBitrateKbps = static_cast<DWORD>(options.bitRate) / 1000;
    record.dwVbrMode = 0;
    if (options.IsVbr()) {
        record.dwVbrMode = 4;  // vbr_default (vbr_mtrh)
        record.dwVbrQualityLevel = static_cast<DWORD>(options.vbrQuality);
        record.dwVbrMinKbps = 0;  // LAME's own bounds
        record.dwVbrMaxKbps = 0;
        record.bWriteTagFrame = file ? 1 : 0;
    }
    if (options.channels == 2) {
        record.dwChannelMode = 1;  // JOINT_STEREO
        record.bDownmixToMono = 0;
    }
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
    CaptureOptions options;
    options.formatTag = formatTag;
    options.sampleRate = sampleRate;
    options.bitRate = bitRate;
    return Init(path, options, deviceId);
}

HRESULT CFilterGraph_Capture::Init(const wchar_t* path, const CaptureOptions& options, const wchar_t* deviceId)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::Init");
    scope.Begin(&hr, L"\"%ls\", %d, %d, %d, " TRACE_ADDRESS, path != nullptr ? path : L"", Tag(options.formatTag),
                options.sampleRate, options.bitRate, Address(&VolumeMeter_Callback));
    Synchronization::CAutoLock lock(&m_lock);

    const DWORD rate = static_cast<DWORD>(options.sampleRate);
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
            // Only what differs from a plain recording is told.
            if (options.channels != 1 || options.vbrQuality != -1 || options.tap != nullptr)
                s_MainLog.Print(L"capture options = %d channels, VBR quality %d, stream %ls.", options.channels,
                                options.vbrQuality, options.tap != nullptr ? L"on" : L"off");
            m_tap = options.tap;
            return S_OK;
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
            return DirectShow::InsertAudioCapturer(*this, device, rate, rate / 25, deviceName, &capturer, &capturePin,
                                                   static_cast<WORD>(options.channels));
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
        .Do([&] { return InsertEncoderChain(options, teeOutput2, path); });

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
    *index = -1;
    ULONG count = 0;
    m_devices.GetCount(&count);
    for (ULONG item = 0; item < count; ++item) {
        COM::TPtr<IMoniker> moniker;
        wchar_t* id = nullptr;
        const bool found = SUCCEEDED(m_devices.GetItem(item, &moniker)) &&
                           SUCCEEDED(DirectShow::GetDeviceId(moniker, &id)) && std::wcscmp(id, deviceId) == 0;
        ::CoTaskMemFree(id);
        if (found) {
            *index = static_cast<LONG>(item);
            return S_OK;
        }
    }
    return DirectShow::DeviceNotPresent;
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
    CaptureOptions options;
    options.formatTag = formatTag;
    options.bitRate = bitRate;
    return InsertEncoderChain(options, upstream, path);
}

HRESULT CFilterGraph_Capture::InsertEncoderChain(const CaptureOptions& options, IPin* upstream, const wchar_t* path)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Capture::InsertEncoderChain");
    scope.Begin(&hr, TRACE_ADDRESS L", \"%ls\", %d, %d", Address(upstream), path != nullptr ? path : L"",
                Tag(options.formatTag), options.bitRate);

    const int formatTag = options.formatTag;
    const bool mp3 = options.IsMp3();
    // Without a path the recorded bytes only go to the tap, through the library's stream sink.
    const bool file = path != nullptr && path[0] != L'\0';
    if (!file && options.tap == nullptr)
        return hr = E_INVALIDARG;
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
            return FAILED(added) ? added : SetBitRate(encoder, options, file);
        })
        // MP3: the encoder hands out its frames as they leave for the writer.
        .Do([&] { return mp3 ? SetTap(encoder, options.tap) : S_OK; })
        .Do([&] { return FindPinByDirection(encoder, PINDIR_INPUT, &encoderInput); })
        .Do([&] { return ConnectDirect(upstream, encoderInput); })
        .Do([&] { return FindPinByDirection(encoder, PINDIR_OUTPUT, &encoderOutput); })
        .Do([&] {
            if (!file)
                return AddFilter(&StreamSink::CreateInstance, L"StreamSink", &writer);
            return mp3 ? AddFilter(CLSID_FileWriter, L"FileWriter", &writer)
                       : AddFilter(&WaveWriter::CreateInstance, L"WaveWriter", &writer);
        })
        .Do([&] {
            if (!file)
                return S_OK;
            HRESULT named = writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink));
            if (SUCCEEDED(named))
                named = sink.IsNull() ? E_UNEXPECTED : sink->SetFileName(path, nullptr);
            return FAILED(named) ? named : sink->SetMode(AM_FILE_OVERWRITE);
        })
        // WAVE: the writer (or the sink) hands out the data chunk's bytes as it stores them.
        .Do([&] { return mp3 ? S_OK : SetTap(writer, options.tap); })
        .Do([&] { return FindPinByDirection(writer, PINDIR_INPUT, &writerInput); })
        .Do([&] { return ConnectDirect(encoderOutput, writerInput); })
        .Do([&] { return options.tap != nullptr ? DescribeStream(options, writerInput) : S_OK; });
    return hr;
}

HRESULT CFilterGraph_Capture::DescribeStream(const CaptureOptions& options, IPin* writerInput)
{
    if (options.IsMp3()) {
        // What the frames are: MPEG audio Layer III at the capture's rate and channels, the CBR byte
        // rate or 0 for a variable one.
        MPEGLAYER3WAVEFORMAT format;
        std::memset(&format, 0, sizeof(format));
        format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
        format.wfx.nChannels = static_cast<WORD>(options.channels);
        format.wfx.nSamplesPerSec = static_cast<DWORD>(options.sampleRate);
        format.wfx.nAvgBytesPerSec = options.IsVbr() ? 0 : static_cast<DWORD>(options.bitRate) / 8;
        format.wfx.nBlockAlign = 1;
        format.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
        format.wID = MPEGLAYER3_ID_MPEG;
        format.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
        const DWORD samplesPerFrame = options.sampleRate >= 32000 ? 1152 : 576;
        format.nBlockSize = static_cast<WORD>(options.IsVbr() ? 0 : samplesPerFrame * format.wfx.nAvgBytesPerSec /
                                                                         format.wfx.nSamplesPerSec);
        format.nFramesPerBlock = 1;
        m_tap->Format(reinterpret_cast<const BYTE*>(&format), sizeof(format));
        return S_OK;
    }
    // WAVE: the connection's format as the WAV writer's "fmt " chunk holds it (PCM without cbSize).
    AM_MEDIA_TYPE type;
    std::memset(&type, 0, sizeof(type));
    HRESULT hr = writerInput->ConnectionMediaType(&type);
    if (FAILED(hr))
        return hr;
    if (type.pbFormat != nullptr && type.cbFormat >= sizeof(WAVEFORMATEX)) {
        const WAVEFORMATEX* format = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
        ULONG size = format->wFormatTag == WAVE_FORMAT_PCM ? 16 : sizeof(WAVEFORMATEX) + format->cbSize;
        if (size > type.cbFormat)
            size = type.cbFormat;
        m_tap->Format(type.pbFormat, size);
    } else {
        hr = VFW_E_INVALID_MEDIA_TYPE;
    }
    ::CoTaskMemFree(type.pbFormat);
    if (type.pUnk != nullptr)
        type.pUnk->Release();
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
    // The filters are released: nothing more reaches the tap.
    if (m_tap != nullptr) {
        m_tap->End();
        m_tap = nullptr;
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
