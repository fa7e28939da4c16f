// The two JNI function tables of the test JVM: the functions the library uses behave like a real
// virtual machine and are recorded; every other slot fails loudly.
#include "jvm/jni_slot_names.h"
#include "jvm/jvm_state.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace TestJvm {
namespace {

using CState = CJavaVm::CState;

// ---- Slots that must not be called -------------------------------------------------------------------
// One stub per slot, so the message names the slot. The stubs take no parameters: they never return,
// so whatever the caller pushed is never popped.
using Slot = void(JNICALL*)();

template <std::size_t Index>
[[noreturn]] void JNICALL NativeSlotStub()
{
    FailLoudly("JNIEnv function %u (%s) was called; the library is not supposed to use it",
               static_cast<unsigned>(Index), NativeSlotName(Index));
}

template <std::size_t Index>
[[noreturn]] void JNICALL InvokeSlotStub()
{
    FailLoudly("JavaVM function %u (%s) was called; the library is not supposed to use it",
               static_cast<unsigned>(Index), InvokeSlotName(Index));
}

template <std::size_t... Index>
JNINativeInterface_ NativeStubs(std::index_sequence<Index...>)
{
    const Slot slots[] = {&NativeSlotStub<Index>...};
    static_assert(sizeof(slots) == sizeof(JNINativeInterface_), "one stub per slot");
    JNINativeInterface_ table;
    std::memcpy(&table, slots, sizeof(table));
    return table;
}

template <std::size_t... Index>
JNIInvokeInterface_ InvokeStubs(std::index_sequence<Index...>)
{
    const Slot slots[] = {&InvokeSlotStub<Index>...};
    static_assert(sizeof(slots) == sizeof(JNIInvokeInterface_), "one stub per slot");
    JNIInvokeInterface_ table;
    std::memcpy(&table, slots, sizeof(table));
    return table;
}

// ---- Versions ------------------------------------------------------------------------------------------
bool IsSupportedVersion(jint version)
{
    switch (version) {
    case JNI_VERSION_1_1:
    case JNI_VERSION_1_2:
    case JNI_VERSION_1_4:
    case JNI_VERSION_1_6:
    case JNI_VERSION_1_8:
    case JNI_VERSION_9:
    case JNI_VERSION_10:
        return true;
    default:
        return false;
    }
}

// ---- References and classes ------------------------------------------------------------------------------
jclass JNICALL GetObjectClass(JNIEnv* env, jobject object)
{
    CEnvAccess access(env, "GetObjectClass");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "GetObjectClass");
    CRef* ref = state.Resolve(object, access.Env(), "GetObjectClass");
    if (state.failGetObjectClass)
        return nullptr;
    return reinterpret_cast<jclass>(state.NewRef(ref->target->cls, false, access.Env()));
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature)
{
    CEnvAccess access(env, "GetMethodID");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "GetMethodID");
    CRef* ref = state.Resolve(clazz, access.Env(), "GetMethodID");
    if (ref->target->kind != ObjectKind::Class)
        FailLoudly("GetMethodID was given %p, which is no class", static_cast<void*>(clazz));
    if (!name || !signature)
        FailLoudly("GetMethodID was given a null name or signature");
    CMethod* method = nullptr;
    for (auto& candidate : ref->target->methods) {
        if (candidate->name == name && candidate->signature == signature)
            method = candidate.get();
    }
    if (state.failGetMethodID)
        method = nullptr;
    const MethodLookup lookup{ref->target->className, name, signature, method != nullptr};
    if (state.keepRecords)
        state.lookups.push_back(lookup);
    // The lookup hook runs without the VM's lock, so that it may block or use the VM.
    const std::function<void(const MethodLookup&)> hook = state.onLookup;
    if (hook) {
        access.Unlock();
        hook(lookup);
        access.Lock();
    }
    if (!method) {
        state.ThrowNew(access.Env(), kNoSuchMethodError);
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(method);
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject object)
{
    CEnvAccess access(env, "NewGlobalRef");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "NewGlobalRef");
    CRef* ref = state.Resolve(object, access.Env(), "NewGlobalRef", true);
    if (!ref || state.failNewGlobalRef)
        return nullptr;
    ++state.globalRefsCreated;
    return reinterpret_cast<jobject>(state.NewRef(ref->target, true, nullptr));
}

// Deleting is recorded rather than fatal when the reference is wrong: the test reports it.
void DeleteRef(JNIEnv* env, jobject object, bool global, const char* where)
{
    CEnvAccess access(env, where);
    CState& state = access.State();
    if (!object)
        return;
    auto found = state.refIndex.find(object);
    char message[160];
    if (found == state.refIndex.end()) {
        std::snprintf(message, sizeof(message), "%s was given %p, which is no reference of this VM", where,
                      static_cast<void*>(object));
    } else if (!found->second->live) {
        std::snprintf(message, sizeof(message), "%s was given the already deleted reference %p", where,
                      static_cast<void*>(object));
    } else if (found->second->global != global) {
        std::snprintf(message, sizeof(message), "%s was given the %s reference %p", where,
                      global ? "local" : "global", static_cast<void*>(object));
    } else if (!global && found->second->owner && found->second->owner != access.Env()) {
        std::snprintf(message, sizeof(message), "%s was given local reference %p of another attachment", where,
                      static_cast<void*>(object));
    } else {
        state.KillRef(found->second);
        return;
    }
    state.RecordError(message);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject object)
{
    DeleteRef(env, object, true, "DeleteGlobalRef");
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject object)
{
    DeleteRef(env, object, false, "DeleteLocalRef");
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject object)
{
    CEnvAccess access(env, "NewLocalRef");
    CState& state = access.State();
    CRef* ref = state.Resolve(object, access.Env(), "NewLocalRef", true);
    if (!ref)
        return nullptr;
    return reinterpret_cast<jobject>(state.NewRef(ref->target, false, access.Env()));
}

// The contents of a byte array passed to a Java method.
std::vector<jbyte> ResolveBytes(CState& state, CEnv* env, jobject array, const char* where)
{
    CObject* target = state.Resolve(array, env, where)->target;
    if (target->kind != ObjectKind::ByteArray)
        FailLoudly("%s was given %p, which is no byte array", where, static_cast<void*>(array));
    return target->bytes;
}

// ---- Calls into Java ---------------------------------------------------------------------------------------
// Reads the arguments of a call: readInt/readDouble fetch the next argument of that type.
template <typename ReadInt, typename ReadDouble, typename ReadObject>
void CallVoid(JNIEnv* env, jobject object, jmethodID methodId, const char* where, ReadInt readInt,
              ReadDouble readDouble, ReadObject readObject)
{
    CEnvAccess access(env, where);
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), where);
    CRef* ref = state.Resolve(object, access.Env(), where);
    const CMethod* method = state.ResolveMethod(methodId, where);
    if (ref->target->kind != ObjectKind::Instance || ref->target->cls != method->owner)
        FailLoudly("%s: method %s%s of %s called on an object of class %s", where, method->name.c_str(),
                   method->signature.c_str(), method->owner->className.c_str(),
                   ref->target->cls->className.c_str());

    JavaCall call;
    call.className = method->owner->className;
    call.method = method->name;
    call.signature = method->signature;
    if (method->signature == "(I)V")
        call.intArg = readInt();
    else if (method->signature == "(D)V")
        call.doubleArg = readDouble();
    else if (method->signature == "([B)V") {
        const jobject array = readObject();
        call.nullArg = array == nullptr;
        if (array != nullptr)
            call.bytesArg = ResolveBytes(state, access.Env(), array, where);
    } else if (method->signature != "()V")
        FailLoudly("%s: the test JVM cannot pass the arguments of %s", where, method->signature.c_str());
    call.threadId = GetCurrentThreadId();
    call.attachedDuringCall = access.Env()->attached;
    call.receiverIsGlobalRef = ref->global;
    if (state.keepRecords)
        state.calls.push_back(call);

    // The Java method runs without the VM's lock, like Java code that may call back in.
    const std::function<void(const JavaCall&)> hook = state.onCall;
    access.Unlock();
    if (hook)
        hook(call);
    access.Lock();
    if (state.throwFromCalls)
        state.ThrowNew(access.Env(), kThrownByCall);
}

void JNICALL CallVoidMethodV(JNIEnv* env, jobject object, jmethodID methodId, va_list args)
{
    CallVoid(
        env, object, methodId, "CallVoidMethodV", [&] { return va_arg(args, jint); },
        [&] { return va_arg(args, jdouble); }, [&] { return va_arg(args, jobject); });
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject object, jmethodID methodId, ...)
{
    va_list args;
    va_start(args, methodId);
    CallVoid(
        env, object, methodId, "CallVoidMethod", [&] { return va_arg(args, jint); },
        [&] { return va_arg(args, jdouble); }, [&] { return va_arg(args, jobject); });
    va_end(args);
}

void JNICALL CallVoidMethodA(JNIEnv* env, jobject object, jmethodID methodId, const jvalue* args)
{
    if (!args)
        FailLoudly("CallVoidMethodA was given a null argument array");
    CallVoid(
        env, object, methodId, "CallVoidMethodA", [&] { return args[0].i; }, [&] { return args[0].d; },
        [&] { return args[0].l; });
}

// ---- Arrays -----------------------------------------------------------------------------------------------
template <typename Element>
constexpr ObjectKind KindOf()
{
    if constexpr (std::is_same_v<Element, jbyte>)
        return ObjectKind::ByteArray;
    else if constexpr (std::is_same_v<Element, jboolean>)
        return ObjectKind::BooleanArray;
    else if constexpr (std::is_same_v<Element, jint>)
        return ObjectKind::IntArray;
    else
        return ObjectKind::DoubleArray;
}

template <typename Element>
std::vector<Element>& ElementsOf(CObject& array)
{
    if constexpr (std::is_same_v<Element, jbyte>)
        return array.bytes;
    else if constexpr (std::is_same_v<Element, jboolean>)
        return array.booleans;
    else if constexpr (std::is_same_v<Element, jint>)
        return array.ints;
    else
        return array.doubles;
}

CObject* ResolveArray(CState& state, CEnv* env, jobject array, ObjectKind kind, const char* where)
{
    CObject* target = state.Resolve(array, env, where)->target;
    if (target->kind != kind)
        FailLoudly("%s was given %p, which is no %s array", where, static_cast<void*>(array), ArrayKindName(kind));
    return target;
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array)
{
    CEnvAccess access(env, "GetArrayLength");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "GetArrayLength");
    CObject* target = state.Resolve(array, access.Env(), "GetArrayLength")->target;
    switch (target->kind) {
    case ObjectKind::ByteArray: return static_cast<jsize>(target->bytes.size());
    case ObjectKind::BooleanArray: return static_cast<jsize>(target->booleans.size());
    case ObjectKind::DoubleArray: return static_cast<jsize>(target->doubles.size());
    case ObjectKind::IntArray: return static_cast<jsize>(target->ints.size());
    default: FailLoudly("GetArrayLength was given %p, which is no array", static_cast<void*>(array));
    }
}

// What follows every buffer that Get<Kind>ArrayElements hands out.
constexpr std::size_t ElementGuardBytes = 16;
constexpr unsigned char ElementGuardByte = 0xFD;

template <typename Element>
Element* GetElements(JNIEnv* env, jobject array, jboolean* isCopy, const char* where)
{
    CEnvAccess access(env, where);
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), where);
    CObject* target = ResolveArray(state, access.Env(), array, KindOf<Element>(), where);
    if (state.failArrayElements)
        return nullptr;
    const std::vector<Element>& elements = ElementsOf<Element>(*target);
    // Never a null or shared address, even for an empty array.
    // Non-zero guard bytes follow the elements: code that reads past the length (a terminator search)
    // reads them, never a zero that happens to lie there.
    const std::size_t size = elements.size() * sizeof(Element);
    CElementBuffer buffer;
    buffer.array = target;
    buffer.kind = KindOf<Element>();
    buffer.data.reset(new unsigned char[size + ElementGuardBytes]);
    if (size)
        std::memcpy(buffer.data.get(), elements.data(), size);
    std::memset(buffer.data.get() + size, ElementGuardByte, ElementGuardBytes);
    void* address = buffer.data.get();
    state.elementBuffers[address] = std::move(buffer);
    if (isCopy)
        *isCopy = JNI_TRUE;
    return static_cast<Element*>(address);
}

template <typename Element>
void ReleaseElements(JNIEnv* env, jobject array, Element* elements, jint mode, const char* where)
{
    CEnvAccess access(env, where);
    CState& state = access.State();
    CObject* target = ResolveArray(state, access.Env(), array, KindOf<Element>(), where);
    auto found = state.elementBuffers.find(static_cast<void*>(elements));
    if (found == state.elementBuffers.end())
        FailLoudly("%s was given %p, which is no element buffer handed out (or it was freed)", where,
                   static_cast<void*>(elements));
    if (found->second.array != target)
        FailLoudly("%s was given the elements of another array", where);
    if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT)
        FailLoudly("%s was given the unknown mode %ld", where, static_cast<long>(mode));
    if (state.keepRecords)
        state.releases.push_back(ArrayRelease{ArrayKindName(KindOf<Element>()), mode});
    std::vector<Element>& contents = ElementsOf<Element>(*target);
    if (mode == 0 || mode == JNI_COMMIT) {
        if (!contents.empty())
            std::memcpy(contents.data(), elements, contents.size() * sizeof(Element));
    }
    if (mode == 0 || mode == JNI_ABORT)
        state.elementBuffers.erase(found);
}

jbyte* JNICALL GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy)
{
    return GetElements<jbyte>(env, array, isCopy, "GetByteArrayElements");
}

jboolean* JNICALL GetBooleanArrayElements(JNIEnv* env, jbooleanArray array, jboolean* isCopy)
{
    return GetElements<jboolean>(env, array, isCopy, "GetBooleanArrayElements");
}

jdouble* JNICALL GetDoubleArrayElements(JNIEnv* env, jdoubleArray array, jboolean* isCopy)
{
    return GetElements<jdouble>(env, array, isCopy, "GetDoubleArrayElements");
}

jint* JNICALL GetIntArrayElements(JNIEnv* env, jintArray array, jboolean* isCopy)
{
    return GetElements<jint>(env, array, isCopy, "GetIntArrayElements");
}

void JNICALL ReleaseIntArrayElements(JNIEnv* env, jintArray array, jint* elements, jint mode)
{
    ReleaseElements<jint>(env, array, elements, mode, "ReleaseIntArrayElements");
}

void JNICALL ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode)
{
    ReleaseElements<jbyte>(env, array, elements, mode, "ReleaseByteArrayElements");
}

void JNICALL ReleaseBooleanArrayElements(JNIEnv* env, jbooleanArray array, jboolean* elements, jint mode)
{
    ReleaseElements<jboolean>(env, array, elements, mode, "ReleaseBooleanArrayElements");
}

void JNICALL ReleaseDoubleArrayElements(JNIEnv* env, jdoubleArray array, jdouble* elements, jint mode)
{
    ReleaseElements<jdouble>(env, array, elements, mode, "ReleaseDoubleArrayElements");
}

// ---- Exceptions ---------------------------------------------------------------------------------------------
jthrowable JNICALL ExceptionOccurred(JNIEnv* env)
{
    CEnvAccess access(env, "ExceptionOccurred");
    CObject* pending = access.Env()->pendingException;
    if (!pending)
        return nullptr;
    return reinterpret_cast<jthrowable>(access.State().NewRef(pending, false, access.Env()));
}

void JNICALL ExceptionDescribe(JNIEnv* env)
{
    CEnvAccess access(env, "ExceptionDescribe");
    CObject* pending = access.Env()->pendingException;
    if (pending) {
        std::fprintf(stderr, "test JVM: exception %s on thread %lu\n", pending->cls->className.c_str(),
                     static_cast<unsigned long>(access.Env()->threadId));
        std::fflush(stderr);
    }
    access.Env()->pendingException = nullptr;
}

void JNICALL ExceptionClear(JNIEnv* env)
{
    CEnvAccess access(env, "ExceptionClear");
    access.Env()->pendingException = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env)
{
    CEnvAccess access(env, "ExceptionCheck");
    return access.Env()->pendingException ? JNI_TRUE : JNI_FALSE;
}

// ---- The invocation interface --------------------------------------------------------------------------
CState& StateOf(JavaVM* vm, const char* where)
{
    if (!vm)
        FailLoudly("%s was called with a null JavaVM", where);
    if (vm->functions != InvokeTable())
        FailLoudly("%s was called with %p, which is no JavaVM of the test VM", where, static_cast<void*>(vm));
    CState* state = static_cast<CVmShell*>(vm)->state;
    if (!state)
        FailLoudly("%s was called on a test VM that no longer exists", where);
    return *state;
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version)
{
    CState& state = StateOf(vm, "GetEnv");
    if (!penv)
        FailLoudly("GetEnv was given a null address for the environment");
    std::lock_guard<std::mutex> guard(state.lock);
    *penv = nullptr;
    auto found = state.attachedEnvs.find(GetCurrentThreadId());
    if (found == state.attachedEnvs.end())
        return JNI_EDETACHED;
    if (!IsSupportedVersion(version))
        return JNI_EVERSION;
    *penv = static_cast<JNIEnv*>(found->second);
    return JNI_OK;
}

jint Attach(JavaVM* vm, void** penv, void* args, const char* where)
{
    CState& state = StateOf(vm, where);
    if (!penv)
        FailLoudly("%s was given a null address for the environment", where);
    const auto* attachArgs = static_cast<const JavaVMAttachArgs*>(args);
    if (attachArgs && !IsSupportedVersion(attachArgs->version))
        return JNI_EVERSION;
    std::lock_guard<std::mutex> guard(state.lock);
    const DWORD threadId = GetCurrentThreadId();
    auto found = state.attachedEnvs.find(threadId);
    if (found != state.attachedEnvs.end()) {
        // Attaching an attached thread changes nothing and is not counted.
        *penv = static_cast<JNIEnv*>(found->second);
        return JNI_OK;
    }
    if (state.failAttach) {
        *penv = nullptr;
        return JNI_ERR;
    }
    *penv = static_cast<JNIEnv*>(state.Attach(threadId, false));
    ++state.attaches[threadId];
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void* args)
{
    return Attach(vm, penv, args, "AttachCurrentThread");
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args)
{
    return Attach(vm, penv, args, "AttachCurrentThreadAsDaemon");
}

jint JNICALL DetachCurrentThread(JavaVM* vm)
{
    CState& state = StateOf(vm, "DetachCurrentThread");
    std::lock_guard<std::mutex> guard(state.lock);
    const DWORD threadId = GetCurrentThreadId();
    auto found = state.attachedEnvs.find(threadId);
    if (found == state.attachedEnvs.end()) {
        state.RecordError("DetachCurrentThread on thread " + std::to_string(threadId) + ", which is not attached");
        return JNI_ERR;
    }
    if (found->second->javaThread) {
        state.RecordError("DetachCurrentThread on the Java thread " + std::to_string(threadId));
        return JNI_ERR;
    }
    state.Detach(found->second);
    ++state.detaches[threadId];
    return JNI_OK;
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length)
{
    CEnvAccess access(env, "NewByteArray");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "NewByteArray");
    if (length < 0)
        FailLoudly("NewByteArray was given the length %ld", static_cast<long>(length));
    CObject* array = state.NewObject(ObjectKind::ByteArray, state.ClassNamed("[B"));
    array->bytes.assign(static_cast<std::size_t>(length), 0);
    return reinterpret_cast<jbyteArray>(state.NewRef(array, false, access.Env()));
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* bytes)
{
    CEnvAccess access(env, "SetByteArrayRegion");
    CState& state = access.State();
    state.CheckNoPendingException(access.Env(), "SetByteArrayRegion");
    CObject* target = state.Resolve(array, access.Env(), "SetByteArrayRegion")->target;
    if (target->kind != ObjectKind::ByteArray || start < 0 || length < 0 ||
        static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > target->bytes.size())
        FailLoudly("SetByteArrayRegion out of bounds: %ld + %ld", static_cast<long>(start), static_cast<long>(length));
    if (length > 0)
        std::memcpy(target->bytes.data() + start, bytes, static_cast<std::size_t>(length));
}

JNINativeInterface_ MakeNativeTable()
{
    JNINativeInterface_ table = NativeStubs(std::make_index_sequence<kNativeSlotCount>());
    table.GetObjectClass = GetObjectClass;
    table.GetMethodID = GetMethodID;
    table.NewGlobalRef = NewGlobalRef;
    table.DeleteGlobalRef = DeleteGlobalRef;
    table.NewLocalRef = NewLocalRef;
    table.DeleteLocalRef = DeleteLocalRef;
    table.CallVoidMethod = CallVoidMethod;
    table.CallVoidMethodV = CallVoidMethodV;
    table.CallVoidMethodA = CallVoidMethodA;
    table.GetArrayLength = GetArrayLength;
    table.NewByteArray = NewByteArray;
    table.SetByteArrayRegion = SetByteArrayRegion;
    table.GetByteArrayElements = GetByteArrayElements;
    table.GetBooleanArrayElements = GetBooleanArrayElements;
    table.GetDoubleArrayElements = GetDoubleArrayElements;
    table.ReleaseByteArrayElements = ReleaseByteArrayElements;
    table.ReleaseBooleanArrayElements = ReleaseBooleanArrayElements;
    table.ReleaseDoubleArrayElements = ReleaseDoubleArrayElements;
    table.GetIntArrayElements = GetIntArrayElements;
    table.ReleaseIntArrayElements = ReleaseIntArrayElements;
    table.ExceptionOccurred = ExceptionOccurred;
    table.ExceptionDescribe = ExceptionDescribe;
    table.ExceptionClear = ExceptionClear;
    table.ExceptionCheck = ExceptionCheck;
    return table;
}

JNIInvokeInterface_ MakeInvokeTable()
{
    JNIInvokeInterface_ table = InvokeStubs(std::make_index_sequence<kInvokeSlotCount>());
    table.AttachCurrentThread = AttachCurrentThread;
    table.DetachCurrentThread = DetachCurrentThread;
    table.GetEnv = GetEnv;
    table.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
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

}  // namespace TestJvm
