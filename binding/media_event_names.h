#pragma once
// The platform's names of the filter graph event codes, for the trace.
namespace JNI {

// The name of the event code, or null for a code the table does not know.
const wchar_t* MediaEventName(long code);

} // namespace JNI
