#pragma once
// The operations the filter framework applies to the media type records that pins negotiate.
//
// A record owns its format block (cbFormat bytes from the COM task allocator) and one reference on
// pUnk when pUnk is set. These operations trust the records they are given (they belong to the
// framework's own pins); the validating versions for records from outside are in
// support/media_type.h.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

namespace stdax {

// Every byte zero, then bFixedSizeSamples TRUE and lSampleSize 1.
void InitializeMediaType(AM_MEDIA_TYPE* mt);

// Frees the format block and releases pUnk, leaving the record without either. The other fields
// stay as they were.
void FreeMediaTypeContents(AM_MEDIA_TYPE* mt);

// Copies source into target, which must hold nothing (its contents are overwritten, not freed).
// The target gets a format block of its own and a reference on pUnk. E_OUTOFMEMORY when the block
// cannot be allocated, VFW_E_INVALID_MEDIA_TYPE when the source announces a format block that it
// does not have; in both cases the target is left holding no block and no pUnk.
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Replaces what target holds with a copy of source. Assigning a record to itself changes nothing.
// A failed copy gives its failure and leaves the target empty as CopyMediaTypeContents does.
HRESULT AssignMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Frees the contents of a record that was itself allocated with CoTaskMemAlloc, then the record.
// A null record is ignored.
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt);

// Whether candidate fits pattern: GUID_NULL in the pattern's major type or subtype stands for any
// value; a pattern without a format type accepts any format; otherwise format type, length and
// bytes must be equal.
bool MediaTypeMatchesPartially(const AM_MEDIA_TYPE* pattern, const AM_MEDIA_TYPE* candidate);

// Whether the major type or the format type is still open (GUID_NULL).
bool IsMediaTypePartiallySpecified(const AM_MEDIA_TYPE* mt);

// Gives the record a format block of length bytes and returns it. The block is the current one when
// it already has that length; otherwise a new block (contents undefined) replaces it. When no new
// block can be allocated the record is left unchanged and the result is the current block if that
// is large enough, otherwise null.
BYTE* ReallocateFormatBlock(AM_MEDIA_TYPE* mt, ULONG length);

} // namespace stdax
