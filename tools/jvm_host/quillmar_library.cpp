#include "jvm_host/quillmar_library.h"

#include "com_tarvik_kelvane_Quillmar.h"
#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include <type_traits>

namespace {

HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error == 0 ? E_UNEXPECTED : HRESULT_FROM_WIN32(error);
}

// The export's type must be the one javac -h declares for the Java method.
template <class Function, class Declared>
bool Resolve(HMODULE module, const char* name, Function& function, Declared*)
{
    static_assert(std::is_same<Function, Declared*>::value, "export type differs from the JNI header");
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr;
}

}  // namespace

CQuillmarLibrary::CQuillmarLibrary(JvmHost::IQuillmarCallbacks& callbacks) : m_host(callbacks)
{
}

CQuillmarLibrary::~CQuillmarLibrary()
{
    if (m_module != nullptr)
        ::FreeLibrary(m_module);
}

HRESULT CQuillmarLibrary::Load(const std::wstring& path)
{
    if (m_module != nullptr)
        return S_FALSE;
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr)
        return LastErrorResult();
#define QUILLMAR_RESOLVE(member, name)                                                                \
    if (!Resolve(module, #name, member, static_cast<decltype(&name)>(nullptr))) {                     \
        m_missing = #name;                                                                            \
        ::FreeLibrary(module);                                                                        \
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);                                              \
    }
    QUILLMAR_RESOLVE(m_onLoad, JNI_OnLoad)
    QUILLMAR_RESOLVE(m_initLibrary, Java_com_tarvik_kelvane_Quillmar_initLibrary)
    QUILLMAR_RESOLVE(m_freeLibrary, Java_com_tarvik_kelvane_Quillmar_freeLibrary)
    QUILLMAR_RESOLVE(m_getVersion, Java_com_tarvik_kelvane_Quillmar_getVersion)
    QUILLMAR_RESOLVE(m_record, Java_com_tarvik_kelvane_Quillmar_record)
    QUILLMAR_RESOLVE(m_play, Java_com_tarvik_kelvane_Quillmar_play)
    QUILLMAR_RESOLVE(m_pause, Java_com_tarvik_kelvane_Quillmar_pause)
    QUILLMAR_RESOLVE(m_stop, Java_com_tarvik_kelvane_Quillmar_stop)
    QUILLMAR_RESOLVE(m_getDuration, Java_com_tarvik_kelvane_Quillmar_getDuration)
    QUILLMAR_RESOLVE(m_getCurrentPosition, Java_com_tarvik_kelvane_Quillmar_getCurrentPosition)
    QUILLMAR_RESOLVE(m_getEndCause, Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause)
    QUILLMAR_RESOLVE(m_getStreamNumber, Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber)
    QUILLMAR_RESOLVE(m_getInputDevices, Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices)
    QUILLMAR_RESOLVE(m_recordFromDevice, Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice)
    QUILLMAR_RESOLVE(m_getDroppedAudio, Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio)
    QUILLMAR_RESOLVE(m_setPosition, Java_com_tarvik_kelvane_audio_QuillmarBinding_setPosition)
    QUILLMAR_RESOLVE(m_setVolume, Java_com_tarvik_kelvane_audio_QuillmarBinding_setVolume)
    QUILLMAR_RESOLVE(m_getVolume, Java_com_tarvik_kelvane_audio_QuillmarBinding_getVolume)
    QUILLMAR_RESOLVE(m_setBalance, Java_com_tarvik_kelvane_audio_QuillmarBinding_setBalance)
    QUILLMAR_RESOLVE(m_getBalance, Java_com_tarvik_kelvane_audio_QuillmarBinding_getBalance)
    QUILLMAR_RESOLVE(m_getOutputDevices, Java_com_tarvik_kelvane_audio_QuillmarBinding_getOutputDevices)
    QUILLMAR_RESOLVE(m_playOnDevice, Java_com_tarvik_kelvane_audio_QuillmarBinding_playOnDevice)
    QUILLMAR_RESOLVE(m_recordWithOptions, Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions)
    QUILLMAR_RESOLVE(m_getStreamLoss, Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss)
#undef QUILLMAR_RESOLVE
    m_module = module;
    m_onLoad(m_host.Vm(), nullptr);
    return S_OK;
}

std::wstring CQuillmarLibrary::ModulePath() const
{
    if (m_module == nullptr)
        return std::wstring();
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(m_module, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

JNIEnv* CQuillmarLibrary::Env()
{
    JNIEnv* env = m_host.Env();
    if (env == nullptr) {
        void* attached = nullptr;
        m_host.Vm()->AttachCurrentThread(&attached, nullptr);
        env = static_cast<JNIEnv*>(attached);
    }
    return env;
}

HRESULT CQuillmarLibrary::InitLibrary()
{
    return m_initLibrary(Env(), m_host.Quillmar());
}

void CQuillmarLibrary::FreeLibrary()
{
    m_freeLibrary(Env(), m_host.Quillmar());
}

int CQuillmarLibrary::GetVersion()
{
    return m_getVersion(Env(), m_host.Quillmar());
}

HRESULT CQuillmarLibrary::Record(const std::string& utf8Path, int formatTag, int sampleRate, int bitRate)
{
    jbyteArray path = m_host.NewByteArray(utf8Path);
    const HRESULT hr = m_record(Env(), m_host.Quillmar(), path, formatTag, sampleRate, bitRate);
    m_host.DeleteArray(path);
    return hr;
}

HRESULT CQuillmarLibrary::Play(const std::string& utf8Path, int number)
{
    jbyteArray path = m_host.NewByteArray(utf8Path);
    const HRESULT hr = m_play(Env(), m_host.Quillmar(), path, number);
    m_host.DeleteArray(path);
    return hr;
}

HRESULT CQuillmarLibrary::Pause(bool& paused)
{
    jbooleanArray state = m_host.NewBooleanArray(1);
    const HRESULT hr = m_pause(Env(), m_host.Quillmar(), state);
    if (SUCCEEDED(hr))
        paused = m_host.BooleanAt(state, 0) != JNI_FALSE;
    m_host.DeleteArray(state);
    return hr;
}

HRESULT CQuillmarLibrary::Stop()
{
    return m_stop(Env(), m_host.Quillmar());
}

HRESULT CQuillmarLibrary::GetDuration(double& seconds)
{
    jdoubleArray value = m_host.NewDoubleArray(1);
    const HRESULT hr = m_getDuration(Env(), m_host.Quillmar(), value);
    if (SUCCEEDED(hr))
        seconds = m_host.DoubleAt(value, 0);
    m_host.DeleteArray(value);
    return hr;
}

HRESULT CQuillmarLibrary::GetCurrentPosition(double& seconds)
{
    jdoubleArray value = m_host.NewDoubleArray(1);
    const HRESULT hr = m_getCurrentPosition(Env(), m_host.Quillmar(), value);
    if (SUCCEEDED(hr))
        seconds = m_host.DoubleAt(value, 0);
    m_host.DeleteArray(value);
    return hr;
}

HRESULT CQuillmarLibrary::GetEndCause(int& eventCode, HRESULT& result, int& stream)
{
    jintArray cause = m_host.NewIntArray(3);
    const HRESULT hr = m_getEndCause(Env(), m_host.Quillmar(), cause);
    if (SUCCEEDED(hr)) {
        eventCode = m_host.IntAt(cause, 0);
        result = static_cast<HRESULT>(m_host.IntAt(cause, 1));
        stream = m_host.IntAt(cause, 2);
    }
    m_host.DeleteArray(cause);
    return hr;
}

HRESULT CQuillmarLibrary::GetStreamNumber(int& stream)
{
    jintArray number = m_host.NewIntArray(1);
    const HRESULT hr = m_getStreamNumber(Env(), m_host.Quillmar(), number);
    stream = SUCCEEDED(hr) ? m_host.IntAt(number, 0) : 0;
    m_host.DeleteArray(number);
    return hr;
}

HRESULT CQuillmarLibrary::GetInputDevices(std::string& utf8List)
{
    return GetDeviceList(m_getInputDevices, utf8List);
}

HRESULT CQuillmarLibrary::GetOutputDevices(std::string& utf8List)
{
    return GetDeviceList(m_getOutputDevices, utf8List);
}

HRESULT CQuillmarLibrary::GetDeviceList(DeviceListNative native, std::string& utf8List)
{
    utf8List.clear();
    jintArray size = m_host.NewIntArray(1);
    jsize room = 4096;
    HRESULT hr = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    // Devices may come between two calls: a few rounds, each with the size the last one told.
    for (int round = 0; round < 4 && hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); ++round) {
        jbyteArray list = m_host.NewByteArray(std::string(static_cast<std::size_t>(room), '\0'));
        hr = native(Env(), m_host.Quillmar(), list, size);
        const jint needed = m_host.IntAt(size, 0);
        if (hr == S_OK && needed >= 0 && needed <= room)
            utf8List = m_host.BytesOf(list).substr(0, static_cast<std::size_t>(needed));
        else if (hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER))
            room = needed > room ? needed : room * 2;
        m_host.DeleteArray(list);
    }
    m_host.DeleteArray(size);
    return hr;
}

HRESULT CQuillmarLibrary::RecordFromDevice(const std::string& utf8DeviceId, const std::string& utf8Path,
                                           int formatTag, int sampleRate, int bitRate)
{
    jbyteArray id = m_host.NewByteArray(utf8DeviceId);
    jbyteArray path = m_host.NewByteArray(utf8Path);
    const HRESULT hr = m_recordFromDevice(Env(), m_host.Quillmar(), id, path, formatTag, sampleRate, bitRate);
    m_host.DeleteArray(path);
    m_host.DeleteArray(id);
    return hr;
}

HRESULT CQuillmarLibrary::GetDroppedAudio(unsigned long& gaps, double& missingSeconds)
{
    jdoubleArray value = m_host.NewDoubleArray(2);
    const HRESULT hr = m_getDroppedAudio(Env(), m_host.Quillmar(), value);
    if (SUCCEEDED(hr)) {
        const double count = m_host.DoubleAt(value, 0);
        gaps = count > 0.0 ? static_cast<unsigned long>(count + 0.5) : 0;
        missingSeconds = m_host.DoubleAt(value, 1);
    }
    m_host.DeleteArray(value);
    return hr;
}

HRESULT CQuillmarLibrary::SetPosition(double seconds)
{
    return m_setPosition(Env(), m_host.Quillmar(), seconds);
}

HRESULT CQuillmarLibrary::SetVolume(int volume)
{
    return m_setVolume(Env(), m_host.Quillmar(), volume);
}

HRESULT CQuillmarLibrary::SetBalance(int balance)
{
    return m_setBalance(Env(), m_host.Quillmar(), balance);
}

HRESULT CQuillmarLibrary::GetVolume(int& volume)
{
    return GetLevel(m_getVolume, volume);
}

HRESULT CQuillmarLibrary::GetBalance(int& balance)
{
    return GetLevel(m_getBalance, balance);
}

HRESULT CQuillmarLibrary::GetLevel(jint(JNICALL* native)(JNIEnv*, jobject, jintArray), int& value)
{
    jintArray level = m_host.NewIntArray(1);
    const HRESULT hr = native(Env(), m_host.Quillmar(), level);
    if (SUCCEEDED(hr))
        value = m_host.IntAt(level, 0);
    m_host.DeleteArray(level);
    return hr;
}

HRESULT CQuillmarLibrary::PlayOnDevice(const std::string& utf8DeviceId, const std::string& utf8Path, int number)
{
    jbyteArray id = m_host.NewByteArray(utf8DeviceId);
    jbyteArray path = m_host.NewByteArray(utf8Path);
    const HRESULT hr = m_playOnDevice(Env(), m_host.Quillmar(), id, path, number);
    m_host.DeleteArray(path);
    m_host.DeleteArray(id);
    return hr;
}

HRESULT CQuillmarLibrary::RecordWithOptions(const std::string& utf8DeviceId, const std::string& utf8Path,
                                            const std::vector<int>& options)
{
    jbyteArray id = utf8DeviceId.empty() ? nullptr : m_host.NewByteArray(utf8DeviceId);
    jbyteArray path = utf8Path.empty() ? nullptr : m_host.NewByteArray(utf8Path);
    jintArray values = m_host.NewIntArray(std::vector<jint>(options.begin(), options.end()));
    const HRESULT hr = m_recordWithOptions(Env(), m_host.Quillmar(), id, path, values);
    m_host.DeleteArray(values);
    if (path != nullptr)
        m_host.DeleteArray(path);
    if (id != nullptr)
        m_host.DeleteArray(id);
    return hr;
}

HRESULT CQuillmarLibrary::GetStreamLoss(unsigned long& chunks, double& bytes, double& seconds)
{
    jdoubleArray value = m_host.NewDoubleArray(3);
    const HRESULT hr = m_getStreamLoss(Env(), m_host.Quillmar(), value);
    if (SUCCEEDED(hr)) {
        const double count = m_host.DoubleAt(value, 0);
        chunks = count > 0.0 ? static_cast<unsigned long>(count + 0.5) : 0;
        bytes = m_host.DoubleAt(value, 1);
        seconds = m_host.DoubleAt(value, 2);
    }
    m_host.DeleteArray(value);
    return hr;
}
