#include "binding/stream_delivery.h"

#include "binding/java_method.h"
#include "binding/native_frame.h"
#include "filters/mpeg2_audio_encoder/frame_header.h"
#include "support/trace_log.h"

#include <mmreg.h>

#include <cstring>
#include <new>

namespace JNI {
namespace {

// Emptied buffers kept for later chunks.
constexpr size_t kSpareBuffers = 8;

// Calls the method with a new byte array of the bytes, or with null; the array is released again.
HRESULT CallWithBytes(TMethodVoid& method, const std::vector<BYTE>* bytes)
{
    if (s_JavaVM == nullptr)
        return E_UNEXPECTED;
    JNIEnv* env = nullptr;
    bool attached = false;
    if (s_JavaVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) == JNI_EDETACHED) {
        env = nullptr;
        if (s_JavaVM->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
            return E_FAIL;
        attached = true;
    }
    if (env == nullptr)
        return E_FAIL;
    HRESULT hr = S_OK;
    jbyteArray array = nullptr;
    if (bytes != nullptr) {
        const jsize length = static_cast<jsize>(bytes->size());
        array = env->NewByteArray(length);
        if (array == nullptr) {
            ClearPendingException(env);  // OutOfMemoryError
            hr = E_OUTOFMEMORY;
        } else if (length > 0) {
            env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes->data()));
        }
    }
    if (SUCCEEDED(hr))
        hr = method.Call(array);
    if (array != nullptr)
        env->DeleteLocalRef(array);
    if (attached)
        s_JavaVM->DetachCurrentThread();
    return hr;
}

} // namespace

CStreamDelivery::CStreamDelivery(void (*wake)()) : m_wake(wake)
{
}

void CStreamDelivery::Open()
{
    Synchronization::CAutoLock hold(&m_lock);
    m_stream = ++m_lastStream;
    m_mp3 = false;
    m_rate = 0;
    m_bytesPerSecond = 0;
    m_blockAlign = 1;
    m_chunk.clear();
    m_chunkSeconds = 0.0;
    m_frameLeft = 0;
    m_headerHave = 0;
    m_inSync = true;
    m_dropNoted = false;
    m_loss = SLoss();
}

void CStreamDelivery::Discard()
{
    Synchronization::CAutoLock hold(&m_lock);
    const LONG stream = m_stream;
    m_stream = 0;
    m_chunk.clear();
    for (auto item = m_queue.begin(); item != m_queue.end();) {
        if (item->stream == stream) {
            if (item->kind == Kind::Data)
                m_queuedSeconds -= item->seconds;
            item = m_queue.erase(item);
        } else {
            ++item;
        }
    }
}

void CStreamDelivery::Reset()
{
    Synchronization::CAutoLock hold(&m_lock);
    m_stream = 0;
    m_chunk.clear();
    m_queue.clear();
    m_queuedSeconds = 0.0;
}

CStreamDelivery::SLoss CStreamDelivery::Loss()
{
    Synchronization::CAutoLock hold(&m_lock);
    return m_loss;
}

std::vector<BYTE> CStreamDelivery::TakeBuffer()
{
    if (m_spare.empty())
        return std::vector<BYTE>();
    std::vector<BYTE> buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer.clear();
    return buffer;
}

void CStreamDelivery::Format(const BYTE* format, ULONG size)
{
    bool queued = false;
    {
        Synchronization::CAutoLock hold(&m_lock);
        if (m_stream == 0 || size < 16)
            return;
        WAVEFORMATEX wfx;
        std::memset(&wfx, 0, sizeof(wfx));
        std::memcpy(&wfx, format, size < sizeof(wfx) ? size : sizeof(wfx));
        m_mp3 = wfx.wFormatTag == WAVE_FORMAT_MPEGLAYER3;
        m_rate = wfx.nSamplesPerSec;
        m_bytesPerSecond = wfx.nAvgBytesPerSec;
        m_blockAlign = wfx.nBlockAlign != 0 ? wfx.nBlockAlign : 1;
        try {
            SItem item;
            item.kind = Kind::Format;
            item.bytes.assign(format, format + size);
            item.stream = m_stream;
            m_queue.push_back(std::move(item));
            queued = true;
        } catch (const std::bad_alloc&) {
            // The stream then starts without its format; Java learns it from the recording's options.
        }
    }
    if (queued)
        m_wake();
}

void CStreamDelivery::Measure(const BYTE* data, ULONG size)
{
    if (!m_mp3) {
        if (m_bytesPerSecond != 0)
            m_chunkSeconds += static_cast<double>(size) / m_bytesPerSecond;
        return;
    }
    const double frameSeconds = m_rate != 0 ? (m_rate >= 32000 ? 1152.0 : 576.0) / m_rate : 0.0;
    while (size > 0 && m_inSync) {
        if (m_frameLeft > 0) {
            const ULONG taken = size < m_frameLeft ? size : m_frameLeft;
            m_frameLeft -= taken;
            data += taken;
            size -= taken;
            continue;
        }
        m_header[m_headerHave++] = *data++;
        --size;
        if (m_headerHave < 4)
            continue;
        m_headerHave = 0;
        const int length = MPEG2AudioEncoder::GetFrameLength(m_header);
        if (length < 4) {
            // Not frames after all: chunks are cut by size from here on.
            m_inSync = false;
            break;
        }
        m_frameLeft = static_cast<ULONG>(length) - 4;
        m_chunkSeconds += frameSeconds;
    }
    if (!m_inSync && m_bytesPerSecond != 0)
        m_chunkSeconds += static_cast<double>(size) / m_bytesPerSecond;
}

bool CStreamDelivery::CloseChunk()
{
    if (m_chunk.empty())
        return false;
    bool queued = false;
    if (m_queuedSeconds >= HoldSeconds) {
        // The reader is HoldSeconds behind: the chunk leaves the stream, counted.
        m_loss.chunks += 1.0;
        m_loss.bytes += static_cast<double>(m_chunk.size());
        m_loss.seconds += m_chunkSeconds;
        if (!m_dropNoted) {
            m_dropNoted = true;
            s_MainLog.Print(L"stream: %.0f s undelivered, chunks are dropped from the stream\x2026", HoldSeconds);
        }
        m_chunk.clear();
    } else {
        try {
            SItem item;
            item.kind = Kind::Data;
            item.bytes = std::move(m_chunk);
            item.seconds = m_chunkSeconds;
            item.stream = m_stream;
            m_queue.push_back(std::move(item));
            m_queuedSeconds += m_chunkSeconds;
            queued = true;
        } catch (const std::bad_alloc&) {
            m_loss.chunks += 1.0;
            m_loss.bytes += static_cast<double>(m_chunk.size());
            m_loss.seconds += m_chunkSeconds;
        }
        m_chunk = TakeBuffer();
    }
    m_chunkSeconds = 0.0;
    return queued;
}

void CStreamDelivery::Write(const BYTE* data, ULONG size)
{
    bool queued = false;
    {
        Synchronization::CAutoLock hold(&m_lock);
        if (m_stream == 0 || size == 0)
            return;
        try {
            m_chunk.insert(m_chunk.end(), data, data + size);
        } catch (const std::bad_alloc&) {
            m_loss.chunks += 1.0;
            m_loss.bytes += static_cast<double>(size);
            return;
        }
        Measure(data, size);
        // A chunk ends on a frame (MP3) or block (WAVE) boundary once it holds enough audio; a stream
        // whose length cannot be measured is cut by size.
        const bool boundary = m_mp3 ? (m_frameLeft == 0 && m_headerHave == 0) || !m_inSync
                                    : m_chunk.size() % m_blockAlign == 0;
        const bool full = m_chunkSeconds >= ChunkSeconds ||
                          (m_bytesPerSecond == 0 && m_chunk.size() >= 8192 && !m_inSync);
        if (boundary && full)
            queued = CloseChunk();
    }
    if (queued)
        m_wake();
}

void CStreamDelivery::End()
{
    {
        Synchronization::CAutoLock hold(&m_lock);
        if (m_stream == 0)
            return;
        CloseChunk();
        if (m_loss.chunks > 0.0)
            s_MainLog.Print(L"stream: %.0f chunks dropped, %.0f bytes, %.3f s.", m_loss.chunks, m_loss.bytes,
                            m_loss.seconds);
        try {
            SItem item;
            item.kind = Kind::End;
            item.stream = m_stream;
            m_queue.push_back(std::move(item));
        } catch (const std::bad_alloc&) {
            // Cannot happen in practice (an empty item); the reader would then wait for freeLibrary.
        }
        m_stream = 0;
    }
    m_wake();
}

bool CStreamDelivery::DeliverNext(SListener& listener)
{
    SItem item;
    {
        Synchronization::CAutoLock hold(&m_lock);
        if (m_queue.empty())
            return false;
        item = std::move(m_queue.front());
        m_queue.pop_front();
        if (item.kind == Kind::Data)
            m_queuedSeconds -= item.seconds;
        if (m_queue.empty())
            m_queuedSeconds = 0.0;  // no rounding left behind
    }
    HRESULT hr = S_OK;
    if (item.kind == Kind::Format) {
        CNativeFrame frame("callback_StreamFormat", &hr, CNativeFrame::WithoutLock, L"%lu",
                           static_cast<unsigned long>(item.bytes.size()));
        hr = CallWithBytes(listener.streamFormat, &item.bytes);
    } else if (item.kind == Kind::Data) {
        CNativeFrame frame("callback_StreamData", &hr, CNativeFrame::WithoutLock, L"%lu",
                           static_cast<unsigned long>(item.bytes.size()));
        hr = CallWithBytes(listener.streamData, &item.bytes);
    } else {
        CNativeFrame frame("callback_StreamData", &hr, CNativeFrame::WithoutLock, L"null");
        hr = CallWithBytes(listener.streamData, nullptr);
    }
    if (item.bytes.capacity() > 0) {
        Synchronization::CAutoLock hold(&m_lock);
        if (m_spare.size() < kSpareBuffers)
            m_spare.push_back(std::move(item.bytes));
    }
    return true;
}

} // namespace JNI
