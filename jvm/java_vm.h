// An in-process Java virtual machine for native programs that load Tessaro.dll as Java does: the test
// programs and quillmar.exe. It runs no Java code; the methods the library calls back are hooks.
//
// CJavaVm hands out a JavaVM and per-thread JNIEnv whose function tables behave like a real
// virtual machine for the functions the library uses, and records what the library did with them
// so that tests can check it. Every other slot of both tables prints its index and name to stderr
// and aborts the process: a JNI call the library is not supposed to make never passes silently.
// Misuse that a real virtual machine would punish later (an unknown or deleted handle, an
// environment used on the wrong thread or after its detach) also aborts with a message; softer
// misuse (deleting a reference twice, a JNI call with an exception pending) is recorded in Errors().
//
// Handles (jobject, jclass, arrays, jthrowable) are references: every local and global reference is
// a distinct handle onto an internal object, and a deleted reference is never reused. Local
// references of a native thread die when it detaches; those of the constructing thread live as
// long as the CJavaVm.
//
// Thread-safe: the library calls in from several native threads at once.
// The JavaVM pointer stays callable after the CJavaVm is destroyed only to fail loudly, so a
// library that outlives its test VM reports that instead of crashing somewhere else.
#pragma once

#include <windows.h>

#include <jni.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TestJvm {

// The Java class of the objects that NewQuillmar creates, with its two callback methods.
inline constexpr const char* kQuillmarClass = "com/tarvik/kelvane/Quillmar";
// The package's binding class: Quillmar's two callbacks and "StreamFormat"/"StreamData" "([B)V".
inline constexpr const char* kBindingClass = "com/tarvik/kelvane/audio/QuillmarBinding";
inline constexpr const char* kNoSuchMethodError = "java/lang/NoSuchMethodError";
inline constexpr const char* kThrownByCall = "java/lang/RuntimeException";

// One GetMethodID call.
struct MethodLookup {
    std::string className;
    std::string name;
    std::string signature;
    bool found = false;
};

// One call of a Java void method through CallVoidMethod/CallVoidMethodV/CallVoidMethodA.
struct JavaCall {
    std::string className;
    std::string method;
    std::string signature;      // "(I)V" fills intArg, "(D)V" fills doubleArg, "()V" neither
    jint intArg = 0;
    jdouble doubleArg = 0.0;
    std::vector<jbyte> bytesArg;       // "([B)V": the array's contents
    bool nullArg = false;              // "([B)V": the array was null
    DWORD threadId = 0;
    bool attachedDuringCall = false;   // the calling thread was attached when the call arrived
    bool receiverIsGlobalRef = false;  // the object was passed as a global reference
};

// One Release<Kind>ArrayElements call.
struct ArrayRelease {
    std::string kind;           // "byte", "boolean" or "double"
    jint mode = 0;              // 0, JNI_COMMIT or JNI_ABORT
};

class CJavaVm {
public:
    // Attaches the constructing thread, as Java's own calling thread would be.
    CJavaVm();
    ~CJavaVm();
    CJavaVm(const CJavaVm&) = delete;
    CJavaVm& operator=(const CJavaVm&) = delete;

    JavaVM* Vm();
    // The calling thread's environment; null if the thread is not attached.
    JNIEnv* Env();

    // New objects, as local references of the constructing thread (they stay valid for the VM's life).
    // An object of class kQuillmarClass, whose class has "Stopped" "(I)V" and "InputLevel" "(D)V".
    jobject NewQuillmar();
    // An object of kBindingClass.
    jobject NewBinding();
    // An object of a class with the given name that has no methods at all.
    jobject NewObjectOfClass(const std::string& className);
    jbyteArray NewByteArray(const void* bytes, jsize length);
    jbyteArray NewByteArray(const std::string& bytes);   // the string's bytes, no terminator
    jbooleanArray NewBooleanArray(jsize length);
    jdoubleArray NewDoubleArray(jsize length);
    jintArray NewIntArray(jsize length);

    // Contents of arrays as Java sees them (what was copied back).
    std::vector<jbyte> ByteContents(jbyteArray array) const;
    std::vector<jboolean> BooleanContents(jbooleanArray array) const;
    std::vector<jdouble> DoubleContents(jdoubleArray array) const;
    std::vector<jint> IntContents(jintArray array) const;
    void SetBooleanContents(jbooleanArray array, const std::vector<jboolean>& values);
    void SetDoubleContents(jdoubleArray array, const std::vector<jdouble>& values);

    // Records.
    std::vector<MethodLookup> Lookups() const;
    int OutstandingGlobalRefs() const;
    int GlobalRefsCreated() const;
    std::vector<JavaCall> Calls() const;
    int Attaches(DWORD threadId) const;
    int Detaches(DWORD threadId) const;
    int TotalAttaches() const;          // AttachCurrentThread calls that succeeded, all threads
    int TotalDetaches() const;
    bool IsAttached(DWORD threadId) const;
    std::vector<ArrayRelease> Releases() const;
    int ElementsOutstanding() const;    // Get<Kind>ArrayElements buffers not yet freed
    // What the VM holds right now: objects (classes, instances, throwables, arrays with a live
    // reference), references (live and the newest dead ones) and environments (attached and the newest
    // detached ones). Bounded in a long session however many arrays and attachments come and go.
    struct Footprint {
        std::size_t objects = 0;
        std::size_t refs = 0;
        std::size_t envs = 0;
    };
    Footprint Held() const;
    std::vector<std::string> Errors() const;   // recorded misuse; empty when all went right
    // Pending exception of the calling thread: its class name, or "" when none is pending.
    std::string PendingException() const;
    // Drops the calling thread's pending exception, as Java code catching it would.
    void ClearPendingException();
    void ClearRecords();                // lookups, calls, attach/detach counts, releases, errors
    // Whether lookups, calls and array releases are recorded (the default). A long-running host
    // turns it off so that the records do not grow with every level callback.
    void KeepRecords(bool keep);

    // Failure injection (for tests; off unless asked for): while set, the function returns null (or
    // JNI_ERR for attaching). A failed GetMethodID (injected or for a method the class lacks) leaves
    // kNoSuchMethodError pending on the calling thread, as a real VM does.
    void FailGetObjectClass(bool fail);
    void FailGetMethodID(bool fail);
    void FailNewGlobalRef(bool fail);
    void FailAttach(bool fail);
    void FailArrayElements(bool fail);

    // What the Java method does when it is called: the hook runs on the calling thread, inside the
    // call, without any lock of the VM held; it may use the VM (for example to block or to check
    // state). With ThrowFromCalls, the call returns with a kThrownByCall exception pending.
    void OnCall(std::function<void(const JavaCall&)> hook);
    // Runs inside GetMethodID on the calling thread, without any lock of the VM held (for example to
    // block a native method while it holds a lock of its own).
    void OnLookup(std::function<void(const MethodLookup&)> hook);
    void ThrowFromCalls(bool doThrow);

    struct CState;

private:
    std::shared_ptr<CState> m_state;
};

}  // namespace TestJvm
