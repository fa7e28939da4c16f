// Internals of the JVM host: its objects, environments and the JNI function tables.
#pragma once

#include "jvm_host/jvm_host.h"

#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace JvmHost {

enum class Kind { Class, Quillmar, ByteArray, BooleanArray, DoubleArray };

// A Java object; its address is its handle, for local and global references alike.
struct CObject {
    Kind kind = Kind::Quillmar;
    std::vector<unsigned char> elements;    // array contents, element size by kind
    jsize length = 0;
};

// A method of the Quillmar class; its address is the jmethodID.
struct CMethod {
    const char* name;
    const char* signature;
};

struct CHostVm : JavaVM_ {
    CJvmHost::CState* state = nullptr;
};

struct CHostEnv : JNIEnv_ {
    CJvmHost::CState* state = nullptr;
    DWORD threadId = 0;
};

struct CJvmHost::CState {
    explicit CState(IQuillmarCallbacks& receiver) : callbacks(receiver) {}

    IQuillmarCallbacks& callbacks;
    mutable std::mutex lock;
    CHostVm vm;
    CObject quillmarClass{Kind::Class, {}, 0};
    CObject quillmar{Kind::Quillmar, {}, 0};
    CMethod stopped{"Stopped", "(I)V"};
    CMethod inputLevel{"InputLevel", "(D)V"};
    std::set<std::unique_ptr<CObject>> arrays;
    std::map<DWORD, std::unique_ptr<CHostEnv>> envs;   // attached threads
    std::map<CObject*, int> globalRefs;
    int globalRefCount = 0;

    // The object behind a handle; null for an unknown handle.
    CObject* Object(jobject handle);
    // The environment of the calling thread; null when it is not attached. Expects the lock held.
    CHostEnv* CurrentEnv();
    CHostEnv* Attach();
};

const JNINativeInterface_* NativeTable();
const JNIInvokeInterface_* InvokeTable();
std::size_t ElementSize(Kind kind);

}  // namespace JvmHost
