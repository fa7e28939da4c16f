// quillmar version and quillmar devices.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/device_list.h"
#include "quillmar/input_devices.h"
#include "quillmar/library_session.h"

#include <windows.h>

#define STRSAFE_NO_DEPRECATE
#include <dshow.h>

#include <mmreg.h>
#include <msacm.h>

#include <cwchar>
#include <vector>

namespace {

// "A.B.C.D" of a file's version resource; empty when it has none.
std::wstring FileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::wstring();
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    wchar_t text[64];
    std::swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return text;
}

// "0x0011" and a wave format tag's name from the audio compression manager.
struct FormatTag {
    DWORD tag;
    std::wstring name;
};

BOOL CALLBACK CollectTag(HACMDRIVERID, LPACMFORMATTAGDETAILSW details, DWORD_PTR list, DWORD)
{
    auto* tags = reinterpret_cast<std::vector<FormatTag>*>(list);
    for (const FormatTag& known : *tags) {
        if (known.tag == details->dwFormatTag)
            return TRUE;
    }
    tags->push_back({details->dwFormatTag, details->szFormatTag});
    return TRUE;
}

// The first compressor that makes the tag's format from audio and is listed among the audio
// compressors: the one the library records that tag with. Empty when there is none.
std::wstring CompressorFor(DWORD tag, const std::vector<std::wstring>& compressors)
{
    IFilterMapper2* mapper = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper))))
        return std::wstring();
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = tag;
    const GUID input[2] = {MEDIATYPE_Audio, GUID_NULL};
    const GUID output[2] = {MEDIATYPE_Audio, subtype};
    IEnumMoniker* monikers = nullptr;
    std::wstring found;
    if (SUCCEEDED(mapper->EnumMatchingFilters(&monikers, 0, TRUE, MERIT_DO_NOT_USE, TRUE, 1, input, nullptr, nullptr,
                                              FALSE, TRUE, 1, output, nullptr, nullptr)) &&
        monikers != nullptr) {
        IMoniker* moniker = nullptr;
        while (found.empty() && monikers->Next(1, &moniker, nullptr) == S_OK) {
            const std::wstring name = CDeviceList::FriendlyName(moniker);
            for (const std::wstring& compressor : compressors) {
                if (compressor == name)
                    found = name;
            }
            moniker->Release();
        }
        monikers->Release();
    }
    mapper->Release();
    return found;
}

// The devices numbered as --device takes them, the default (the first) marked.
void ListDevices(const CAudioDevices& devices)
{
    for (std::size_t i = 0; i < devices.Devices().size(); ++i) {
        wchar_t number[16];
        std::swprintf(number, 16, L"  %2u. ", static_cast<unsigned>(i + 1));
        CConsole::Out(number + devices.Devices()[i].name + (i == 0 ? L"    (default)" : L"") + L"\n");
    }
}

}  // namespace

int RunVersion()
{
    wchar_t line[128];
    std::swprintf(line, 128, L"quillmar     %hs\n", QUILLMAR_VERSION);
    CConsole::Out(line);
    CLibrarySession session;
    if (const int status = session.Open(false))
        return status;
    const std::wstring path = session.Library().ModulePath();
    const std::wstring fileVersion = FileVersion(path);
    CConsole::Out(L"Tessaro.dll  " + (fileVersion.empty() ? std::wstring(L"(no version resource)") : fileVersion) +
                  L"  " + path + L"\n");
    // The library reports the sibling module's version as one number, 0 when it is not found; the
    // module's own resource gives the four parts.
    const int version = session.Library().GetVersion();
    const std::wstring sibling = FileVersion(L"Drovane.tar");
    if (version == 0)
        CConsole::Out(L"Drovane.tar  not found: the library looks for it beside quillmar.exe, in the current "
                      L"directory and on PATH\n");
    else
        CConsole::Out(L"Drovane.tar  " + (sibling.empty() ? std::to_wstring(version) : sibling) + L"\n");
    CConsole::Out(L"Logs         " + CLibrarySession::LogDirectory() +
                  L" (Tessaro.log, MPEG2AudioEncoder.log; each run replaces them)\n");
    return 0;
}

int RunDevices()
{
    // The devices as the library lists them, so that the numbers are those --device takes.
    CInputDevices inputs;
    CAudioDevices outputs(DeviceKind::Output);
    {
        CLibrarySession session;
        if (const int status = session.Open(false))
            return status;
        const HRESULT read = inputs.Read(session.Library());
        if (FAILED(read))
            return CLibrarySession::ReportFailure(L"listing the audio input devices", read);
        const HRESULT readOutputs = outputs.Read(session.Library());
        if (FAILED(readOutputs))
            return CLibrarySession::ReportFailure(L"listing the audio output devices", readOutputs);
    }
    CConsole::Out(L"Audio input devices (record --device N or a part of the name; without it, the default):\n");
    if (inputs.Devices().empty())
        CConsole::Out(L"  (none: recording fails with E_INVALIDARG)\n");
    ListDevices(inputs);
    CConsole::Out(L"Audio output devices (play --device N or a part of the name; without it, the default):\n");
    if (outputs.Devices().empty())
        CConsole::Out(L"  (none: playing fails)\n");
    ListDevices(outputs);

    const HRESULT hr = ::CoInitialize(nullptr);
    if (FAILED(hr))
        return CLibrarySession::ReportFailure(L"CoInitialize", hr);
    CDeviceList compressors;
    HRESULT listed = compressors.Enumerate(CLSID_AudioCompressorCategory);
    std::vector<FormatTag> tags;
    ACMFORMATTAGDETAILSW details{};
    details.cbStruct = sizeof(details);
    ::acmFormatTagEnumW(nullptr, &details, CollectTag, reinterpret_cast<DWORD_PTR>(&tags), 0);
    CConsole::Out(L"Formats (--format; mp3 is the library's own encoder, the others need a system audio compressor):\n");
    CConsole::Out(L"  mp3     0x0055  MPEG Layer III (the library's own encoder)\n");
    for (const FormatTag& tag : tags) {
        if (tag.tag == CCommandLine::kMp3Tag || FAILED(listed))
            continue;
        const std::wstring compressor = CompressorFor(tag.tag, compressors.Names());
        if (compressor.empty())
            continue;
        wchar_t code[32];
        std::swprintf(code, 32, L"  %-6ls  0x%04X  ", tag.tag == CCommandLine::kPcmTag ? L"pcm" : L"", tag.tag);
        CConsole::Out(code + tag.name + L", through \"" + compressor + L"\"\n");
    }
    ::CoUninitialize();
    return 0;
}
