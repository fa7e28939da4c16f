#include "quillmar/result_codes.h"

#include <vfwmsgs.h>

#include <cstdio>

namespace {

struct ResultName {
    HRESULT code;
    const char* name;
    const wchar_t* text;    // ours, used when the platform has no message for the code
};

#define CODE(name, text) {static_cast<HRESULT>(name), #name, text}
#define WIN32_CODE(error, text) {HRESULT_FROM_WIN32(error), "HRESULT_FROM_WIN32(" #error ")", text}

// What the library returns (its own codes, the mapped system errors of its file and thread work, and
// the media framework's codes of the graphs it builds), with the platform's common neighbours.
const ResultName kNames[] = {
    CODE(S_OK, L"Success."),
    CODE(S_FALSE, L"Nothing to do."),
    CODE(E_UNEXPECTED, L"Unexpected state: no recording or playback is held, or the library is not initialised."),
    CODE(E_NOTIMPL, L"Not implemented: the capture device offers no usable input mixer."),
    CODE(E_OUTOFMEMORY, L"Out of memory."),
    CODE(E_INVALIDARG, L"Invalid argument: an empty path, a missing array, or no audio input device."),
    CODE(E_NOINTERFACE, L"The object does not support the interface: the capture device lacks resource control."),
    CODE(E_POINTER, L"Invalid pointer."),
    CODE(E_HANDLE, L"Invalid handle."),
    CODE(E_ABORT, L"Aborted: a Java class, method or reference could not be obtained, or the encoder faulted."),
    CODE(E_FAIL, L"Unspecified failure: no Java environment for the thread, or array elements not available."),
    CODE(E_ACCESSDENIED, L"Access denied."),
    CODE(REGDB_E_CLASSNOTREG, L"Class not registered: a platform filter the graph needs is missing."),
    CODE(CLASS_E_NOAGGREGATION, nullptr),
    CODE(CO_E_NOTINITIALIZED, nullptr),
    WIN32_CODE(ERROR_FILE_NOT_FOUND, L"The file was not found."),
    WIN32_CODE(ERROR_PATH_NOT_FOUND, L"The path was not found."),
    WIN32_CODE(ERROR_NOT_ENOUGH_MEMORY, nullptr),
    WIN32_CODE(ERROR_INVALID_DATA, nullptr),
    WIN32_CODE(ERROR_SHARING_VIOLATION, L"The file is in use by another process."),
    WIN32_CODE(ERROR_HANDLE_DISK_FULL, nullptr),
    WIN32_CODE(ERROR_DISK_FULL, L"The disk is full."),
    WIN32_CODE(ERROR_INSUFFICIENT_BUFFER, L"An output array of length 0 was passed."),
    WIN32_CODE(ERROR_INVALID_NAME, L"The file name is not valid."),
    WIN32_CODE(ERROR_MOD_NOT_FOUND, L"The module was not found."),
    WIN32_CODE(ERROR_PROC_NOT_FOUND, L"The library lacks one of the exported natives."),
    WIN32_CODE(ERROR_ALREADY_EXISTS, nullptr),
    WIN32_CODE(ERROR_BAD_EXE_FORMAT, L"The library is not a 32-bit Windows DLL."),
    WIN32_CODE(ERROR_NO_UNICODE_TRANSLATION, L"The path is not valid UTF-8."),
    CODE(VFW_S_STATE_INTERMEDIATE, nullptr),
    CODE(VFW_S_PARTIAL_RENDER, nullptr),
    CODE(VFW_S_AUDIO_NOT_RENDERED, nullptr),
    CODE(VFW_E_INVALIDMEDIATYPE, nullptr),
    CODE(VFW_E_INVALIDSUBTYPE, nullptr),
    CODE(VFW_E_ENUM_OUT_OF_SYNC, nullptr),
    CODE(VFW_E_ALREADY_CONNECTED, nullptr),
    CODE(VFW_E_FILTER_ACTIVE, nullptr),
    CODE(VFW_E_NO_TYPES, nullptr),
    CODE(VFW_E_NO_ACCEPTABLE_TYPES, nullptr),
    CODE(VFW_E_INVALID_DIRECTION, nullptr),
    CODE(VFW_E_NOT_CONNECTED, nullptr),
    CODE(VFW_E_NO_ALLOCATOR, nullptr),
    CODE(VFW_E_RUNTIME_ERROR, nullptr),
    CODE(VFW_E_BUFFER_NOTSET, nullptr),
    CODE(VFW_E_BUFFER_OVERFLOW, nullptr),
    CODE(VFW_E_BADALIGN, nullptr),
    CODE(VFW_E_ALREADY_COMMITTED, nullptr),
    CODE(VFW_E_BUFFERS_OUTSTANDING, nullptr),
    CODE(VFW_E_NOT_COMMITTED, nullptr),
    CODE(VFW_E_SIZENOTSET, nullptr),
    CODE(VFW_E_NO_CLOCK, nullptr),
    CODE(VFW_E_NO_SINK, nullptr),
    CODE(VFW_E_NO_INTERFACE, nullptr),
    CODE(VFW_E_NOT_FOUND, L"An object or name was not found: a capture pin or the tee's second output."),
    CODE(VFW_E_CANNOT_CONNECT, L"No combination of intermediate filters could be found to make the connection."),
    CODE(VFW_E_CANNOT_RENDER, L"No combination of filters could be found to render the stream (is an audio output device present?)."),
    CODE(VFW_E_CHANGING_FORMAT, nullptr),
    CODE(VFW_E_STATE_CHANGED, nullptr),
    CODE(VFW_E_NOT_STOPPED, nullptr),
    CODE(VFW_E_NOT_PAUSED, nullptr),
    CODE(VFW_E_NOT_RUNNING, nullptr),
    CODE(VFW_E_WRONG_STATE, nullptr),
    CODE(VFW_E_START_TIME_AFTER_END, nullptr),
    CODE(VFW_E_TYPE_NOT_ACCEPTED, nullptr),
    CODE(VFW_E_SAMPLE_REJECTED, nullptr),
    CODE(VFW_E_SAMPLE_REJECTED_EOS, nullptr),
    CODE(VFW_E_DUPLICATE_NAME, nullptr),
    CODE(VFW_E_TIMEOUT, L"A timeout has expired: stop was called from inside a library callback."),
    CODE(VFW_E_INVALID_FILE_FORMAT, L"The file format is invalid."),
    CODE(VFW_E_ENUM_OUT_OF_RANGE, nullptr),
    CODE(VFW_E_CIRCULAR_GRAPH, nullptr),
    CODE(VFW_E_NOT_IN_GRAPH, nullptr),
    CODE(VFW_E_UNKNOWN_FILE_TYPE, L"The media type of this file is not recognized."),
    CODE(VFW_E_CANNOT_LOAD_SOURCE_FILTER, L"The source filter for this file could not be loaded."),
    CODE(VFW_E_FILE_TOO_SHORT, nullptr),
    CODE(VFW_E_INVALID_FILE_VERSION, nullptr),
    CODE(VFW_E_INVALID_CLSID, nullptr),
    CODE(VFW_E_INVALID_MEDIA_TYPE, nullptr),
    CODE(VFW_E_SAMPLE_TIME_NOT_SET, nullptr),
    CODE(VFW_E_MEDIA_TIME_NOT_SET, nullptr),
    CODE(VFW_E_NO_TIME_FORMAT_SET, nullptr),
    CODE(VFW_E_MONO_AUDIO_HW, nullptr),
    CODE(VFW_E_NO_DECOMPRESSOR, nullptr),
    CODE(VFW_E_NO_AUDIO_HARDWARE, L"No audio hardware is available."),
    CODE(VFW_E_UNSUPPORTED_AUDIO, L"No audio compressor of the system produces this format."),
    CODE(VFW_E_UNSUPPORTED_STREAM, nullptr),
    CODE(VFW_E_NO_TIME_FORMAT, nullptr),
    CODE(VFW_E_READ_ONLY, nullptr),
    CODE(VFW_E_BUFFER_UNDERFLOW, nullptr),
    CODE(VFW_E_NO_TRANSPORT, nullptr),
    CODE(VFW_E_NO_CAPTURE_HARDWARE, nullptr),
};

#undef CODE
#undef WIN32_CODE

const ResultName* Find(HRESULT code)
{
    for (const ResultName& entry : kNames) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

std::wstring FormatFrom(DWORD flags, HMODULE source, HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          source, static_cast<DWORD>(code), 0,
                                          reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr)
        text.assign(buffer, length);
    if (buffer != nullptr)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace

const char* CResultCodes::Name(HRESULT code)
{
    const ResultName* entry = Find(code);
    return entry ? entry->name : nullptr;
}

std::wstring CResultCodes::Message(HRESULT code)
{
    std::wstring text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.empty() && HRESULT_FACILITY(code) == FACILITY_ITF) {
        // The media framework's codes live in quartz.dll's message table.
        HMODULE quartz = ::LoadLibraryExW(L"quartz.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (quartz != nullptr) {
            text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, quartz, code);
            ::FreeLibrary(quartz);
        }
    }
    if (text.empty()) {
        const ResultName* entry = Find(code);
        if (entry && entry->text)
            text = entry->text;
    }
    return text;
}

std::wstring CResultCodes::Describe(HRESULT code)
{
    wchar_t hex[16];
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(code));
    std::wstring line = hex;
    const char* name = Name(code);
    line += L' ';
    if (name != nullptr) {
        for (const char* c = name; *c; ++c)
            line += static_cast<wchar_t>(*c);
    } else {
        line += L"(unknown code)";
    }
    const std::wstring message = Message(code);
    line += L": ";
    line += message.empty() ? L"no message text for this code" : message;
    return line;
}
