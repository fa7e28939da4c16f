#pragma once
// The MP3 encoder's two COM interfaces and its settings record.
//
// IEncoder turns interleaved 16-bit PCM into MPEG audio Layer III frames held in one output buffer of
// the encoder; the owner takes them out frame by frame (GetFrame) or as one run of bytes
// (GetBlockAligned). IEncoderSettings reads and writes the LAME configuration used by the next Open.
#include <windows.h>
#include <mmreg.h>
#include <objidl.h>

#include <cstddef>

namespace MPEG2AudioEncoder {

// 24 consecutive 32-bit fields. Callers read the current record, change fields and write it back; the
// values count from the next IEncoder::Open.
struct EncoderSettings {
    DWORD dwOutSampleRate;   // lame_set_out_samplerate; SetInputType sets it to the input rate
    DWORD dwBitrateKbps;     // lame_set_brate (raised to 32 at output rates of 32000 Hz and above)
    LONG dwVbrMode;          // lame_set_VBR when >= 0 (0 off, 1 mt, 2 rh, 3 abr, 4 mtrh)
    DWORD dwVbrMinKbps;      // lame_set_VBR_min_bitrate_kbps
    DWORD dwVbrMaxKbps;      // lame_set_VBR_max_bitrate_kbps
    DWORD dwQualityLevel;    // lame_set_quality (0 best ... 9 fastest)
    DWORD dwVbrQualityLevel; // lame_set_VBR_q (0 ... 9)
    DWORD dwReserved1;
    DWORD dwChannelMode;     // lame_set_mode for two-channel input (0 stereo, 1 joint, 2 dual, 3 mono)
    DWORD bForceMidSide;     // lame_set_force_ms, only in joint stereo
    DWORD bCrcProtection;    // lame_set_error_protection
    DWORD bDownmixToMono;    // non-zero: two-channel input is encoded as mono
    DWORD dwReserved2;
    DWORD bCopyrightBit;     // lame_set_copyright
    DWORD bOriginalBit;      // lame_set_original
    DWORD dwReserved3;
    DWORD bVbrHardMin;       // lame_set_VBR_hard_min
    DWORD bVoiceLowpass;     // non-zero: lame_set_lowpassfreq(12000)
    DWORD dwReserved4;
    DWORD bStrictIso;        // lame_set_strict_ISO
    DWORD dwReserved5;
    DWORD bWriteTagFrame;    // lame_set_bWriteVbrTag: a tag frame at the start that Close can rewrite
    DWORD dwReserved6;
    DWORD dwReserved7;
};
static_assert(sizeof(EncoderSettings) == 96, "EncoderSettings is 24 packed 32-bit fields");
static_assert(offsetof(EncoderSettings, bWriteTagFrame) == 21 * sizeof(DWORD), "field order");

// {499FE4AF-34AB-4009-8EC8-DE865752680A}
extern const IID IID_IEncoder;
// {51F34438-A5EA-423F-90B8-EFAEEE80A28C}
extern const IID IID_IEncoderSettings;

struct IEncoder : public IUnknown {
    // S_OK for 16-bit PCM, 1 or 2 channels, one of the nine MPEG rates, cbSize 0; else
    // VFW_E_UNSUPPORTED_AUDIO.
    virtual HRESULT STDMETHODCALLTYPE CheckInputType(const WAVEFORMATEX* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputType(const WAVEFORMATEX* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputType(WAVEFORMATEX* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open() = 0;
    // Takes whole sample frames while the output buffer has room; *pcbConsumed tells how many bytes.
    virtual HRESULT STDMETHODCALLTYPE Encode(const short* pcm, ULONG cbPcm, ULONG* pcbConsumed) = 0;
    // The next complete frame (*pcbFrame 0 when none is ready). Valid until the next Encode, Flush or Open.
    virtual HRESULT STDMETHODCALLTYPE GetFrame(BYTE** ppFrame, ULONG* pcbFrame) = 0;
    // All bytes not yet handed out (rounded down to cbAlign before a flush; after a flush all of them,
    // with *pcbAligned rounded up to cbAlign). Valid until the next Encode, Flush or Open.
    virtual HRESULT STDMETHODCALLTYPE GetBlockAligned(ULONG cbAlign, BYTE** ppData, ULONG* pcbAligned,
                                                      ULONG* pcbData) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
    // Releases LAME; with a stream and a tag frame, rewrites the tag frame at the start of the stream.
    // E_FAIL when the tag frame was asked for and is not written (the stream does not start with the
    // reserved frame, or LAME has no tag: it does not fit a frame of the bit rate, or nothing was
    // encoded); the stream is then left as it was. Without a stream nothing is written, by request.
    virtual HRESULT STDMETHODCALLTYPE Close(IStream* stream) = 0;
};

struct IEncoderSettings : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetEncoderSettings(EncoderSettings* settings) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEncoderSettings(const EncoderSettings* settings) = 0;
    virtual void STDMETHODCALLTYPE SetDefaultEncoderSettings() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSizeofOutputBuffer(ULONG* pcb) = 0;
};

} // namespace MPEG2AudioEncoder

__CRT_UUID_DECL(MPEG2AudioEncoder::IEncoder, 0x499FE4AF, 0x34AB, 0x4009, 0x8E, 0xC8, 0xDE, 0x86, 0x57, 0x52,
                0x68, 0x0A)
__CRT_UUID_DECL(MPEG2AudioEncoder::IEncoderSettings, 0x51F34438, 0xA5EA, 0x423F, 0x90, 0xB8, 0xEF, 0xAE, 0xEE,
                0x80, 0xA2, 0x8C)
