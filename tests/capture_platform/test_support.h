#pragma once
// Shared pieces of the capture platform tests: COM on the test thread, graphs, pins, device
// monikers and the tone the capture device records.
// The standard headers come before dshow.h, whose string-safety header retires the C library's
// wide printf functions that <string> names.
#include <string>
#include <vector>

#include "stdax/com/ptr.h"

#include "capture_platform.h"

#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

namespace CapturePlatformTest {

class CComThread {
public:
    CComThread() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComThread()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }

private:
    HRESULT m_result;
};

// The monikers of a device category in the enumerator's order.
std::vector<COM::TPtr<IMoniker>> CategoryMonikers(const CLSID& category, DWORD flags = 0);
// The monikers the filter mapper finds for an Audio/any input and an Audio/outputSubtype output, as
// the capture graph searches for a compressor.
std::vector<COM::TPtr<IMoniker>> MatchingFilterMonikers(const GUID& outputSubtype);
// A string property of a moniker's property bag ("FriendlyName", "CLSID"); empty when missing.
std::wstring MonikerProperty(IMoniker* moniker, const wchar_t* name);

COM::TPtr<IGraphBuilder> CreateGraph();
// The filter the moniker stands for, added to the graph under its friendly name.
COM::TPtr<IBaseFilter> AddFromMoniker(IGraphBuilder* graph, IMoniker* moniker);
COM::TPtr<IBaseFilter> AddByClass(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name);
// The first pin of the direction, or the pin of the name.
COM::TPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);
COM::TPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name);
std::vector<std::wstring> PinNames(IBaseFilter* filter);
HRESULT ConnectDirect(IGraphBuilder* graph, IPin* out, IPin* in);

// 16-bit PCM of the given shape.
WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits);
// An Audio/PCM media type for SetFormat; the caller frees it with FreePcmType.
AM_MEDIA_TYPE PcmType(const WAVEFORMATEX& format);
void FreePcmType(AM_MEDIA_TYPE& type);

// Frames of what a tone capture device records in that format, from the given first frame.
std::vector<BYTE> RecordedTone(const WAVEFORMATEX& format, LONGLONG frames, LONGLONG first = 0,
                               double frequency = CapturePlatform::kToneFrequency);

// Polls until condition holds or timeoutMs passes; whether it held.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 10000)
{
    for (DWORD waited = 0;; waited += 10) {
        if (condition())
            return true;
        if (waited >= timeoutMs)
            return false;
        ::Sleep(10);
    }
}

} // namespace CapturePlatformTest
