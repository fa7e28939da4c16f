#pragma once
// A receiver of the bytes a recording produces, in the order they are stored: the MP3 encoder hands
// it the frames as they leave for the writer, the WAV writer and the stream sink the bytes of the data
// chunk. Write runs on the streaming thread (and on the thread that stops the graph, for what an
// encoder drains at stop): it must return at once, never wait for another thread and never fail the
// recording. The graph that holds a tap calls Format once it knows what the bytes are, and End once
// its filters are released and no Write can follow.
#include <windows.h>
#include <unknwn.h>

class IByteTap {
public:
    // The WAVEFORMATEX (with its cbSize extra bytes) of what follows.
    virtual void Format(const BYTE* format, ULONG size) = 0;
    virtual void Write(const BYTE* data, ULONG size) = 0;
    virtual void End() = 0;

protected:
    ~IByteTap() = default;
};

// The COM interface of a filter that can hand its bytes to a tap: null stops it.
// {3F1C2B7E-8D4A-4E51-9A36-5C0B7D21E4F8}
struct IByteTapTarget : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetByteTap(IByteTap* tap) = 0;
};

__CRT_UUID_DECL(IByteTapTarget, 0x3F1C2B7E, 0x8D4A, 0x4E51, 0x9A, 0x36, 0x5C, 0x0B, 0x7D, 0x21, 0xE4, 0xF8)

inline constexpr IID IID_IByteTapTarget = {0x3F1C2B7E, 0x8D4A, 0x4E51, {0x9A, 0x36, 0x5C, 0x0B, 0x7D, 0x21, 0xE4, 0xF8}};
