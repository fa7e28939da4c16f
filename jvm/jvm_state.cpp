#include "jvm/jvm_state.h"

#include <cstdio>
#include <cstdlib>

namespace TestJvm {

void FailLoudly(const char* format, ...)
{
    std::fputs("test JVM: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    std::abort();
}

const char* ArrayKindName(ObjectKind kind)
{
    switch (kind) {
    case ObjectKind::ByteArray: return "byte";
    case ObjectKind::BooleanArray: return "boolean";
    case ObjectKind::DoubleArray: return "double";
    case ObjectKind::IntArray: return "int";
    default: return "non-array";
    }
}

CJavaVm::CState::CState() = default;

CJavaVm::CState::~CState()
{
    // The JavaVM and every environment stay allocated, marked dead, so that a library still holding
    // one fails loudly instead of touching freed memory.
    shell->state = nullptr;
    for (auto& env : envs) {
        env.second->state = nullptr;
        (void)env.second.release();
    }
}

CObject* CJavaVm::CState::ClassNamed(const std::string& name)
{
    auto found = classes.find(name);
    if (found != classes.end())
        return found->second;
    CObject* cls = NewObject(ObjectKind::Class, nullptr);
    cls->className = name;
    classes[name] = cls;
    cls->cls = name == "java/lang/Class" ? cls : ClassNamed("java/lang/Class");
    return cls;
}

CObject* CJavaVm::CState::NewObject(ObjectKind kind, CObject* cls)
{
    auto created = std::make_unique<CObject>();
    CObject* object = created.get();
    objects[object] = std::move(created);
    object->kind = kind;
    object->cls = cls;
    return object;
}

CRef* CJavaVm::CState::NewRef(CObject* target, bool global, CEnv* owner)
{
    auto created = std::make_unique<CRef>();
    CRef* ref = created.get();
    refs[ref] = std::move(created);
    ref->target = target;
    ref->global = global;
    ref->owner = global ? nullptr : owner;
    ++target->liveRefCount;
    liveRefs.insert(ref);
    refIndex[reinterpret_cast<jobject>(ref)] = ref;
    return ref;
}

void CJavaVm::CState::KillRef(CRef* ref)
{
    ref->live = false;
    liveRefs.erase(ref);
    CObject* target = ref->target;
    ref->target = nullptr;
    const bool array = target->kind != ObjectKind::Class && target->kind != ObjectKind::Instance &&
                       target->kind != ObjectKind::Throwable;
    if (--target->liveRefCount == 0 && array) {
        bool elementsOut = false;
        for (const auto& buffer : elementBuffers)
            elementsOut = elementsOut || buffer.second.array == target;
        if (!elementsOut)
            objects.erase(target);
    }
    deadRefs.push_back(ref);
    if (deadRefs.size() > kDeadRefsKept) {
        CRef* oldest = deadRefs.front();
        deadRefs.pop_front();
        refIndex.erase(reinterpret_cast<jobject>(oldest));
        refs.erase(oldest);
    }
}

CRef* CJavaVm::CState::Resolve(jobject handle, CEnv* env, const char* where, bool allowNull)
{
    if (!handle) {
        if (allowNull)
            return nullptr;
        FailLoudly("%s was given a null reference", where);
    }
    // Handles are looked up by address; one that is not known is never dereferenced.
    auto found = refIndex.find(handle);
    if (found != refIndex.end()) {
        CRef* ref = found->second;
        if (!ref->live)
            FailLoudly("%s was given the deleted %s reference %p", where, ref->global ? "global" : "local",
                       static_cast<void*>(handle));
        if (ref->owner && ref->owner != env)
            FailLoudly("%s was given local reference %p of another thread or an earlier attachment", where,
                       static_cast<void*>(handle));
        return ref;
    }
    FailLoudly("%s was given %p, which is no reference of this VM", where, static_cast<void*>(handle));
}

const CMethod* CJavaVm::CState::ResolveMethod(jmethodID id, const char* where)
{
    const CMethod* method = reinterpret_cast<const CMethod*>(id);
    if (!method)
        FailLoudly("%s was given a null method id", where);
    if (!methods.count(method))
        FailLoudly("%s was given %p, which is no method id of this VM", where, static_cast<void*>(id));
    return method;
}

CEnv* CJavaVm::CState::Attach(DWORD threadId, bool javaThread)
{
    auto created = std::make_unique<CEnv>();
    CEnv* env = created.get();
    envs[env] = std::move(created);
    env->functions = NativeTable();
    env->state = this;
    env->threadId = threadId;
    env->javaThread = javaThread;
    attachedEnvs[threadId] = env;
    return env;
}

void CJavaVm::CState::Detach(CEnv* env)
{
    // Like a real VM: the thread's local references die and a pending exception is dropped.
    std::vector<CRef*> dying;
    for (const CRef* ref : liveRefs) {
        if (ref->owner == env)
            dying.push_back(const_cast<CRef*>(ref));
    }
    for (CRef* ref : dying)
        KillRef(ref);
    env->pendingException = nullptr;
    env->attached = false;
    attachedEnvs.erase(env->threadId);
    detachedEnvs.push_back(env);
    if (detachedEnvs.size() > kDetachedEnvsKept) {
        envs.erase(detachedEnvs.front());
        detachedEnvs.pop_front();
    }
}

void CJavaVm::CState::ThrowNew(CEnv* env, const char* className)
{
    env->pendingException = NewObject(ObjectKind::Throwable, ClassNamed(className));
}

void CJavaVm::CState::RecordError(std::string message)
{
    errors.push_back(std::move(message));
}

void CJavaVm::CState::CheckNoPendingException(CEnv* env, const char* where)
{
    if (env->pendingException)
        RecordError(std::string(where) + " called with " + env->pendingException->cls->className + " pending");
}

int CJavaVm::CState::OutstandingGlobalRefs() const
{
    int count = 0;
    for (const CRef* ref : liveRefs)
        count += ref->global ? 1 : 0;
    return count;
}

CEnvAccess::CEnvAccess(JNIEnv* env, const char* where) : m_env(nullptr), m_state(nullptr)
{
    if (!env)
        FailLoudly("%s was called with a null JNIEnv", where);
    if (env->functions != NativeTable())
        FailLoudly("%s was called with %p, which is no JNIEnv of this VM", where, static_cast<void*>(env));
    m_env = static_cast<CEnv*>(env);
    m_state = m_env->state;
    if (!m_state)
        FailLoudly("%s was called on a JNIEnv of a test VM that no longer exists", where);
    m_guard = std::unique_lock<std::mutex>(m_state->lock);
    if (!m_env->attached)
        FailLoudly("%s was called on a JNIEnv whose thread %lu has since detached", where,
                   static_cast<unsigned long>(m_env->threadId));
    if (m_env->threadId != GetCurrentThreadId())
        FailLoudly("%s was called on thread %lu with the JNIEnv of thread %lu", where,
                   static_cast<unsigned long>(GetCurrentThreadId()), static_cast<unsigned long>(m_env->threadId));
}

}  // namespace TestJvm
