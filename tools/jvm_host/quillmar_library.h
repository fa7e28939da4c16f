// Tessaro.dll loaded as a Java virtual machine loads a native library (LoadLibrary, JNI_OnLoad) and
// driven through its exported natives exactly as com.tarvik.kelvane.Quillmar calls them, with the
// in-process JVM host as the virtual machine. Each method below is one native call of the Java class.
#pragma once

#include <windows.h>

#include "jvm_host/jvm_host.h"

#include <string>
#include <vector>

class CQuillmarLibrary {
public:
    // Nothing is loaded yet: Load's result tells whether the natives can be called.
    explicit CQuillmarLibrary(JvmHost::IQuillmarCallbacks& callbacks);
    ~CQuillmarLibrary();
    CQuillmarLibrary(const CQuillmarLibrary&) = delete;
    CQuillmarLibrary& operator=(const CQuillmarLibrary&) = delete;

    // Loads the library from `path` (a bare name is searched for as LoadLibrary does) and runs its
    // loader hook. S_OK once loaded and JNI_OnLoad ran; the mapped system error when the DLL cannot be loaded;
    // 0x8007007F (procedure not found) when an export is missing.
    HRESULT Load(const std::wstring& path);
    bool Loaded() const { return m_module != nullptr; }
    // The full path of the loaded module.
    std::wstring ModulePath() const;
    // The export that Load found missing, if any.
    const std::string& MissingExport() const { return m_missing; }

    // The natives, each called on the host's Quillmar object from the calling thread (which the host
    // attaches on first use, as a Java thread would be).
    HRESULT InitLibrary();
    void FreeLibrary();
    int GetVersion();
    HRESULT Record(const std::string& utf8Path, int formatTag, int sampleRate, int bitRate);
    HRESULT Play(const std::string& utf8Path, int number);
    HRESULT Pause(bool& paused);
    HRESULT Stop();
    HRESULT GetDuration(double& seconds);
    HRESULT GetCurrentPosition(double& seconds);
    // The natives that the Java package's binding class adds (getEndCause, getStreamNumber), called by
    // name as the others. Why the last stream ended: media event code, its result, the stream's number;
    // S_FALSE when none has ended.
    HRESULT GetEndCause(int& eventCode, HRESULT& result, int& stream);
    // The number of the stream the last successful record or play started; S_FALSE and 0 before it.
    HRESULT GetStreamNumber(int& stream);
    // getInputDevices, asked again with the size it tells until the list fits: the UTF-8 text,
    // "id<TAB>name<LF>" per device, the default first. S_FALSE with an empty text when there is none.
    HRESULT GetInputDevices(std::string& utf8List);
    // recordFromDevice: as Record, from the input device with that id.
    HRESULT RecordFromDevice(const std::string& utf8DeviceId, const std::string& utf8Path, int formatTag,
                             int sampleRate, int bitRate);

    // getDroppedAudio: the gaps the capture device left in the current (or last) recording and the audio
    // time they miss; S_FALSE when the device set no time stamps (the length is not known).
    HRESULT GetDroppedAudio(unsigned long& gaps, double& missingSeconds);

    // The playback controls of the binding class. setPosition: seconds from the start of the held
    // playback; setVolume/getVolume: hundredths of a dB, -10000 to 0; setBalance/getBalance: hundredths of
    // a dB, -10000 (right silenced) to 10000 (left silenced).
    HRESULT SetPosition(double seconds);
    HRESULT SetVolume(int volume);
    HRESULT GetVolume(int& volume);
    HRESULT SetBalance(int balance);
    HRESULT GetBalance(int& balance);
    // getOutputDevices: the audio output devices, as GetInputDevices gives the input devices.
    HRESULT GetOutputDevices(std::string& utf8List);
    // playOnDevice: as Play, on the output device with that id.
    HRESULT PlayOnDevice(const std::string& utf8DeviceId, const std::string& utf8Path, int number);
    // recordWithOptions: an empty device id records from the default device, an empty path writes no
    // file; options as the native takes them (format tag, rate, channels, bit rate, VBR quality, flags).
    HRESULT RecordWithOptions(const std::string& utf8DeviceId, const std::string& utf8Path,
                              const std::vector<int>& options);
    // getStreamLoss: what the library dropped from the current (or last) streamed recording's stream.
    HRESULT GetStreamLoss(unsigned long& chunks, double& bytes, double& seconds);

    JvmHost::CJvmHost& Host() { return m_host; }

private:
    JNIEnv* Env();
    using DeviceListNative = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jintArray);
    HRESULT GetDeviceList(DeviceListNative native, std::string& utf8List);
    HRESULT GetLevel(jint(JNICALL* native)(JNIEnv*, jobject, jintArray), int& value);

    JvmHost::CJvmHost m_host;
    HMODULE m_module = nullptr;
    std::string m_missing;

    jint(JNICALL* m_onLoad)(JavaVM*, void*) = nullptr;
    jint(JNICALL* m_initLibrary)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* m_freeLibrary)(JNIEnv*, jobject) = nullptr;
    jint(JNICALL* m_getVersion)(JNIEnv*, jobject) = nullptr;
    jint(JNICALL* m_record)(JNIEnv*, jobject, jbyteArray, jint, jint, jint) = nullptr;
    jint(JNICALL* m_play)(JNIEnv*, jobject, jbyteArray, jint) = nullptr;
    jint(JNICALL* m_pause)(JNIEnv*, jobject, jbooleanArray) = nullptr;
    jint(JNICALL* m_stop)(JNIEnv*, jobject) = nullptr;
    jint(JNICALL* m_getDuration)(JNIEnv*, jobject, jdoubleArray) = nullptr;
    jint(JNICALL* m_getCurrentPosition)(JNIEnv*, jobject, jdoubleArray) = nullptr;
    jint(JNICALL* m_getEndCause)(JNIEnv*, jobject, jintArray) = nullptr;
    jint(JNICALL* m_getStreamNumber)(JNIEnv*, jobject, jintArray) = nullptr;
    jint(JNICALL* m_getInputDevices)(JNIEnv*, jobject, jbyteArray, jintArray) = nullptr;
    jint(JNICALL* m_recordFromDevice)(JNIEnv*, jobject, jbyteArray, jbyteArray, jint, jint, jint) = nullptr;
    jint(JNICALL* m_getDroppedAudio)(JNIEnv*, jobject, jdoubleArray) = nullptr;
    jint(JNICALL* m_setPosition)(JNIEnv*, jobject, jdouble) = nullptr;
    jint(JNICALL* m_setVolume)(JNIEnv*, jobject, jint) = nullptr;
    jint(JNICALL* m_getVolume)(JNIEnv*, jobject, jintArray) = nullptr;
    jint(JNICALL* m_setBalance)(JNIEnv*, jobject, jint) = nullptr;
    jint(JNICALL* m_getBalance)(JNIEnv*, jobject, jintArray) = nullptr;
    jint(JNICALL* m_getOutputDevices)(JNIEnv*, jobject, jbyteArray, jintArray) = nullptr;
    jint(JNICALL* m_playOnDevice)(JNIEnv*, jobject, jbyteArray, jbyteArray, jint) = nullptr;
    jint(JNICALL* m_recordWithOptions)(JNIEnv*, jobject, jbyteArray, jbyteArray, jintArray) = nullptr;
    jint(JNICALL* m_getStreamLoss)(JNIEnv*, jobject, jdoubleArray) = nullptr;
};
