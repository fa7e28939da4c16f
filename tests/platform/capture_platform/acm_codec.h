#pragma once
// CAcmCodec: one conversion stream of the system's Audio Compression Manager, from 16-bit PCM to a
// format of a chosen tag, converted in whole blocks of the target format.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <vector>

namespace CapturePlatform {

class CAcmCodec {
public:
    CAcmCodec() = default;
    ~CAcmCodec();
    CAcmCodec(const CAcmCodec&) = delete;
    CAcmCodec& operator=(const CAcmCodec&) = delete;

    // The format the ACM suggests for pcm converted to tag (the whole WAVEFORMATEX with its extra
    // bytes in *format), checked to open as a stream. For tag 1 it is pcm itself. VFW_E_TYPE_NOT_ACCEPTED
    // when the ACM has no such conversion.
    static HRESULT SuggestFormat(const WAVEFORMATEX& pcm, WORD tag, std::vector<BYTE>* format);

    // Opens the stream (a stream already open is closed first) and works out the block sizes.
    HRESULT Open(const WAVEFORMATEX& source, const WAVEFORMATEX* target);
    void Close();
    bool IsOpen() const { return m_stream != nullptr; }

    // Source bytes that make one block of the target, and that block's size.
    ULONG SourceBlockBytes() const { return m_sourceBlock; }
    ULONG TargetBlockBytes() const { return m_targetBlock; }

    // Converts sourceBytes (a multiple of SourceBlockBytes) into target; *written gets the bytes
    // produced. E_INVALIDARG when the source is not whole blocks or the target has no room for them.
    HRESULT Convert(const BYTE* source, ULONG sourceBytes, BYTE* target, ULONG targetRoom, ULONG* written);

    // An ACM result as a COM result code.
    static HRESULT ResultOf(MMRESULT result);

private:
    HACMSTREAM m_stream = nullptr;
    ULONG m_sourceBlock = 0;
    ULONG m_targetBlock = 0;
    bool m_started = false;
};

} // namespace CapturePlatform
