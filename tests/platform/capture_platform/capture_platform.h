#pragma once
// The platform pieces a recording needs that the test prefix's Wine lacks, served by one in-process
// COM module (capture_platform.dll) registered in the prefix:
//
//   - two tone capture devices, listed first in CLSID_AudioInputDeviceCategory: live sources that
//     deliver a sine at half scale (1 kHz from the first, 440 Hz from the second) in the PCM format set
//     through IAMStreamConfig, in buffers of the size suggested through IAMBufferNegotiation, paced by
//     the graph clock, dropping the oldest audio as a real device does when their streaming thread
//     falls behind (tone_capture_pin.h; options and report: tone_capture_options.h,
//     tone_capture_report.h);
//   - an infinite tee under CLSID_InfTee;
//   - audio compressors on the system's ACM, in CLSID_AudioCompressorCategory with output types that
//     the filter mapper matches: PCM, IMA ADPCM, GSM 6.10, A-law and mu-law.
//
// Test programs include this header for the identifiers; they reach the module's exported test
// functions through GetModuleHandle / GetProcAddress once a graph has loaded it.
#include <windows.h>
#include <mmreg.h>

namespace CapturePlatform {

// The module's file name, for GetModuleHandleW.
inline constexpr wchar_t kModuleName[] = L"capture_platform.dll";

// {0A7C5E10-6B2D-4C1E-9F30-1D2C3B4A5E60}: the class of both tone capture devices. Each is registered
// under an instance key of its own, whose name decides its place: registered devices come before Wine's
// own waveIn devices, sorted by that name, and both names sort before any other registration's CLSID.
// The first device's instance is the CLSID string itself, so it is the default device.
extern const CLSID CLSID_ToneCapture;
inline constexpr wchar_t kToneCaptureName[] = L"Test Tone Capture";
// The second device: listed right after the first, with a name and a tone of its own.
inline constexpr wchar_t kSecondToneCaptureInstance[] = L"{0A7C5E10-6B2D-4C1E-9F30-1D2C3B4A5E60}-2";
inline constexpr wchar_t kSecondToneCaptureName[] = L"Test Low Tone Capture";
inline constexpr double kSecondToneFrequency = 440.0; // Hz
// The property of a device's property bag (VT_I4, Hz) that sets its tone; the default without it.
inline constexpr wchar_t kToneFrequencyProperty[] = L"ToneFrequency";

// {0A7C5E11-6B2D-4C1E-9F30-1D2C3B4A5E60}: an audio renderer that cannot start (failing_renderer.h),
// registered only while TestRenderer_FailStart has set a failure.
extern const CLSID CLSID_FailingRenderer;
inline constexpr wchar_t kFailingRendererName[] = L"Test Renderer That Cannot Start";

// {0A7C5E12-6B2D-4C1E-9F30-1D2C3B4A5E60}: an audio renderer on a waveOut device that its moniker names
// (wave_out_renderer.h), listed among the audio renderers while TestRenderer_AddWaveOutDevice has added it.
extern const CLSID CLSID_WaveOutRenderer;
inline constexpr wchar_t kWaveOutRendererName[] = L"Test WaveOut Renderer";
// The property of its property bag (VT_BSTR) that names the waveOut device: the first whose name starts
// with it.
inline constexpr wchar_t kWaveOutNameProperty[] = L"WaveOutName";

// What the first device records (and any without a ToneFrequency), whatever format it was set to.
inline constexpr double kToneFrequency = 1000.0; // Hz
// A stereo capture's right channel carries the device's tone times this (1500 Hz beside 1000 Hz).
inline constexpr double kRightToneRatio = 1.5;
inline constexpr double kToneAmplitude = 0.5;    // peak, as a fraction of full scale
// Until SetFormat says otherwise: mono 16-bit PCM at 44100 Hz.
inline constexpr DWORD kDefaultRate = 44100;
// Buffer duration when no buffer size was suggested.
inline constexpr DWORD kDefaultBufferMilliseconds = 50;

// One compressor per wave format tag, each under a class id of its own (the tag in the last field).
struct CompressorClass {
    WORD tag;
    const CLSID* clsid;
    const wchar_t* name;
};
inline constexpr int kCompressorCount = 5;
extern const CompressorClass kCompressors[kCompressorCount];
// The compressor for the tag, or null.
const CompressorClass* FindCompressor(WORD tag);

// Exported by the module (undecorated, WINAPI); a test loads the module with LoadLibraryW when no graph
// has done so:
//
// HRESULT ToneCapture_LoseDevice()
//   The newest live tone capture filter loses its device: it delivers nothing more and posts
//   EC_DEVICE_LOST (its IUnknown, 0) into its graph. E_UNEXPECTED when no filter lives,
//   VFW_E_NOT_IN_GRAPH when it is in no graph, otherwise the graph's Notify result.
using LoseDeviceFunction = HRESULT(WINAPI*)();
inline constexpr char kLoseDeviceExport[] = "ToneCapture_LoseDevice";

// HRESULT ToneCapture_FailNextStart(HRESULT failure)
//   The next tone capture pin of the process that starts streaming (when its graph leaves Stopped)
//   fails with the given result instead, as a device that another program holds. Once only; S_OK
//   withdraws a failure not yet used. Returns S_OK.
using FailNextStartFunction = HRESULT(WINAPI*)(HRESULT failure);
inline constexpr char kFailNextStartExport[] = "ToneCapture_FailNextStart";

// HRESULT ToneCapture_AddDevice(const wchar_t* instance, const wchar_t* name, double frequency)
//   Registers one more tone capture device in the prefix (every process of it sees it): under the
//   instance key name, which decides its place among the devices (kThirdToneCaptureInstance comes
//   right after the second device), with that friendly name (another device's name is fine: ids keep
//   them apart) and a tone of that frequency (above 0, below 4000 Hz). Registering the same instance
//   again overwrites it. E_POINTER, E_INVALIDARG, or the filter mapper's result.
// HRESULT ToneCapture_RemoveDevice(const wchar_t* instance)
//   Unregisters such a device (a filter already created from it lives on); the filter mapper's result.
//   The two permanent devices are not to be removed this way.
using AddDeviceFunction = HRESULT(WINAPI*)(const wchar_t* instance, const wchar_t* name, double frequency);
inline constexpr char kAddDeviceExport[] = "ToneCapture_AddDevice";
using RemoveDeviceFunction = HRESULT(WINAPI*)(const wchar_t* instance);
inline constexpr char kRemoveDeviceExport[] = "ToneCapture_RemoveDevice";
inline constexpr wchar_t kThirdToneCaptureInstance[] = L"{0A7C5E10-6B2D-4C1E-9F30-1D2C3B4A5E60}-3";

// HRESULT TestRenderer_FailStart(HRESULT failure)
//   A failure: registers the failing renderer for audio with a merit above the platform's renderers,
//   so that the next graph that renders audio in this process gets it, and its Pause fails with that
//   result. S_OK: removes the registration (other processes of the prefix never take the renderer, its
//   pin refuses every type in them). Returns the registration's result.
using FailRendererStartFunction = HRESULT(WINAPI*)(HRESULT failure);
inline constexpr char kFailRendererStartExport[] = "TestRenderer_FailStart";

// HRESULT TestRenderer_AddWaveOutDevice(const wchar_t* instance, const wchar_t* name, const wchar_t* waveOut)
//   Lists one more audio renderer in the prefix: the waveOut renderer under the instance key, with that
//   friendly name, playing on the first waveOut device whose name starts with waveOut. E_POINTER,
//   E_INVALIDARG (an empty string), or the filter mapper's result.
// HRESULT TestRenderer_RemoveWaveOutDevice(const wchar_t* instance)
//   Unlists it again; the filter mapper's result.
using AddWaveOutDeviceFunction = HRESULT(WINAPI*)(const wchar_t* instance, const wchar_t* name,
                                                  const wchar_t* waveOut);
inline constexpr char kAddWaveOutDeviceExport[] = "TestRenderer_AddWaveOutDevice";
using RemoveWaveOutDeviceFunction = HRESULT(WINAPI*)(const wchar_t* instance);
inline constexpr char kRemoveWaveOutDeviceExport[] = "TestRenderer_RemoveWaveOutDevice";

} // namespace CapturePlatform
