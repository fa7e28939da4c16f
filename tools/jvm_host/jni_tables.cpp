// The JNI function tables of the host: the functions Tessaro.dll uses, over the host's objects. Every
// other slot ends the process with its slot number.
#include "jvm_host/jvm_host_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace JvmHost {
namespace {

using CState = CJvmHost::CState;
using Slot = void(JNICALL*)();

[[noreturn]] void Fail(const char* what, unsigned slot)
{
    std::fprintf(stderr, "JVM host: %s function %u is not implemented\n", what, slot);
    std::fflush(stderr);
    std::abort();
}

// One stub per slot so that the message names the slot. They never return, so what the caller pushed
// for them is never popped.
template <std::size_t Index>
void JNICALL NativeStub()
{
    Fail("JNIEnv", static_cast<unsigned>(Index));
}

template <std::size_t Index>
void JNICALL InvokeStub()
{
    Fail("JavaVM", static_cast<unsigned>(Index));
}

template <std::size_t... Index>
JNINativeInterface_ NativeStubs(std::index_sequence<Index...>)
{
    const Slot slots[] = {&NativeStub<Index>...};
    static_assert(sizeof(slots) == sizeof(JNINativeInterface_), "one stub per slot");
    JNINativeInterface_ table;
    std::memcpy(&table, slots, sizeof(table));
    return table;
}

template <std::size_t... Index>
JNIInvokeInterface_ InvokeStubs(std::index_sequence<Index...>)
{
    const Slot slots[] = {&InvokeStub<Index>...};
    static_assert(sizeof(slots) == sizeof(JNIInvokeInterface_), "one stub per slot");
    JNIInvokeInterface_ table;
    std::memcpy(&table, slots, sizeof(table));
    return table;
}

CState& StateOf(JNIEnv* env)
{
    return *static_cast<CHostEnv*>(env)->state;
}

// ---- Classes, methods, references ---------------------------------------------------------------------------
jclass JNICALL GetObjectClass(JNIEnv* env, jobject object)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    CObject* target = state.Object(object);
    return target == &state.quillmar ? reinterpret_cast<jclass>(&state.quillmarClass) : nullptr;
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature)
{
    CState& state = StateOf(env);
    if (reinterpret_cast<CObject*>(clazz) != &state.quillmarClass || !name || !signature)
        return nullptr;
    for (CMethod* method : {&state.stopped, &state.inputLevel}) {
        if (std::strcmp(method->name, name) == 0 && std::strcmp(method->signature, signature) == 0)
            return reinterpret_cast<jmethodID>(method);
    }
    return nullptr;
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject object)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    CObject* target = state.Object(object);
    if (!target)
        return nullptr;
    ++state.globalRefs[target];
    ++state.globalRefCount;
    return reinterpret_cast<jobject>(target);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject object)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.globalRefs.find(reinterpret_cast<CObject*>(object));
    if (found == state.globalRefs.end() || found->second == 0)
        return;
    --found->second;
    --state.globalRefCount;
}

// ---- Calls into Java: the Quillmar callbacks -----------------------------------------------------------------
void JNICALL CallVoidMethodV(JNIEnv* env, jobject object, jmethodID method, va_list args)
{
    CState& state = StateOf(env);
    if (reinterpret_cast<CObject*>(object) != &state.quillmar)
        return;
    const CMethod* called = reinterpret_cast<const CMethod*>(method);
    if (called == &state.stopped)
        state.callbacks.Stopped(va_arg(args, jint));
    else if (called == &state.inputLevel)
        state.callbacks.InputLevel(va_arg(args, jdouble));
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject object, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    CallVoidMethodV(env, object, method, args);
    va_end(args);
}

// The callbacks never throw: no exception is ever pending.
jboolean JNICALL ExceptionCheck(JNIEnv*)
{
    return JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*)
{
    return nullptr;
}

void JNICALL ExceptionNothing(JNIEnv*)
{
}

// ---- Arrays ---------------------------------------------------------------------------------------------------
jsize JNICALL GetArrayLength(JNIEnv* env, jarray array)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    CObject* object = state.Object(array);
    return object ? object->length : 0;
}

// Elements are handed out as a copy that the matching release copies back (modes 0 and JNI_COMMIT)
// and frees (modes 0 and JNI_ABORT), as a virtual machine that copies arrays does.
void* GetElements(JNIEnv* env, jarray array, jboolean* isCopy, Kind kind)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    CObject* object = state.Object(array);
    if (!object || object->kind != kind)
        return nullptr;
    void* copy = std::malloc(object->elements.size() + 1);
    if (!copy)
        return nullptr;
    if (!object->elements.empty())
        std::memcpy(copy, object->elements.data(), object->elements.size());
    if (isCopy)
        *isCopy = JNI_TRUE;
    return copy;
}

void ReleaseElements(JNIEnv* env, jarray array, void* elements, jint mode)
{
    CState& state = StateOf(env);
    std::lock_guard<std::mutex> guard(state.lock);
    CObject* object = state.Object(array);
    if (object && elements && mode != JNI_ABORT && !object->elements.empty())
        std::memcpy(object->elements.data(), elements, object->elements.size());
    if (mode != JNI_COMMIT)
        std::free(elements);
}

jbyte* JNICALL GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy)
{
    return static_cast<jbyte*>(GetElements(env, array, isCopy, Kind::ByteArray));
}

jboolean* JNICALL GetBooleanArrayElements(JNIEnv* env, jbooleanArray array, jboolean* isCopy)
{
    return static_cast<jboolean*>(GetElements(env, array, isCopy, Kind::BooleanArray));
}

jdouble* JNICALL GetDoubleArrayElements(JNIEnv* env, jdoubleArray array, jboolean* isCopy)
{
    return static_cast<jdouble*>(GetElements(env, array, isCopy, Kind::DoubleArray));
}

void JNICALL ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode)
{
    ReleaseElements(env, array, elements, mode);
}

void JNICALL ReleaseBooleanArrayElements(JNIEnv* env, jbooleanArray array, jboolean* elements, jint mode)
{
    ReleaseElements(env, array, elements, mode);
}

void JNICALL ReleaseDoubleArrayElements(JNIEnv* env, jdoubleArray array, jdouble* elements, jint mode)
{
    ReleaseElements(env, array, elements, mode);
}

jint JNICALL GetVersion(JNIEnv*)
{
    return JNI_VERSION_1_8;
}

// ---- The invocation interface ------------------------------------------------------------------------------------
CState& StateOf(JavaVM* vm)
{
    return *static_cast<CHostVm*>(vm)->state;
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint /*version*/)
{
    CState& state = StateOf(vm);
    std::lock_guard<std::mutex> guard(state.lock);
    CHostEnv* env = state.CurrentEnv();
    *penv = env;
    return env ? JNI_OK : JNI_EDETACHED;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void* /*args*/)
{
    CState& state = StateOf(vm);
    std::lock_guard<std::mutex> guard(state.lock);
    CHostEnv* env = state.CurrentEnv();
    *penv = env ? env : state.Attach();
    return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM* vm)
{
    CState& state = StateOf(vm);
    std::lock_guard<std::mutex> guard(state.lock);
    state.envs.erase(::GetCurrentThreadId());
    return JNI_OK;
}

jint JNICALL DestroyJavaVM(JavaVM*)
{
    return JNI_ERR;
}

JNINativeInterface_ MakeNativeTable()
{
    JNINativeInterface_ table = NativeStubs(std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(Slot)>());
    table.GetVersion = GetVersion;
    table.GetObjectClass = GetObjectClass;
    table.GetMethodID = GetMethodID;
    table.NewGlobalRef = NewGlobalRef;
    table.DeleteGlobalRef = DeleteGlobalRef;
    table.CallVoidMethod = CallVoidMethod;
    table.CallVoidMethodV = CallVoidMethodV;
    table.ExceptionCheck = ExceptionCheck;
    table.ExceptionOccurred = ExceptionOccurred;
    table.ExceptionClear = ExceptionNothing;
    table.ExceptionDescribe = ExceptionNothing;
    table.GetArrayLength = GetArrayLength;
    table.GetByteArrayElements = GetByteArrayElements;
    table.GetBooleanArrayElements = GetBooleanArrayElements;
    table.GetDoubleArrayElements = GetDoubleArrayElements;
    table.ReleaseByteArrayElements = ReleaseByteArrayElements;
    table.ReleaseBooleanArrayElements = ReleaseBooleanArrayElements;
    table.ReleaseDoubleArrayElements = ReleaseDoubleArrayElements;
    return table;
}

JNIInvokeInterface_ MakeInvokeTable()
{
    JNIInvokeInterface_ table = InvokeStubs(std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(Slot)>());
    table.reserved0 = nullptr;
    table.reserved1 = nullptr;
    table.reserved2 = nullptr;
    table.DestroyJavaVM = DestroyJavaVM;
    table.AttachCurrentThread = AttachCurrentThread;
    table.DetachCurrentThread = DetachCurrentThread;
    table.GetEnv = GetEnv;
    table.AttachCurrentThreadAsDaemon = AttachCurrentThread;
    return table;
}

}  // namespace

const JNINativeInterface_* NativeTable()
{
    static const JNINativeInterface_ table = MakeNativeTable();
    return &table;
}

const JNIInvokeInterface_* InvokeTable()
{
    static const JNIInvokeInterface_ table = MakeInvokeTable();
    return &table;
}

}  // namespace JvmHost
