// The library's lifecycle natives: JNI_OnLoad, initLibrary, freeLibrary and getVersion.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_Quillmar.h"

#include "binding/java_callbacks.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <cstring>

namespace {

// The module whose file version getVersion reports; the platform looks for it as it looks for libraries.
constexpr const wchar_t* kVersionedModule = L"Drovane.tar";

// Reads the file version A.B.C.D of the module's version resource; false when there is none.
bool ReadFileVersion(WORD version[4])
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(kVersionedModule, &handle);
    if (size == 0)
        return false;
    void* block = ::CoTaskMemAlloc(size);
    if (block == nullptr)
        return false;
    bool found = false;
    if (::GetFileVersionInfoW(kVersionedModule, 0, size, block)) {
        s_MainLog.Print(L"get file version…");
        VS_FIXEDFILEINFO* root = nullptr;
        UINT rootSize = 0;
        if (::VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&root), &rootSize) && root != nullptr &&
            rootSize >= sizeof(VS_FIXEDFILEINFO)) {
            VS_FIXEDFILEINFO info;
            std::memcpy(&info, root, sizeof(info));
            version[0] = HIWORD(info.dwFileVersionMS);
            version[1] = LOWORD(info.dwFileVersionMS);
            version[2] = HIWORD(info.dwFileVersionLS);
            version[3] = LOWORD(info.dwFileVersionLS);
            found = true;
        }
    }
    ::CoTaskMemFree(block);
    return found;
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* /*reserved*/)
{
    s_JavaVM = vm;
    return JNI_VERSION_1_4;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_initLibrary(JNIEnv* env, jobject self)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_initLibrary", &hr, CNativeFrame::WithLibraryLockForChange);
    // Checked first: a second initLibrary changes nothing of the first one's.
    if (s_Listener.Started())
        return hr = E_UNEXPECTED;
    // Binds "Stopped" and "InputLevel" and starts the delivery thread, then the media event thread; a
    // failure leaves neither bound nor running.
    s_Listener.SetStreamPump(&StreamPump);
    CStepSequence steps(hr);
    steps.Do([&] { return s_Listener.Start(env, self); })
        .Do([] { return s_MediaEventThread.Initialise(&callback_MediaEvent); });
    if (FAILED(hr) && s_Listener.Started()) {
        s_Listener.Close();
        s_Listener.WaitForListener();
    }
    return hr;
}

JNIEXPORT void JNICALL Java_com_tarvik_kelvane_Quillmar_freeLibrary(JNIEnv* /*env*/, jobject /*self*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_freeLibrary", &hr, CNativeFrame::WithLibraryLockForChange);
    CTearDown tearDown(hr);
    // The graphs first, whose streaming thread hands over the levels; then the event thread, which
    // hands over the graph events; then, outside the library lock, the delivery: its undelivered news
    // is dropped and a listener call that is still running is waited for at most a bounded time (not
    // on the delivery thread itself). A call that runs longer keeps its Java references until it returns.
    tearDown.Do([] { return s_CaptureGraph.Free(); })
        .Do([] {
            s_Stream.Reset();  // a stream not yet delivered is cut short
            return S_OK;
        })
        .Do([] { return s_PlaybackGraph.Free(); })
        .Do([] { return s_MediaEventThread.Shutdown(); })
        .Do([] { return s_Listener.Close(); });
    frame.Unlock();
    tearDown.Do([] { return s_Listener.WaitForListener(); });
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_getVersion(JNIEnv* /*env*/, jobject /*self*/)
{
    int version = 0;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_getVersion", &version, CNativeFrame::WithoutLock);
    s_MainLog.Print(L"init version info…");
    WORD parts[4] = {};
    if (ReadFileVersion(parts)) {
        // Parts above 9 carry into the higher digits; the number is not clamped.
        version = 1000 * parts[0] + 100 * parts[1] + 10 * parts[2] + parts[3];
        s_MainLog.Print(L"file version = %d.%d.%d.%d.", parts[0], parts[1], parts[2], parts[3]);
    }
    return version;
}

} // extern "C"
