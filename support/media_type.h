#pragma once
// DirectShow::CMediaType: the owning holder of one media type record, and the validating free,
// copy and delete operations for records that come from outside the library.
//
// Every pointer given to these operations is probed before it is used (E_POINTER), and a record
// whose format block is announced with a length of 0 is refused. Nothing here locks.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

namespace DirectShow {

// Releases pUnk and frees the format block, then sets all of the record to zero (S_OK, also when
// there was nothing to free). The record and its contents are checked before anything is released,
// so a failure leaves the record exactly as it was: E_POINTER for a record, pUnk or format block
// that cannot be read (or the block written), E_INVALIDARG for a format block of length 0.
HRESULT FreeMediaType(AM_MEDIA_TYPE* mt);

// Replaces dst's contents with a copy of src: the format block is duplicated and pUnk gets one more
// reference. E_POINTER for an unusable src or dst (or src's pUnk / format block), E_INVALIDARG when
// dst is src, VFW_E_INVALID_MEDIA_TYPE for a src format block of length 0. The copy is made before
// dst's own contents are freed with FreeMediaType (its failure is returned, dst unchanged), so src
// may share dst's format block or pUnk reference. When the new format block cannot be made, dst is
// left with the other fields copied and no format block (E_OUTOFMEMORY).
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

// Frees *pmt's contents and the record itself (allocated with CoTaskMemAlloc), then sets *pmt to
// null. S_FALSE when *pmt is already null; E_POINTER for an unusable pointer.
HRESULT DeleteMediaType(AM_MEDIA_TYPE** pmt);

class CMediaType : public AM_MEDIA_TYPE {
public:
    // Every field zero: no types, no format block, no pUnk.
    CMediaType();
    // Frees the contents (the result is not reported).
    virtual ~CMediaType();

    // The record owns a format block and a reference: a copy must be made with CopyFrom / CopyTo.
    CMediaType(const CMediaType&) = delete;
    CMediaType& operator=(const CMediaType&) = delete;

    // CopyMediaType with this record as the source.
    HRESULT CopyTo(AM_MEDIA_TYPE* dst) const;
    // CopyMediaType with this record as the destination.
    HRESULT CopyFrom(const AM_MEDIA_TYPE* src);
};

} // namespace DirectShow
