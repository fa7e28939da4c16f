#pragma once
// PushSource::CFilter: a source filter for tests whose samples are pushed by the test itself.
//
// One output pin offers exactly the media type it was created with (any major type, subtype and
// format block). While the graph is paused or running, Deliver fills a buffer from the agreed
// allocator with the given bytes (optionally carrying a new media type) and hands it to the
// downstream pin on the calling thread, returning what the downstream Receive returned. So a test
// sees each sample's result, as the upstream filter of a real graph does.
#include "stdax/base_filter.h"
#include "stdax/base_output_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

#include <vector>

namespace PushSource {

// A WAVEFORMATEX audio type: subtype from the tag (the platform's tag-based subtypes), the extra
// bytes after the WAVEFORMATEX (cbSize = their count).
void MakeWaveType(AM_MEDIA_TYPE* mt, WORD tag, WORD channels, DWORD rate, WORD bits, WORD blockAlign,
                  DWORD avgBytesPerSec, const std::vector<BYTE>& extra = {});
// PCM in the usual layout.
void MakePcmType(AM_MEDIA_TYPE* mt, WORD channels, DWORD rate, WORD bits);

// Time stamps and the discontinuity flag of a pushed sample (none and unset by default).
struct SampleStamp {
    const REFERENCE_TIME* start = nullptr; // null: no times
    const REFERENCE_TIME* stop = nullptr;  // null: a start time only
    bool discontinuity = false;
};

class CFilter;

class COutputPin : public stdax::CBaseOutputPin {
public:
    COutputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT Active() override;

private:
    CFilter* const m_owner;
};

struct CFilterRecords {
    CFilterRecords(const AM_MEDIA_TYPE& type, LONG bufferSize);
    ~CFilterRecords();

    Synchronization::CCriticalSection m_filterLock;
    AM_MEDIA_TYPE m_type;
    LONG m_bufferSize;
    AMOVIESETUP_MEDIATYPE m_typeRecord;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CFilter : private CFilterRecords, public stdax::CBaseFilter {
public:
    // With one reference on its IBaseFilter, or null. bufferSize: bytes of each allocator buffer.
    static CFilter* Create(const AM_MEDIA_TYPE& type, LONG bufferSize = 65536);
    ~CFilter() override;

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT STDMETHODCALLTYPE Stop() override;

    // One sample of length bytes (data may be null for length 0) to the downstream pin.
    HRESULT Deliver(const BYTE* data, LONG length, const AM_MEDIA_TYPE* newType = nullptr,
                    const SampleStamp& stamp = SampleStamp());
    HRESULT Deliver(const std::vector<BYTE>& bytes, const SampleStamp& stamp = SampleStamp())
    {
        return Deliver(bytes.data(), static_cast<LONG>(bytes.size()), nullptr, stamp);
    }

    IBaseFilter* Interface() { return BaseFilterInterface(); }
    IPin* OutputPin() { return m_pin->PinInterface(); }
    const AM_MEDIA_TYPE& Type() const { return m_type; }
    LONG BufferSize() const { return m_bufferSize; }

private:
    CFilter(const AM_MEDIA_TYPE& type, LONG bufferSize, HRESULT* result);

    COutputPin* m_pin = nullptr;
};

} // namespace PushSource
