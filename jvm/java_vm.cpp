#include "jvm/java_vm.h"

#include "jvm/jvm_state.h"

#include <cstring>

namespace TestJvm {
namespace {

void AddMethod(CJavaVm::CState& state, CObject* cls, const char* name, const char* signature)
{
    cls->methods.push_back(std::make_unique<CMethod>());
    CMethod* method = cls->methods.back().get();
    method->owner = cls;
    method->name = name;
    method->signature = signature;
    state.methods.insert(method);
}

// An object that a test handed in: any live reference, usable from any thread.
CObject* TestObject(const CJavaVm::CState& state, jobject handle, ObjectKind kind, const char* where)
{
    auto found = state.refIndex.find(handle);
    if (found == state.refIndex.end() || !found->second->live)
        FailLoudly("%s was given %p, which is no live reference of this VM", where, static_cast<void*>(handle));
    if (found->second->target->kind != kind)
        FailLoudly("%s was given %p, which is no %s array", where, static_cast<void*>(handle), ArrayKindName(kind));
    return found->second->target;
}

}  // namespace

CJavaVm::CJavaVm() : m_state(std::make_shared<CState>())
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->shell = new CVmShell;
    m_state->shell->functions = InvokeTable();
    m_state->shell->state = m_state.get();
    CObject* quillmar = m_state->ClassNamed(kQuillmarClass);
    AddMethod(*m_state, quillmar, "Stopped", "(I)V");
    AddMethod(*m_state, quillmar, "InputLevel", "(D)V");
    CObject* binding = m_state->ClassNamed(kBindingClass);
    AddMethod(*m_state, binding, "Stopped", "(I)V");
    AddMethod(*m_state, binding, "InputLevel", "(D)V");
    AddMethod(*m_state, binding, "StreamFormat", "([B)V");
    AddMethod(*m_state, binding, "StreamData", "([B)V");
    m_state->Attach(GetCurrentThreadId(), true);
}

CJavaVm::~CJavaVm() = default;

JavaVM* CJavaVm::Vm()
{
    return m_state->shell;
}

JNIEnv* CJavaVm::Env()
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto found = m_state->attachedEnvs.find(GetCurrentThreadId());
    return found == m_state->attachedEnvs.end() ? nullptr : found->second;
}

jobject CJavaVm::NewQuillmar()
{
    return NewObjectOfClass(kQuillmarClass);
}

jobject CJavaVm::NewBinding()
{
    return NewObjectOfClass(kBindingClass);
}

jobject CJavaVm::NewObjectOfClass(const std::string& className)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* object = m_state->NewObject(ObjectKind::Instance, m_state->ClassNamed(className));
    return reinterpret_cast<jobject>(m_state->NewRef(object, false, nullptr));
}

jbyteArray CJavaVm::NewByteArray(const void* bytes, jsize length)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* array = m_state->NewObject(ObjectKind::ByteArray, m_state->ClassNamed("[B"));
    array->bytes.resize(static_cast<std::size_t>(length));
    if (length > 0)
        std::memcpy(array->bytes.data(), bytes, array->bytes.size() * sizeof(jbyte));
    return reinterpret_cast<jbyteArray>(m_state->NewRef(array, false, nullptr));
}

jbyteArray CJavaVm::NewByteArray(const std::string& bytes)
{
    return NewByteArray(bytes.data(), static_cast<jsize>(bytes.size()));
}

jbooleanArray CJavaVm::NewBooleanArray(jsize length)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* array = m_state->NewObject(ObjectKind::BooleanArray, m_state->ClassNamed("[Z"));
    array->booleans.assign(static_cast<std::size_t>(length), JNI_FALSE);
    return reinterpret_cast<jbooleanArray>(m_state->NewRef(array, false, nullptr));
}

jdoubleArray CJavaVm::NewDoubleArray(jsize length)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* array = m_state->NewObject(ObjectKind::DoubleArray, m_state->ClassNamed("[D"));
    array->doubles.assign(static_cast<std::size_t>(length), 0.0);
    return reinterpret_cast<jdoubleArray>(m_state->NewRef(array, false, nullptr));
}

jintArray CJavaVm::NewIntArray(jsize length)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* array = m_state->NewObject(ObjectKind::IntArray, m_state->ClassNamed("[I"));
    array->ints.assign(static_cast<std::size_t>(length), 0);
    return reinterpret_cast<jintArray>(m_state->NewRef(array, false, nullptr));
}

std::vector<jbyte> CJavaVm::ByteContents(jbyteArray array) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return TestObject(*m_state, array, ObjectKind::ByteArray, "ByteContents")->bytes;
}

std::vector<jboolean> CJavaVm::BooleanContents(jbooleanArray array) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return TestObject(*m_state, array, ObjectKind::BooleanArray, "BooleanContents")->booleans;
}

std::vector<jdouble> CJavaVm::DoubleContents(jdoubleArray array) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return TestObject(*m_state, array, ObjectKind::DoubleArray, "DoubleContents")->doubles;
}

std::vector<jint> CJavaVm::IntContents(jintArray array) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return TestObject(*m_state, array, ObjectKind::IntArray, "IntContents")->ints;
}

void CJavaVm::SetBooleanContents(jbooleanArray array, const std::vector<jboolean>& values)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    TestObject(*m_state, array, ObjectKind::BooleanArray, "SetBooleanContents")->booleans = values;
}

void CJavaVm::SetDoubleContents(jdoubleArray array, const std::vector<jdouble>& values)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    TestObject(*m_state, array, ObjectKind::DoubleArray, "SetDoubleContents")->doubles = values;
}

std::vector<MethodLookup> CJavaVm::Lookups() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->lookups;
}

int CJavaVm::OutstandingGlobalRefs() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->OutstandingGlobalRefs();
}

int CJavaVm::GlobalRefsCreated() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->globalRefsCreated;
}

std::vector<JavaCall> CJavaVm::Calls() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->calls;
}

int CJavaVm::Attaches(DWORD threadId) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto found = m_state->attaches.find(threadId);
    return found == m_state->attaches.end() ? 0 : found->second;
}

int CJavaVm::Detaches(DWORD threadId) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto found = m_state->detaches.find(threadId);
    return found == m_state->detaches.end() ? 0 : found->second;
}

int CJavaVm::TotalAttaches() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    int total = 0;
    for (const auto& entry : m_state->attaches)
        total += entry.second;
    return total;
}

int CJavaVm::TotalDetaches() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    int total = 0;
    for (const auto& entry : m_state->detaches)
        total += entry.second;
    return total;
}

bool CJavaVm::IsAttached(DWORD threadId) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->attachedEnvs.count(threadId) != 0;
}

std::vector<ArrayRelease> CJavaVm::Releases() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->releases;
}

int CJavaVm::ElementsOutstanding() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return static_cast<int>(m_state->elementBuffers.size());
}

CJavaVm::Footprint CJavaVm::Held() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    Footprint held;
    held.objects = m_state->objects.size();
    held.refs = m_state->refs.size();
    held.envs = m_state->envs.size();
    return held;
}

std::vector<std::string> CJavaVm::Errors() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->errors;
}

std::string CJavaVm::PendingException() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto found = m_state->attachedEnvs.find(GetCurrentThreadId());
    if (found == m_state->attachedEnvs.end() || !found->second->pendingException)
        return std::string();
    return found->second->pendingException->cls->className;
}

void CJavaVm::ClearPendingException()
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto found = m_state->attachedEnvs.find(GetCurrentThreadId());
    if (found != m_state->attachedEnvs.end())
        found->second->pendingException = nullptr;
}

void CJavaVm::ClearRecords()
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->lookups.clear();
    m_state->calls.clear();
    m_state->attaches.clear();
    m_state->detaches.clear();
    m_state->releases.clear();
    m_state->errors.clear();
    m_state->globalRefsCreated = 0;
}

void CJavaVm::FailGetObjectClass(bool fail)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failGetObjectClass = fail;
}

void CJavaVm::FailGetMethodID(bool fail)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failGetMethodID = fail;
}

void CJavaVm::FailNewGlobalRef(bool fail)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failNewGlobalRef = fail;
}

void CJavaVm::FailAttach(bool fail)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failAttach = fail;
}

void CJavaVm::FailArrayElements(bool fail)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failArrayElements = fail;
}

void CJavaVm::OnCall(std::function<void(const JavaCall&)> hook)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->onCall = std::move(hook);
}

void CJavaVm::OnLookup(std::function<void(const MethodLookup&)> hook)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->onLookup = std::move(hook);
}

void CJavaVm::KeepRecords(bool keep)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->keepRecords = keep;
}

void CJavaVm::ThrowFromCalls(bool doThrow)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->throwFromCalls = doThrow;
}

}  // namespace TestJvm
