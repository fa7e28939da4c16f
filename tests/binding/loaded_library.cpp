#include "loaded_library.h"

#include <gtest/gtest.h>

namespace {

template <class Function>
void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (function == nullptr)
        ADD_FAILURE() << "Tessaro.dll does not export " << name;
}

} // namespace

CLoadedLibrary::CLoadedLibrary() : CLoadedLibrary(false)
{
}

CLoadedLibrary::CLoadedLibrary(bool binding) : m_jvm(std::make_unique<TestJvm::CJavaVm>())
{
    ::DeleteFileW(L"Tessaro.log");
    ::DeleteFileW(L"MPEG2AudioEncoder.log");
    m_module = ::LoadLibraryW(L"Tessaro.dll");
    if (m_module == nullptr) {
        ADD_FAILURE() << "LoadLibrary(Tessaro.dll) failed, error " << ::GetLastError();
        return;
    }
#define TESSARO_RESOLVE(name) Resolve(m_module, #name, name)
    TESSARO_RESOLVE(JNI_OnLoad);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_initLibrary);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_freeLibrary);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_getVersion);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_record);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_play);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_pause);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_stop);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_getDuration);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_getCurrentPosition);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_Quillmar_addBuffer);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions);
    TESSARO_RESOLVE(Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss);
#undef TESSARO_RESOLVE
    m_java = binding ? m_jvm->NewBinding() : m_jvm->NewQuillmar();
    if (JNI_OnLoad != nullptr)
        m_onLoadResult = JNI_OnLoad(m_jvm->Vm(), nullptr);
}

CLoadedLibrary::~CLoadedLibrary()
{
    Unload();
}

void CLoadedLibrary::Unload()
{
    if (m_module != nullptr) {
        ::FreeLibrary(m_module);
        m_module = nullptr;
    }
}

std::wstring WorkPath(const std::wstring& file)
{
    wchar_t directory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    return std::wstring(directory) + L"\\" + file;
}

CJavaThread::CJavaThread(TestJvm::CJavaVm& jvm, std::function<void(JNIEnv*)> call)
    : m_jvm(jvm), m_call(std::move(call))
{
    m_thread = ::CreateThread(nullptr, 0, &CJavaThread::Routine, this, 0, nullptr);
}

CJavaThread::~CJavaThread()
{
    if (m_thread != nullptr && ::WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0)
        ::CloseHandle(m_thread);
}

bool CJavaThread::Join(DWORD milliseconds)
{
    return m_thread != nullptr && ::WaitForSingleObject(m_thread, milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI CJavaThread::Routine(void* parameter)
{
    CJavaThread* const self = static_cast<CJavaThread*>(parameter);
    JNIEnv* env = nullptr;
    self->m_jvm.Vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    self->m_call(env);
    self->m_jvm.Vm()->DetachCurrentThread();
    return 0;
}

std::string Utf8(const std::wstring& text)
{
    return TestTrace::Narrow(text);
}
