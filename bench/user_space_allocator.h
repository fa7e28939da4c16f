#pragma once
// A memory allocator for the benchmarks that never leaves the process: a critical section and a
// condition variable instead of the platform allocator's semaphore, whose every wait and release is a
// call to the wineserver under Wine (tens of microseconds each on an idle machine), while on Windows
// it is a cheap kernel call.
//
// Registered for CLSID_MemoryAllocator in the calling process only (Bench::CUserSpaceAllocatorRegistration),
// it is what every pin of the process gets when it asks COM for a memory allocator, so that a
// benchmark can show what a path costs apart from the platform allocator's waits. It takes the
// properties exactly as requested and hands out samples with all the IMediaSample properties.
#include <windows.h>
#include <strmif.h>

namespace Bench {

// Registers the allocator's class object for CLSID_MemoryAllocator while the object lives.
class CUserSpaceAllocatorRegistration {
public:
    CUserSpaceAllocatorRegistration();
    ~CUserSpaceAllocatorRegistration();
    CUserSpaceAllocatorRegistration(const CUserSpaceAllocatorRegistration&) = delete;
    CUserSpaceAllocatorRegistration& operator=(const CUserSpaceAllocatorRegistration&) = delete;

    HRESULT Result() const { return m_result; }

private:
    DWORD m_cookie;
    HRESULT m_result;
};

} // namespace Bench
