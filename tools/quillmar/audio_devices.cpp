#include "quillmar/audio_devices.h"

#include "jvm_host/quillmar_library.h"
#include "quillmar/command_line.h"
#include "quillmar/console.h"
#include "quillmar/library_session.h"

#include <cwctype>

namespace {

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

}  // namespace

HRESULT CAudioDevices::Read(CQuillmarLibrary& library)
{
    m_devices.clear();
    std::string list;
    const HRESULT hr = m_kind == DeviceKind::Input ? library.GetInputDevices(list) : library.GetOutputDevices(list);
    if (FAILED(hr))
        return hr;
    Parse(list);
    return m_devices.empty() ? S_FALSE : S_OK;
}

void CAudioDevices::Parse(const std::string& utf8List)
{
    m_devices.clear();
    std::size_t at = 0;
    while (at < utf8List.size()) {
        std::size_t end = utf8List.find('\n', at);
        if (end == std::string::npos)
            end = utf8List.size();
        const std::string line = utf8List.substr(at, end - at);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0)
            m_devices.push_back(AudioDevice{FromUtf8(line.substr(0, tab)), FromUtf8(line.substr(tab + 1))});
        at = end + 1;
    }
}

std::wstring CAudioDevices::Summary() const
{
    std::wstring text;
    for (std::size_t i = 0; i < m_devices.size(); ++i)
        text += (i ? L", " : L"") + std::to_wstring(i + 1) + L". " + m_devices[i].name;
    return text.empty() ? std::wstring(L"none") : text;
}

int CAudioDevices::Choose(const std::wstring& choice, std::wstring& error) const
{
    const std::wstring kind = m_kind == DeviceKind::Input ? L"input" : L"output";
    const std::wstring listed = L"; the " + kind + L" devices are: " + Summary() + L" (see quillmar devices)";
    if (!choice.empty() && choice.find_first_not_of(L"0123456789") == std::wstring::npos) {
        const unsigned long number = choice.size() <= 6 ? std::stoul(choice) : 0;
        if (number >= 1 && number <= m_devices.size())
            return static_cast<int>(number - 1);
        error = L"--device " + choice + L" is no device number" + listed;
        return -1;
    }
    const std::wstring wanted = Lower(choice);
    std::vector<int> equal;
    std::vector<int> holding;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const std::wstring name = Lower(m_devices[i].name);
        if (name == wanted)
            equal.push_back(static_cast<int>(i));
        if (!wanted.empty() && name.find(wanted) != std::wstring::npos)
            holding.push_back(static_cast<int>(i));
    }
    const std::vector<int>& fits = !equal.empty() ? equal : holding;
    if (fits.size() == 1)
        return fits[0];
    if (fits.empty())
        error = L"--device \"" + choice + L"\" names no " + kind + L" device" + listed;
    else
        error = L"--device \"" + choice + L"\" fits " + std::to_wstring(fits.size()) +
                L" " + kind + L" devices: give its number" + listed;
    return -1;
}

int ChooseDevice(CQuillmarLibrary& library, DeviceKind kind, const std::wstring& choice, AudioDevice& device)
{
    CAudioDevices devices(kind);
    const HRESULT listed = devices.Read(library);
    if (FAILED(listed))
        return CLibrarySession::ReportFailure(
            kind == DeviceKind::Input ? L"listing the audio input devices" : L"listing the audio output devices", listed);
    std::wstring error;
    const int chosen = devices.Choose(choice, error);
    if (chosen < 0) {
        CConsole::Err(L"quillmar: " + error + L"\n");
        return 2;
    }
    device = devices.Devices()[static_cast<std::size_t>(chosen)];
    return 0;
}
