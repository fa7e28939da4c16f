#pragma once
// JNI::CStreamDelivery: the recorded bytes of a streamed recording on their way to Java. The capture
// graph's filters hand them over as an IByteTap on the streaming thread; they are gathered into chunks
// of about ChunkSeconds of audio (cut at MP3 frame or WAVE block boundaries) and queued for the
// delivery thread, which passes them to "StreamFormat" (once, first) and "StreamData" (each chunk, and
// a null array after the last one).
//
// The hand-over never waits for Java: it holds this object's lock only to append bytes or move a chunk
// into the queue. While the queue holds HoldSeconds of undelivered audio or more, a chunk that is
// complete is dropped instead of queued (from the stream only: the writer has already stored its
// bytes), and counted. The queue outlives the recording: stop ends the stream (End, when the graph is
// freed) but drops nothing; Reset (freeLibrary) drops everything.
#include <windows.h>

#include "binding/listener_delivery.h"
#include "support/byte_tap.h"
#include "support/critical_section.h"

#include <deque>
#include <vector>

namespace JNI {

class CStreamDelivery : public IByteTap {
public:
    static constexpr double ChunkSeconds = 0.15;
    static constexpr double HoldSeconds = 10.0;

    // What the current stream (or the last one) lost: chunks, bytes and seconds of audio.
    struct SLoss {
        double chunks = 0.0;
        double bytes = 0.0;
        double seconds = 0.0;
    };

    // wake: tells the delivery thread that a piece waits (called outside this object's lock).
    explicit CStreamDelivery(void (*wake)());

    // A new stream (before its graph is built): the losses start again from zero.
    void Open();
    // The recording did not start: what this stream queued is dropped and its End is ignored.
    void Discard();
    // freeLibrary: everything undelivered is dropped; nothing is open any more.
    void Reset();

    // IByteTap (the capture graph's threads).
    void Format(const BYTE* format, ULONG size) override;
    void Write(const BYTE* data, ULONG size) override;
    void End() override;

    // On the delivery thread: delivers the oldest piece; false when there was none.
    bool DeliverNext(SListener& listener);

    SLoss Loss();

private:
    enum class Kind { Format, Data, End };
    struct SItem {
        Kind kind = Kind::Data;
        std::vector<BYTE> bytes;
        double seconds = 0.0;
        LONG stream = 0;
    };

    // Under the lock: the chunk being gathered is complete (queued or dropped); true when queued.
    bool CloseChunk();
    // Under the lock: counts the bytes appended to the chunk (MP3 frames or WAVE bytes) into its length.
    void Measure(const BYTE* data, ULONG size);
    std::vector<BYTE> TakeBuffer();

    void (*const m_wake)();
    Synchronization::CCriticalSection m_lock;  // everything below
    std::deque<SItem> m_queue;
    std::vector<std::vector<BYTE>> m_spare;  // emptied buffers with their room, for the next chunks
    double m_queuedSeconds = 0.0;
    LONG m_stream = 0;      // the open stream's number; 0 when none is open
    LONG m_lastStream = 0;
    // The stream's format and the chunk being gathered.
    bool m_mp3 = false;
    DWORD m_rate = 0;
    DWORD m_bytesPerSecond = 0;
    WORD m_blockAlign = 1;
    std::vector<BYTE> m_chunk;
    double m_chunkSeconds = 0.0;
    // MP3: the bytes left of the frame that is being appended, and a header that is still incomplete.
    ULONG m_frameLeft = 0;
    BYTE m_header[4] = {};
    ULONG m_headerHave = 0;
    bool m_inSync = true;
    bool m_dropNoted = false;
    SLoss m_loss;
};

} // namespace JNI
