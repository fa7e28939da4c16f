// Internals of the test JVM: its objects, references, environments and records, under one lock.
#pragma once

#include "jvm/java_vm.h"

#include <atomic>
#include <cstdarg>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace TestJvm {

// Prints the message to stderr and ends the process: a misuse that must not pass silently.
[[noreturn]] void FailLoudly(const char* format, ...);

struct CObject;

// A method of a test class; its address is the jmethodID.
struct CMethod {
    CObject* owner = nullptr;
    std::string name;
    std::string signature;
};

enum class ObjectKind { Class, Instance, Throwable, ByteArray, BooleanArray, DoubleArray, IntArray };

// A Java object. Classes hold their methods; arrays hold their elements.
struct CObject {
    ObjectKind kind = ObjectKind::Instance;
    int liveRefCount = 0;               // live references onto it; an array with none is freed
    CObject* cls = nullptr;             // the object's class (a class's class is java/lang/Class)
    std::string className;              // for a class: its own name
    std::vector<std::unique_ptr<CMethod>> methods;
    std::vector<jbyte> bytes;
    std::vector<jboolean> booleans;
    std::vector<jdouble> doubles;
    std::vector<jint> ints;
};

struct CEnv;

// A local or global reference; its address is the handle. The newest dead references are kept (see
// CState::kDeadRefsKept) so that a deleted handle used again fails loudly and its address is not handed
// out again meanwhile.
struct CRef {
    CObject* target = nullptr;
    bool global = false;
    bool live = true;
    CEnv* owner = nullptr;              // local references: the attachment they belong to; null: any thread
};

// One attachment of one thread; a thread gets a new environment each time it is attached. The newest
// detached ones are kept (see CState::kDetachedEnvsKept) so that a late use fails loudly.
struct CEnv : JNIEnv_ {
    std::atomic<CJavaVm::CState*> state{nullptr};
    DWORD threadId = 0;
    bool attached = true;
    bool javaThread = false;            // the constructing thread: native code must not detach it
    CObject* pendingException = nullptr;
};

// The JavaVM handed to the library; left allocated after the CJavaVm is gone, to fail loudly.
struct CVmShell : JavaVM_ {
    std::atomic<CJavaVm::CState*> state{nullptr};
};

// A buffer handed out by Get<Kind>ArrayElements.
struct CElementBuffer {
    CObject* array = nullptr;
    ObjectKind kind = ObjectKind::ByteArray;
    std::unique_ptr<unsigned char[]> data;
};

const JNINativeInterface_* NativeTable();
const JNIInvokeInterface_* InvokeTable();
const char* ArrayKindName(ObjectKind kind);

struct CJavaVm::CState {
    CState();
    ~CState();

    mutable std::mutex lock;
    CVmShell* shell = nullptr;

    // What a long session may leave behind is bounded: an array is freed with its last live reference,
    // and only this many dead references and detached environments are kept.
    static constexpr std::size_t kDeadRefsKept = 4096;
    static constexpr std::size_t kDetachedEnvsKept = 256;

    // Objects and references (guarded by lock). Classes, instances and throwables live as long as the VM.
    std::map<const CObject*, std::unique_ptr<CObject>> objects;
    std::map<const CRef*, std::unique_ptr<CRef>> refs;
    std::deque<CRef*> deadRefs;         // oldest first
    std::set<const CRef*> liveRefs;
    std::map<jobject, CRef*> refIndex;
    std::set<const CMethod*> methods;
    std::map<std::string, CObject*> classes;
    std::map<void*, CElementBuffer> elementBuffers;

    // Environments: the attached ones and the newest detached ones, and the current one of each
    // attached thread.
    std::map<const CEnv*, std::unique_ptr<CEnv>> envs;
    std::deque<CEnv*> detachedEnvs;     // oldest first
    std::map<DWORD, CEnv*> attachedEnvs;

    // Records.
    std::vector<MethodLookup> lookups;
    std::vector<JavaCall> calls;
    std::map<DWORD, int> attaches;
    std::map<DWORD, int> detaches;
    std::vector<ArrayRelease> releases;
    std::vector<std::string> errors;
    int globalRefsCreated = 0;
    bool keepRecords = true;            // lookups, calls and releases

    // Injected behaviour.
    bool failGetObjectClass = false;
    bool failGetMethodID = false;
    bool failNewGlobalRef = false;
    bool failAttach = false;
    bool failArrayElements = false;
    bool throwFromCalls = false;
    std::function<void(const JavaCall&)> onCall;
    std::function<void(const MethodLookup&)> onLookup;

    // The helpers below expect the lock to be held.
    CObject* ClassNamed(const std::string& name);
    CObject* NewObject(ObjectKind kind, CObject* cls);
    CRef* NewRef(CObject* target, bool global, CEnv* owner);
    // Ends a live reference: its array is freed when it was the last one, and the reference is kept
    // dead among the newest kDeadRefsKept.
    void KillRef(CRef* ref);
    // The live reference behind a handle used by function `where` on environment env; an unknown,
    // deleted or foreign-thread handle fails loudly. Null gives null only if allowNull.
    CRef* Resolve(jobject handle, CEnv* env, const char* where, bool allowNull = false);
    const CMethod* ResolveMethod(jmethodID id, const char* where);
    CEnv* Attach(DWORD threadId, bool javaThread);
    void Detach(CEnv* env);
    void ThrowNew(CEnv* env, const char* className);
    void RecordError(std::string message);
    // Records an error if env has an exception pending: `where` is not to be called then.
    void CheckNoPendingException(CEnv* env, const char* where);
    int OutstandingGlobalRefs() const;
};

// The state behind an environment handed to native code, with the lock taken; fails loudly for an
// environment of a destroyed VM, one that was detached, or one used on another thread.
class CEnvAccess {
public:
    CEnvAccess(JNIEnv* env, const char* where);
    CJavaVm::CState& State() { return *m_state; }
    CEnv* Env() { return m_env; }
    void Unlock() { m_guard.unlock(); }
    void Lock() { m_guard.lock(); }

private:
    CEnv* m_env;
    CJavaVm::CState* m_state;
    std::unique_lock<std::mutex> m_guard;
};

}  // namespace TestJvm
