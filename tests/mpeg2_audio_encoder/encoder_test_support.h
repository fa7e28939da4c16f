#pragma once
// Helpers shared by the encoder tests: a way into the encoder's private state, test signals, a
// reader for the encoder's trace log, and loops that drive a whole stream through the encoder.
#include "filters/mpeg2_audio_encoder/encoder.h"
#include "platform/trace_reader/trace_reader.h"
#include "stdax/com/ptr.h"

#include <string>
#include <vector>

namespace MPEG2AudioEncoder {

struct CEncoderTestSeam {
    static lame_global_flags*& Lame(CEncoder& encoder) { return encoder.m_pLame; }
    static BYTE* Output(CEncoder& encoder) { return encoder.m_pOutput; }
    static BYTE*& OutputBuffer(CEncoder& encoder) { return encoder.m_pOutput; }
    static LONG& Fill(CEncoder& encoder) { return encoder.m_cbFill; }
    static LONG& Read(CEncoder& encoder) { return encoder.m_cbRead; }
};

} // namespace MPEG2AudioEncoder

namespace EncoderTest {

using MPEG2AudioEncoder::CEncoder;
using MPEG2AudioEncoder::EncoderSettings;
using MPEG2AudioEncoder::IEncoder;
using MPEG2AudioEncoder::IEncoderSettings;

WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits = 16);

// A stand-alone encoder made through COM::CreateObject, seen through both interfaces.
struct CTestEncoder {
    CTestEncoder();
    CEncoder& Object() const;   // the implementation behind the interfaces
    COM::TPtr<IEncoder> encoder;
    COM::TPtr<IEncoderSettings> settings;
};

// Interleaved 16-bit sine tones at half full scale: the left (or only) channel at leftHz, the right
// channel at rightHz.
std::vector<short> Tone(DWORD rate, WORD channels, size_t sampleFrames, double leftHz, double rightHz);

// Feeds all of pcm through Encode, taking the output out after each call, then flushes and takes out
// the rest. byFrames: GetFrame until it gives length 0, else GetBlockAligned(1). Every call must
// succeed (checked with gtest); the bytes taken out are returned.
std::vector<BYTE> EncodeAll(IEncoder* encoder, const std::vector<short>& pcm, bool byFrames,
                            ULONG bytesPerCall = 3528);

// Lengths of the Layer III frames in a byte run that consists of whole frames only (an empty vector
// when a byte in it is not the start of a valid frame chain).
std::vector<int> FrameChain(const BYTE* data, size_t size);

// The message part (indentation kept) of every line written to "MPEG2AudioEncoder.log" since the
// reader was made.
class CEncoderLogReader {
public:
    CEncoderLogReader();
    std::vector<std::wstring> NewLines();

private:
    static std::wstring ReadAll();
    size_t m_start;
};

using TestTrace::Hex;   // a pointer as the trace prints it

// Whole files in the current directory (the program's scratch directory).
bool WriteFileBytes(const wchar_t* path, const std::vector<BYTE>& bytes);
std::vector<BYTE> ReadFileBytes(const wchar_t* path);

} // namespace EncoderTest
