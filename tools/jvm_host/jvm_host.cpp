#include "jvm_host/jvm_host_state.h"

#include <cstring>

namespace JvmHost {

std::size_t ElementSize(Kind kind)
{
    switch (kind) {
    case Kind::ByteArray: return sizeof(jbyte);
    case Kind::BooleanArray: return sizeof(jboolean);
    case Kind::DoubleArray: return sizeof(jdouble);
    default: return 0;
    }
}

CObject* CJvmHost::CState::Object(jobject handle)
{
    CObject* object = reinterpret_cast<CObject*>(handle);
    if (object == &quillmar || object == &quillmarClass)
        return object;
    for (const auto& array : arrays) {
        if (array.get() == object)
            return object;
    }
    return nullptr;
}

CHostEnv* CJvmHost::CState::CurrentEnv()
{
    auto found = envs.find(::GetCurrentThreadId());
    return found == envs.end() ? nullptr : found->second.get();
}

CHostEnv* CJvmHost::CState::Attach()
{
    auto env = std::make_unique<CHostEnv>();
    env->functions = NativeTable();
    env->state = this;
    env->threadId = ::GetCurrentThreadId();
    CHostEnv* result = env.get();
    envs[env->threadId] = std::move(env);
    return result;
}

namespace {

CObject* NewArray(CJvmHost::CState& state, Kind kind, jsize length)
{
    auto array = std::make_unique<CObject>();
    array->kind = kind;
    array->length = length < 0 ? 0 : length;
    array->elements.assign(static_cast<std::size_t>(array->length) * ElementSize(kind), 0);
    CObject* result = array.get();
    std::lock_guard<std::mutex> guard(state.lock);
    state.arrays.insert(std::move(array));
    return result;
}

}  // namespace

CJvmHost::CJvmHost(IQuillmarCallbacks& callbacks) : m_state(std::make_unique<CState>(callbacks))
{
    m_state->vm.functions = InvokeTable();
    m_state->vm.state = m_state.get();
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->Attach();
}

CJvmHost::~CJvmHost() = default;

JavaVM* CJvmHost::Vm()
{
    return &m_state->vm;
}

JNIEnv* CJvmHost::Env()
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->CurrentEnv();
}

jobject CJvmHost::Quillmar()
{
    return reinterpret_cast<jobject>(&m_state->quillmar);
}

jbyteArray CJvmHost::NewByteArray(const std::string& bytes)
{
    CObject* array = NewArray(*m_state, Kind::ByteArray, static_cast<jsize>(bytes.size()));
    if (!bytes.empty())
        std::memcpy(array->elements.data(), bytes.data(), bytes.size());
    return reinterpret_cast<jbyteArray>(array);
}

jbooleanArray CJvmHost::NewBooleanArray(jsize length)
{
    return reinterpret_cast<jbooleanArray>(NewArray(*m_state, Kind::BooleanArray, length));
}

jdoubleArray CJvmHost::NewDoubleArray(jsize length)
{
    return reinterpret_cast<jdoubleArray>(NewArray(*m_state, Kind::DoubleArray, length));
}

jboolean CJvmHost::BooleanAt(jbooleanArray array, jsize index) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* object = m_state->Object(array);
    if (!object || object->kind != Kind::BooleanArray || index < 0 || index >= object->length)
        return JNI_FALSE;
    return object->elements[static_cast<std::size_t>(index)];
}

jdouble CJvmHost::DoubleAt(jdoubleArray array, jsize index) const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    CObject* object = m_state->Object(array);
    if (!object || object->kind != Kind::DoubleArray || index < 0 || index >= object->length)
        return 0.0;
    jdouble value;
    std::memcpy(&value, object->elements.data() + static_cast<std::size_t>(index) * sizeof(jdouble), sizeof(value));
    return value;
}

void CJvmHost::DeleteArray(jarray array)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    for (auto it = m_state->arrays.begin(); it != m_state->arrays.end(); ++it) {
        if (it->get() == reinterpret_cast<CObject*>(array)) {
            m_state->arrays.erase(it);
            return;
        }
    }
}

int CJvmHost::GlobalRefs() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->globalRefCount;
}

}  // namespace JvmHost
