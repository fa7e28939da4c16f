#include "jvm_host/jvm_host.h"

#include "jvm/java_vm.h"

#include <cstring>

namespace JvmHost {

struct CJvmHost::CState {
    TestJvm::CJavaVm vm;
    jobject quillmar = nullptr;
};

CJvmHost::CJvmHost(IQuillmarCallbacks& callbacks) : m_state(std::make_unique<CState>())
{
    // The tool runs for as long as the user records or plays: nothing is recorded, and no failure is
    // injected.
    m_state->vm.KeepRecords(false);
    m_state->quillmar = m_state->vm.NewBinding();
    m_state->vm.OnCall([&callbacks](const TestJvm::JavaCall& call) {
        if (call.method == "Stopped")
            callbacks.Stopped(call.intArg);
        else if (call.method == "InputLevel")
            callbacks.InputLevel(call.doubleArg);
        else if (call.method == "StreamFormat")
            callbacks.StreamFormat(std::string(call.bytesArg.begin(), call.bytesArg.end()));
        else if (call.method == "StreamData")
            callbacks.StreamData(std::string(call.bytesArg.begin(), call.bytesArg.end()), call.nullArg);
    });
}

CJvmHost::~CJvmHost() = default;

JavaVM* CJvmHost::Vm()
{
    return m_state->vm.Vm();
}

JNIEnv* CJvmHost::Env()
{
    return m_state->vm.Env();
}

jobject CJvmHost::Quillmar()
{
    return m_state->quillmar;
}

jbyteArray CJvmHost::NewByteArray(const std::string& bytes)
{
    return m_state->vm.NewByteArray(bytes);
}

jbooleanArray CJvmHost::NewBooleanArray(jsize length)
{
    return m_state->vm.NewBooleanArray(length);
}

jdoubleArray CJvmHost::NewDoubleArray(jsize length)
{
    return m_state->vm.NewDoubleArray(length);
}

jintArray CJvmHost::NewIntArray(jsize length)
{
    return m_state->vm.NewIntArray(length);
}

jintArray CJvmHost::NewIntArray(const std::vector<jint>& values)
{
    jintArray array = m_state->vm.NewIntArray(static_cast<jsize>(values.size()));
    // Filled as Java code would fill it: through the elements, copied back on release.
    JNIEnv* env = Env();
    jint* elements = env->GetIntArrayElements(array, nullptr);
    for (std::size_t i = 0; i < values.size(); ++i)
        elements[i] = values[i];
    env->ReleaseIntArrayElements(array, elements, 0);
    return array;
}

jint CJvmHost::IntAt(jintArray array, jsize index) const
{
    const std::vector<jint> contents = m_state->vm.IntContents(array);
    return index >= 0 && static_cast<std::size_t>(index) < contents.size() ? contents[static_cast<std::size_t>(index)] : 0;
}

std::string CJvmHost::BytesOf(jbyteArray array) const
{
    const std::vector<jbyte> contents = m_state->vm.ByteContents(array);
    return std::string(contents.begin(), contents.end());
}

jboolean CJvmHost::BooleanAt(jbooleanArray array, jsize index) const
{
    const std::vector<jboolean> contents = m_state->vm.BooleanContents(array);
    return index >= 0 && static_cast<std::size_t>(index) < contents.size() ? contents[static_cast<std::size_t>(index)]
                                                                           : JNI_FALSE;
}

jdouble CJvmHost::DoubleAt(jdoubleArray array, jsize index) const
{
    const std::vector<jdouble> contents = m_state->vm.DoubleContents(array);
    return index >= 0 && static_cast<std::size_t>(index) < contents.size() ? contents[static_cast<std::size_t>(index)]
                                                                           : 0.0;
}

void CJvmHost::DeleteArray(jarray array)
{
    // The VM frees an array with its last reference, so that a long session's queries hold no memory.
    JNIEnv* env = Env();
    if (env != nullptr)
        env->DeleteLocalRef(array);
}

int CJvmHost::GlobalRefs() const
{
    return m_state->vm.OutstandingGlobalRefs();
}

}  // namespace JvmHost
