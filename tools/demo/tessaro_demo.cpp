// Loads Tessaro.dll the way a Java VM loads a native library (LoadLibrary, JNI_OnLoad), then calls
// initLibrary, getVersion and freeLibrary on a Quillmar object and unloads it again, printing each
// result. The VM is the in-process stand-in that the tests use.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_Quillmar.h"

#include "platform/jvm/java_vm.h"

#include <cstdio>

namespace {

template <class Function>
bool Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (function == nullptr)
        std::fprintf(stderr, "Tessaro.dll does not export %s\n", name);
    return function != nullptr;
}

} // namespace

int main()
{
    TestJvm::CJavaVm jvm;
    HMODULE module = ::LoadLibraryW(L"Tessaro.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "LoadLibrary(Tessaro.dll) failed: error %lu\n", ::GetLastError());
        return 1;
    }
    decltype(&JNI_OnLoad) onLoad = nullptr;
    decltype(&Java_com_tarvik_kelvane_Quillmar_initLibrary) initLibrary = nullptr;
    decltype(&Java_com_tarvik_kelvane_Quillmar_getVersion) getVersion = nullptr;
    decltype(&Java_com_tarvik_kelvane_Quillmar_freeLibrary) freeLibrary = nullptr;
    if (!Resolve(module, "JNI_OnLoad", onLoad) ||
        !Resolve(module, "Java_com_tarvik_kelvane_Quillmar_initLibrary", initLibrary) ||
        !Resolve(module, "Java_com_tarvik_kelvane_Quillmar_getVersion", getVersion) ||
        !Resolve(module, "Java_com_tarvik_kelvane_Quillmar_freeLibrary", freeLibrary)) {
        ::FreeLibrary(module);
        return 1;
    }

    const jint version = onLoad(jvm.Vm(), nullptr);
    std::printf("JNI_OnLoad     -> JNI version 0x%08lX\n", static_cast<unsigned long>(version));
    jobject quillmar = jvm.NewQuillmar();
    const jint initResult = initLibrary(jvm.Env(), quillmar);
    std::printf("initLibrary    -> 0x%08lX\n", static_cast<unsigned long>(initResult));
    const jint moduleVersion = getVersion(jvm.Env(), quillmar);
    std::printf("getVersion     -> %ld%s\n", static_cast<long>(moduleVersion),
                moduleVersion == 0 ? " (no Drovane.tar with a version resource on the search path)" : "");
    freeLibrary(jvm.Env(), quillmar);
    std::printf("freeLibrary    -> done\n");
    ::FreeLibrary(module);
    return initResult < 0 ? 1 : 0;
}
