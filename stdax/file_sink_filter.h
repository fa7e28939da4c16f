#pragma once
// stdax::IFileSinkFilter2Impl: the output file name (at most 259 characters), an optional media type
// and the file mode of a file-writing filter.
//
// The host filter mixes it in, supplies IUnknown (its owner's), answers IID_IFileSinkFilter and
// IID_IFileSinkFilter2 with it, and reads FileName() when it opens its file. The name and the mode
// are unset until their first successful set. A refused SetFileName (a name too long, a media type
// that cannot be copied) changes nothing. The four methods are serialised by the object's own lock.
#include "support/critical_section.h"
#include "support/media_type.h"

#include <windows.h>
#include <strmif.h>

namespace stdax {

class IFileSinkFilter2Impl : public IFileSinkFilter2 {
public:
    // Room for the name, terminator included.
    static constexpr int FileNameLength = 260;

    IFileSinkFilter2Impl();
    virtual ~IFileSinkFilter2Impl();

    IFileSinkFilter2Impl(const IFileSinkFilter2Impl&) = delete;
    IFileSinkFilter2Impl& operator=(const IFileSinkFilter2Impl&) = delete;

    // IFileSinkFilter. A name of 260 characters or more: STRSAFE_E_INSUFFICIENT_BUFFER.
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    // E_FAIL before a name was set. The caller frees the string and the type's format block.
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;
    // IFileSinkFilter2. Modes: 0 or AM_FILE_OVERWRITE. GetMode: E_FAIL before a mode was set.
    HRESULT STDMETHODCALLTYPE SetMode(DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE GetMode(DWORD* pdwFlags) override;

    // For the host: a copy of the stored name (S_OK), or E_FAIL when none was set; E_POINTER for an
    // unusable buffer, STRSAFE_E_INSUFFICIENT_BUFFER for one shorter than the name.
    HRESULT CopyFileName(LPWSTR buffer, size_t length);
    bool IsFileNameSet();
    DWORD Mode();

private:
    Synchronization::CCriticalSection m_lock;
    WCHAR m_fileName[FileNameLength];
    DirectShow::CMediaType m_mediaType;
    BYTE m_nameSet;
    DWORD m_mode;
    BYTE m_modeSet;
};

} // namespace stdax
