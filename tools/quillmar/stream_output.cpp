#include "quillmar/stream_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

constexpr WORD kMp3Tag = 0x55;
constexpr std::uint32_t kUnknownLength = 0xFFFFFFFF;

void PutUint32(std::string& text, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        text.push_back(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

struct CStreamOutput::CState {
    HANDLE output = nullptr;
    std::size_t budget = 0;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> waiting;
    std::size_t waitingBytes = 0;
    bool ended = false;
    bool writing = false;     // the writer holds a chunk that it has taken but not yet written
    bool finished = false;    // the writer has returned
    HRESULT failure = S_OK;
    std::uint64_t written = 0;
    unsigned long droppedChunks = 0;
    std::uint64_t droppedBytes = 0;

    void Add(std::string bytes, bool counted)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (ended || FAILED(failure))
            return;
        if (counted && !waiting.empty() && waitingBytes + bytes.size() > budget) {
            ++droppedChunks;
            droppedBytes += bytes.size();
            return;
        }
        waitingBytes += bytes.size();
        waiting.push_back(std::move(bytes));
        changed.notify_all();
    }

    void Run()
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [this] { return !waiting.empty() || ended; });
            if (waiting.empty())
                break;
            std::string bytes = std::move(waiting.front());
            waiting.pop_front();
            waitingBytes -= bytes.size();
            writing = true;
            hold.unlock();
            HRESULT result = S_OK;
            std::size_t done = 0;
            while (done < bytes.size() && SUCCEEDED(result)) {
                DWORD count = 0;
                if (!::WriteFile(output, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &count, nullptr))
                    result = HRESULT_FROM_WIN32(::GetLastError());
                done += count;
            }
            hold.lock();
            writing = false;
            written += done;
            if (FAILED(result)) {
                failure = result;
                waiting.clear();
                waitingBytes = 0;
                break;
            }
            changed.notify_all();
        }
        finished = true;
        changed.notify_all();
    }
};

CStreamOutput::CStreamOutput(HANDLE output, std::size_t budgetBytes) : m_state(std::make_shared<CState>())
{
    m_state->output = output;
    m_state->budget = budgetBytes;
    // The thread holds the state too: one left blocked in a pipe at the process's end outlives this object.
    auto* held = new std::shared_ptr<CState>(m_state);
    m_thread = ::CreateThread(nullptr, 0, &CStreamOutput::WriterThread, held, 0, nullptr);
    if (m_thread == nullptr) {
        delete held;
        std::lock_guard<std::mutex> hold(m_state->lock);
        m_state->failure = HRESULT_FROM_WIN32(::GetLastError());
        m_state->finished = true;
    }
}

DWORD WINAPI CStreamOutput::WriterThread(void* parameter)
{
    std::unique_ptr<std::shared_ptr<CState>> state(static_cast<std::shared_ptr<CState>*>(parameter));
    (*state)->Run();
    return 0;
}

CStreamOutput::~CStreamOutput()
{
    End();
    if (m_thread != nullptr) {
        bool finished;
        {
            std::lock_guard<std::mutex> hold(m_state->lock);
            finished = m_state->finished;
        }
        if (finished)
            ::WaitForSingleObject(m_thread, INFINITE);
        ::CloseHandle(m_thread);
    }
}

std::string CStreamOutput::WaveHeader(const std::string& waveFormat)
{
    std::string header = "RIFF";
    PutUint32(header, kUnknownLength);
    header += "WAVEfmt ";
    PutUint32(header, static_cast<std::uint32_t>(waveFormat.size()));
    header += waveFormat;
    if (waveFormat.size() % 2 != 0)
        header.push_back('\0');
    header += "data";
    PutUint32(header, kUnknownLength);
    return header;
}

void CStreamOutput::Format(const std::string& waveFormat)
{
    const bool mp3 = waveFormat.size() >= sizeof(WORD) &&
                     (static_cast<unsigned char>(waveFormat[0]) | static_cast<unsigned char>(waveFormat[1]) << 8) == kMp3Tag;
    if (!mp3)
        m_state->Add(WaveHeader(waveFormat), false);
}

void CStreamOutput::Data(const std::string& bytes)
{
    m_state->Add(bytes, true);
}

void CStreamOutput::End()
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->ended = true;
    m_state->changed.notify_all();
}

bool CStreamOutput::WaitWritten(unsigned timeoutMs)
{
    std::unique_lock<std::mutex> hold(m_state->lock);
    return m_state->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] {
        return m_state->finished || FAILED(m_state->failure);
    }) && SUCCEEDED(m_state->failure);
}

bool CStreamOutput::Ended() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->ended;
}

HRESULT CStreamOutput::WriteFailure() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->failure;
}

std::uint64_t CStreamOutput::BytesWritten() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->written;
}

unsigned long CStreamOutput::DroppedChunks() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->droppedChunks;
}

std::uint64_t CStreamOutput::DroppedBytes() const
{
    std::lock_guard<std::mutex> hold(m_state->lock);
    return m_state->droppedBytes;
}
