// The test JVM, driven through its JNI function tables exactly as native code drives a real one.
#include "jvm/java_vm.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <thread>

namespace {

using TestJvm::CJavaVm;

// Runs body on a new native thread and waits for it.
template <typename Body>
void OnOtherThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

JNIEnv* AttachCurrent(JavaVM* vm)
{
    void* env = nullptr;
    EXPECT_EQ(vm->functions->AttachCurrentThread(vm, &env, nullptr), JNI_OK);
    return static_cast<JNIEnv*>(env);
}

// A call with a variable argument list, as the library passes one on.
void CallVoidV(JNIEnv* env, jobject object, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    env->functions->CallVoidMethodV(env, object, method, args);
    va_end(args);
}

// What binding a method does: class, method id, global reference.
struct Bound {
    jmethodID method = nullptr;
    jobject object = nullptr;
};

Bound Bind(JNIEnv* env, jobject object, const char* name, const char* signature)
{
    Bound bound;
    jclass cls = env->functions->GetObjectClass(env, object);
    EXPECT_NE(cls, nullptr);
    bound.method = env->functions->GetMethodID(env, cls, name, signature);
    bound.object = env->functions->NewGlobalRef(env, object);
    return bound;
}

// ---- Environments and attachment ------------------------------------------------------------------------
TEST(JavaVmAttach, ConstructingThreadHasAnEnvironmentOtherThreadsAreDetached)
{
    CJavaVm vm;
    JavaVM* jvm = vm.Vm();
    void* env = nullptr;
    EXPECT_EQ(jvm->functions->GetEnv(jvm, &env, JNI_VERSION_1_4), JNI_OK);
    EXPECT_EQ(env, vm.Env());
    EXPECT_NE(env, nullptr);

    env = &env;
    EXPECT_EQ(jvm->functions->GetEnv(jvm, &env, 0x00010003), JNI_EVERSION);
    EXPECT_EQ(env, nullptr);

    OnOtherThread([&] {
        void* otherEnv = &otherEnv;
        EXPECT_EQ(jvm->functions->GetEnv(jvm, &otherEnv, JNI_VERSION_1_4), JNI_EDETACHED);
        EXPECT_EQ(otherEnv, nullptr);
        EXPECT_EQ(vm.Env(), nullptr);
    });
    EXPECT_EQ(vm.TotalAttaches(), 0);
}

TEST(JavaVmAttach, AttachAndDetachAreCountedPerThread)
{
    CJavaVm vm;
    JavaVM* jvm = vm.Vm();
    DWORD threadId = 0;
    OnOtherThread([&] {
        threadId = GetCurrentThreadId();
        for (int round = 0; round < 2; ++round) {
            JNIEnv* env = AttachCurrent(jvm);
            ASSERT_NE(env, nullptr);
            EXPECT_TRUE(vm.IsAttached(threadId));
            void* current = nullptr;
            EXPECT_EQ(jvm->functions->GetEnv(jvm, &current, JNI_VERSION_1_4), JNI_OK);
            EXPECT_EQ(current, env);
            // Attaching an attached thread gives its environment and is no new attachment.
            EXPECT_EQ(AttachCurrent(jvm), env);
            EXPECT_EQ(jvm->functions->DetachCurrentThread(jvm), JNI_OK);
            EXPECT_EQ(jvm->functions->GetEnv(jvm, &current, JNI_VERSION_1_4), JNI_EDETACHED);
        }
        EXPECT_EQ(jvm->functions->DetachCurrentThread(jvm), JNI_ERR);
    });
    EXPECT_EQ(vm.Attaches(threadId), 2);
    EXPECT_EQ(vm.Detaches(threadId), 2);
    EXPECT_FALSE(vm.IsAttached(threadId));
    EXPECT_EQ(vm.Attaches(GetCurrentThreadId()), 0);
    ASSERT_EQ(vm.Errors().size(), 1u);
    EXPECT_NE(vm.Errors()[0].find("not attached"), std::string::npos);
}

TEST(JavaVmAttach, TheJavaThreadCannotBeDetached)
{
    CJavaVm vm;
    JavaVM* jvm = vm.Vm();
    EXPECT_EQ(jvm->functions->DetachCurrentThread(jvm), JNI_ERR);
    EXPECT_NE(vm.Env(), nullptr);
    EXPECT_EQ(vm.Errors().size(), 1u);
}

TEST(JavaVmAttach, InjectedAttachFailure)
{
    CJavaVm vm;
    JavaVM* jvm = vm.Vm();
    vm.FailAttach(true);
    OnOtherThread([&] {
        void* env = &env;
        EXPECT_EQ(jvm->functions->AttachCurrentThread(jvm, &env, nullptr), JNI_ERR);
        EXPECT_EQ(env, nullptr);
        EXPECT_FALSE(vm.IsAttached(GetCurrentThreadId()));
    });
    EXPECT_EQ(vm.TotalAttaches(), 0);
}

// ---- Binding and calling methods -------------------------------------------------------------------------------
TEST(JavaVmCalls, BoundMethodsAreCalledFromNativeThreadsWithTheirArguments)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    jobject quillmar = vm.NewQuillmar();
    Bound stopped = Bind(env, quillmar, "Stopped", "(I)V");
    Bound level = Bind(env, quillmar, "InputLevel", "(D)V");
    ASSERT_NE(stopped.method, nullptr);
    ASSERT_NE(level.method, nullptr);
    EXPECT_EQ(vm.OutstandingGlobalRefs(), 2);

    const auto lookups = vm.Lookups();
    ASSERT_EQ(lookups.size(), 2u);
    EXPECT_EQ(lookups[0].className, TestJvm::kQuillmarClass);
    EXPECT_EQ(lookups[0].name, "Stopped");
    EXPECT_EQ(lookups[0].signature, "(I)V");
    EXPECT_TRUE(lookups[0].found);

    DWORD hookThread = 0;
    vm.OnCall([&](const TestJvm::JavaCall&) { hookThread = GetCurrentThreadId(); });
    DWORD threadId = 0;
    OnOtherThread([&] {
        threadId = GetCurrentThreadId();
        JNIEnv* threadEnv = AttachCurrent(vm.Vm());
        CallVoidV(threadEnv, stopped.object, stopped.method, jint(1));
        CallVoidV(threadEnv, level.object, level.method, jdouble(0.25));
        EXPECT_EQ(vm.Vm()->functions->DetachCurrentThread(vm.Vm()), JNI_OK);
    });
    jvalue args[1];
    args[0].d = 0.5;
    env->functions->CallVoidMethodA(env, quillmar, level.method, args);

    const auto calls = vm.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].method, "Stopped");
    EXPECT_EQ(calls[0].intArg, 1);
    EXPECT_EQ(calls[0].threadId, threadId);
    EXPECT_TRUE(calls[0].attachedDuringCall);
    EXPECT_TRUE(calls[0].receiverIsGlobalRef);
    EXPECT_EQ(calls[1].method, "InputLevel");
    EXPECT_EQ(calls[1].doubleArg, 0.25);
    EXPECT_EQ(calls[2].doubleArg, 0.5);
    EXPECT_FALSE(calls[2].receiverIsGlobalRef);
    EXPECT_EQ(hookThread, GetCurrentThreadId());

    env->functions->DeleteGlobalRef(env, stopped.object);
    env->functions->DeleteGlobalRef(env, level.object);
    EXPECT_EQ(vm.OutstandingGlobalRefs(), 0);
    EXPECT_EQ(vm.GlobalRefsCreated(), 2);
    EXPECT_TRUE(vm.Errors().empty());

    // A second delete is recorded, not ignored.
    env->functions->DeleteGlobalRef(env, stopped.object);
    ASSERT_EQ(vm.Errors().size(), 1u);
    EXPECT_NE(vm.Errors()[0].find("already deleted"), std::string::npos);
}

TEST(JavaVmCalls, MissingMethodLeavesNoSuchMethodErrorPending)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    jobject other = vm.NewObjectOfClass("com/example/Other");
    jclass cls = env->functions->GetObjectClass(env, other);
    EXPECT_EQ(env->functions->GetMethodID(env, cls, "Stopped", "(I)V"), nullptr);
    EXPECT_EQ(vm.PendingException(), TestJvm::kNoSuchMethodError);
    EXPECT_TRUE(env->functions->ExceptionCheck(env));
    EXPECT_NE(env->functions->ExceptionOccurred(env), nullptr);
    ASSERT_EQ(vm.Lookups().size(), 1u);
    EXPECT_FALSE(vm.Lookups()[0].found);
    EXPECT_EQ(vm.Lookups()[0].className, "com/example/Other");

    // Going on with an exception pending is misuse that is recorded.
    EXPECT_EQ(vm.Errors().size(), 0u);
    env->functions->NewGlobalRef(env, other);
    EXPECT_EQ(vm.Errors().size(), 1u);
    env->functions->ExceptionClear(env);
    EXPECT_FALSE(env->functions->ExceptionCheck(env));
    EXPECT_EQ(vm.PendingException(), "");
}

TEST(JavaVmCalls, InjectedFailuresOfBinding)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    jobject quillmar = vm.NewQuillmar();

    vm.FailGetObjectClass(true);
    EXPECT_EQ(env->functions->GetObjectClass(env, quillmar), nullptr);
    vm.FailGetObjectClass(false);

    jclass cls = env->functions->GetObjectClass(env, quillmar);
    vm.FailGetMethodID(true);
    EXPECT_EQ(env->functions->GetMethodID(env, cls, "Stopped", "(I)V"), nullptr);
    EXPECT_FALSE(vm.Lookups().at(0).found);
    EXPECT_EQ(vm.PendingException(), TestJvm::kNoSuchMethodError);
    vm.ClearPendingException();
    EXPECT_FALSE(env->functions->ExceptionCheck(env));
    vm.FailGetMethodID(false);
    EXPECT_NE(env->functions->GetMethodID(env, cls, "Stopped", "(I)V"), nullptr);

    vm.FailNewGlobalRef(true);
    EXPECT_EQ(env->functions->NewGlobalRef(env, quillmar), nullptr);
    EXPECT_EQ(vm.OutstandingGlobalRefs(), 0);
    EXPECT_TRUE(vm.Errors().empty());
}

TEST(JavaVmCalls, ThrowingMethodLeavesExceptionPendingUntilDetach)
{
    CJavaVm vm;
    Bound level = Bind(vm.Env(), vm.NewQuillmar(), "InputLevel", "(D)V");
    vm.ThrowFromCalls(true);
    OnOtherThread([&] {
        JNIEnv* env = AttachCurrent(vm.Vm());
        CallVoidV(env, level.object, level.method, 0.75);
        EXPECT_EQ(vm.PendingException(), TestJvm::kThrownByCall);
        EXPECT_EQ(vm.Vm()->functions->DetachCurrentThread(vm.Vm()), JNI_OK);
        AttachCurrent(vm.Vm());
        EXPECT_EQ(vm.PendingException(), "");
        vm.Vm()->functions->DetachCurrentThread(vm.Vm());
    });
    EXPECT_EQ(vm.PendingException(), "");
    EXPECT_EQ(vm.Calls().size(), 1u);
}

TEST(JavaVmCalls, ConcurrentCallersAreAllRecorded)
{
    CJavaVm vm;
    Bound level = Bind(vm.Env(), vm.NewQuillmar(), "InputLevel", "(D)V");
    constexpr int kThreads = 4;
    constexpr int kCallsPerThread = 50;
    std::vector<std::thread> threads;
    std::vector<DWORD> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = GetCurrentThreadId();
            for (int i = 0; i < kCallsPerThread; ++i) {
                JNIEnv* env = AttachCurrent(vm.Vm());
                CallVoidV(env, level.object, level.method, jdouble(t));
                vm.Vm()->functions->DetachCurrentThread(vm.Vm());
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto calls = vm.Calls();
    EXPECT_EQ(calls.size(), static_cast<std::size_t>(kThreads * kCallsPerThread));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(vm.Attaches(ids[t]), kCallsPerThread);
        EXPECT_EQ(vm.Detaches(ids[t]), kCallsPerThread);
    }
    for (const auto& call : calls) {
        int thread = static_cast<int>(call.doubleArg);
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(call.threadId, ids[thread]);
    }
    EXPECT_TRUE(vm.Errors().empty());
}

// ---- Arrays -----------------------------------------------------------------------------------------------------
TEST(JavaVmArrays, ElementsAreCopiesThatReleaseModesWriteBack)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    const JNINativeInterface_* jni = env->functions;

    jbyteArray path = vm.NewByteArray(std::string("C:\\a.mp3"));
    EXPECT_EQ(jni->GetArrayLength(env, path), 8);
    jboolean isCopy = JNI_FALSE;
    jbyte* bytes = jni->GetByteArrayElements(env, path, &isCopy);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(isCopy, JNI_TRUE);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 8), "C:\\a.mp3");
    bytes[0] = 'D';
    jni->ReleaseByteArrayElements(env, path, bytes, JNI_ABORT);
    EXPECT_EQ(vm.ByteContents(path).at(0), 'C');

    jbooleanArray paused = vm.NewBooleanArray(1);
    jboolean* flags = jni->GetBooleanArrayElements(env, paused, nullptr);
    ASSERT_NE(flags, nullptr);
    flags[0] = JNI_TRUE;
    jni->ReleaseBooleanArrayElements(env, paused, flags, JNI_COMMIT);
    EXPECT_EQ(vm.BooleanContents(paused), std::vector<jboolean>{JNI_TRUE});
    EXPECT_EQ(vm.ElementsOutstanding(), 1);
    flags[0] = JNI_FALSE;
    jni->ReleaseBooleanArrayElements(env, paused, flags, 0);
    EXPECT_EQ(vm.BooleanContents(paused), std::vector<jboolean>{JNI_FALSE});

    jdoubleArray seconds = vm.NewDoubleArray(2);
    jdouble* values = jni->GetDoubleArrayElements(env, seconds, nullptr);
    values[0] = 12.5;
    jni->ReleaseDoubleArrayElements(env, seconds, values, 0);
    EXPECT_EQ(vm.DoubleContents(seconds), (std::vector<jdouble>{12.5, 0.0}));

    // Empty arrays still give a buffer.
    jdoubleArray empty = vm.NewDoubleArray(0);
    EXPECT_EQ(jni->GetArrayLength(env, empty), 0);
    jdouble* none = jni->GetDoubleArrayElements(env, empty, nullptr);
    EXPECT_NE(none, nullptr);
    jni->ReleaseDoubleArrayElements(env, empty, none, 0);

    EXPECT_EQ(vm.ElementsOutstanding(), 0);
    const auto releases = vm.Releases();
    ASSERT_EQ(releases.size(), 5u);
    EXPECT_EQ(releases[0].kind, "byte");
    EXPECT_EQ(releases[0].mode, JNI_ABORT);
    EXPECT_EQ(releases[1].kind, "boolean");
    EXPECT_EQ(releases[1].mode, JNI_COMMIT);
    EXPECT_EQ(releases[2].mode, 0);
    EXPECT_EQ(releases[3].kind, "double");
    EXPECT_TRUE(vm.Errors().empty());
}

// A long session, as quillmar's: a callback thread attached and detached for every call, an array for
// every query. What the VM holds stays bounded.
TEST(JavaVmMemory, AttachesAndArraysOfALongSessionHoldBoundedMemory)
{
    CJavaVm vm;
    vm.KeepRecords(false);
    JavaVM* jvm = vm.Vm();
    jobject quillmar = vm.NewQuillmar();
    JNIEnv* env = vm.Env();
    env->functions->DeleteLocalRef(env, vm.NewDoubleArray(1));  // makes the array class
    const CJavaVm::Footprint start = vm.Held();
    const int rounds = 20000;
    OnOtherThread([&] {
        for (int round = 0; round < rounds; ++round) {
            JNIEnv* env = AttachCurrent(jvm);
            ASSERT_NE(env, nullptr);
            ASSERT_NE(env->functions->GetObjectClass(env, quillmar), nullptr);
            ASSERT_EQ(jvm->functions->DetachCurrentThread(jvm), JNI_OK);
        }
    });
    for (int round = 0; round < rounds; ++round) {
        jdoubleArray position = vm.NewDoubleArray(1);
        env->functions->DeleteLocalRef(env, position);
    }
    const CJavaVm::Footprint end = vm.Held();
    EXPECT_EQ(end.objects, start.objects) << "arrays whose references are gone are freed";
    EXPECT_LE(end.refs, start.refs + 4096u) << "only the newest dead references are kept";
    EXPECT_LE(end.envs, start.envs + 256u) << "only the newest detached environments are kept";
    EXPECT_TRUE(vm.Errors().empty());
}

TEST(JavaVmArrays, InjectedElementFailure)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    vm.FailArrayElements(true);
    jboolean isCopy = JNI_FALSE;
    EXPECT_EQ(env->functions->GetByteArrayElements(env, vm.NewByteArray(std::string("x")), &isCopy), nullptr);
    EXPECT_EQ(env->functions->GetDoubleArrayElements(env, vm.NewDoubleArray(1), nullptr), nullptr);
    EXPECT_EQ(vm.ElementsOutstanding(), 0);
}

// ---- Misuse fails loudly ----------------------------------------------------------------------------------------
TEST(JavaVmDeathTest, SlotsTheLibraryMustNotUseAbort)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    EXPECT_DEATH(env->functions->FindClass(env, "java/lang/String"), "FindClass");
    EXPECT_DEATH(env->functions->GetVersion(env), "GetVersion");
    EXPECT_DEATH(vm.Vm()->functions->DestroyJavaVM(vm.Vm()), "DestroyJavaVM");
}

TEST(JavaVmDeathTest, BadHandlesAndEnvironmentsAbort)
{
    CJavaVm vm;
    JNIEnv* env = vm.Env();
    int notAnObject = 0;
    EXPECT_DEATH(env->functions->GetObjectClass(env, reinterpret_cast<jobject>(&notAnObject)), "no reference");
    EXPECT_DEATH(env->functions->GetArrayLength(env, static_cast<jarray>(vm.NewQuillmar())), "no array");

    // An environment kept after its detach, and a local reference of that attachment.
    JNIEnv* stale = nullptr;
    jclass staleClass = nullptr;
    jobject quillmar = vm.NewQuillmar();
    OnOtherThread([&] {
        stale = AttachCurrent(vm.Vm());
        staleClass = stale->functions->GetObjectClass(stale, quillmar);
        vm.Vm()->functions->DetachCurrentThread(vm.Vm());
    });
    EXPECT_DEATH(stale->functions->ExceptionCheck(stale), "detached");
    EXPECT_DEATH(env->functions->GetMethodID(env, staleClass, "Stopped", "(I)V"), "deleted");
}

TEST(JavaVmDeathTest, AVmThatNoLongerExistsAborts)
{
    JavaVM* jvm = nullptr;
    {
        CJavaVm vm;
        jvm = vm.Vm();
    }
    void* env = nullptr;
    EXPECT_DEATH(jvm->functions->GetEnv(jvm, &env, JNI_VERSION_1_4), "no longer exists");
}

}  // namespace
