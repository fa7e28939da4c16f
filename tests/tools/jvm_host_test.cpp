// The JVM host (quillmar's view of the in-process JVM) as Tessaro.dll uses it: the Quillmar class and
// its two callbacks, global references, array elements copied back by mode, and native threads
// attaching and detaching.
#include "jvm_host/jvm_host.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class CRecordingCallbacks : public JvmHost::IQuillmarCallbacks {
public:
    void Stopped(jint reason) override { stopped.push_back(reason); }
    void InputLevel(jdouble level) override { levels.push_back(level); }
    std::vector<jint> stopped;
    std::vector<jdouble> levels;
};

class JvmHostTest : public ::testing::Test {
protected:
    CRecordingCallbacks callbacks;
    JvmHost::CJvmHost host{callbacks};
    JNIEnv* env = host.Env();
};

TEST_F(JvmHostTest, CallbacksReachTheReceiverWithTheirArguments)
{
    ASSERT_NE(env, nullptr);
    jclass cls = env->GetObjectClass(host.Quillmar());
    ASSERT_NE(cls, nullptr);
    jmethodID stopped = env->GetMethodID(cls, "Stopped", "(I)V");
    jmethodID level = env->GetMethodID(cls, "InputLevel", "(D)V");
    ASSERT_NE(stopped, nullptr);
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(env->GetMethodID(cls, "Stopped", "(D)V"), nullptr);
    EXPECT_EQ(env->GetMethodID(cls, "Started", "(I)V"), nullptr);
    EXPECT_TRUE(env->ExceptionCheck());   // NoSuchMethodError, as a real VM leaves it
    env->ExceptionClear();

    jobject global = env->NewGlobalRef(host.Quillmar());
    EXPECT_EQ(host.GlobalRefs(), 1);
    env->CallVoidMethod(global, stopped, static_cast<jint>(1));
    env->CallVoidMethod(global, level, 0.625);
    env->CallVoidMethod(global, stopped, static_cast<jint>(0));
    EXPECT_FALSE(env->ExceptionCheck());
    env->DeleteGlobalRef(global);
    EXPECT_EQ(host.GlobalRefs(), 0);

    EXPECT_EQ(callbacks.stopped, (std::vector<jint>{1, 0}));
    EXPECT_EQ(callbacks.levels, (std::vector<jdouble>{0.625}));
}

TEST_F(JvmHostTest, ArrayElementsAreCopiedBackByMode)
{
    jbyteArray bytes = host.NewByteArray("Tön");
    EXPECT_EQ(env->GetArrayLength(bytes), 4);
    jbyte* elements = env->GetByteArrayElements(bytes, nullptr);
    ASSERT_NE(elements, nullptr);
    EXPECT_EQ(elements[0], 'T');
    env->ReleaseByteArrayElements(bytes, elements, 0);

    jdoubleArray seconds = host.NewDoubleArray(1);
    jdouble* value = env->GetDoubleArrayElements(seconds, nullptr);
    *value = 2.5;
    env->ReleaseDoubleArrayElements(seconds, value, JNI_ABORT);
    EXPECT_EQ(host.DoubleAt(seconds, 0), 0.0);
    value = env->GetDoubleArrayElements(seconds, nullptr);
    *value = 2.5;
    env->ReleaseDoubleArrayElements(seconds, value, 0);
    EXPECT_EQ(host.DoubleAt(seconds, 0), 2.5);

    jbooleanArray paused = host.NewBooleanArray(1);
    jboolean* flag = env->GetBooleanArrayElements(paused, nullptr);
    *flag = JNI_TRUE;
    env->ReleaseBooleanArrayElements(paused, flag, JNI_COMMIT);   // copied back, buffer still ours
    EXPECT_EQ(host.BooleanAt(paused, 0), JNI_TRUE);
    env->ReleaseBooleanArrayElements(paused, flag, JNI_ABORT);

    jdoubleArray empty = host.NewDoubleArray(0);
    EXPECT_EQ(env->GetArrayLength(empty), 0);
    host.DeleteArray(bytes);
}

TEST_F(JvmHostTest, NativeThreadsAttachAndDetach)
{
    JavaVM* vm = host.Vm();
    void* own = nullptr;
    ASSERT_EQ(vm->GetEnv(&own, JNI_VERSION_1_4), JNI_OK);
    EXPECT_EQ(own, env);

    std::thread native([&] {
        void* found = nullptr;
        EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_4), JNI_EDETACHED);
        EXPECT_EQ(found, nullptr);
        void* attached = nullptr;
        ASSERT_EQ(vm->AttachCurrentThread(&attached, nullptr), JNI_OK);
        ASSERT_NE(attached, nullptr);
        EXPECT_NE(attached, own);
        EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_4), JNI_OK);
        EXPECT_EQ(found, attached);
        EXPECT_EQ(host.Env(), attached);
        EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
        EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_4), JNI_EDETACHED);
    });
    native.join();
    EXPECT_EQ(host.Env(), env);
}

}  // namespace
