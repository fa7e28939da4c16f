#include "quillmar/media_length.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Random access to the bytes of a file (or of memory) through one window of a bounded size: a byte is
// read from the source only when it is outside the window.
class CByteWindow {
public:
    // Fills `out` with up to `count` bytes from `offset`; gives the number read.
    using Reader = std::function<std::size_t(std::uint64_t offset, unsigned char* out, std::size_t count)>;

    CByteWindow(std::uint64_t size, Reader reader) : m_size(size), m_reader(std::move(reader)) {}

    std::uint64_t Size() const { return m_size; }

    // The `count` bytes at `at` (count at most kWindow); null when the source ends before them.
    const unsigned char* At(std::uint64_t at, std::size_t count)
    {
        if (count > kWindow || at > m_size || m_size - at < count)
            return nullptr;
        if (at < m_start || at + count > m_start + m_bytes.size()) {
            m_start = at;
            m_bytes.resize(kWindow);
            m_bytes.resize(m_reader(at, m_bytes.data(), kWindow));
            if (m_bytes.size() < count)
                return nullptr;
        }
        return m_bytes.data() + (at - m_start);
    }

    bool Equals(std::uint64_t at, const char* text, std::size_t count)
    {
        const unsigned char* bytes = At(at, count);
        return bytes != nullptr && std::memcmp(bytes, text, count) == 0;
    }

private:
    static constexpr std::size_t kWindow = 65536;
    std::uint64_t m_size;
    Reader m_reader;
    std::uint64_t m_start = 0;
    std::vector<unsigned char> m_bytes;
};

std::uint32_t Le32(const unsigned char* b)
{
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

double WaveSeconds(CByteWindow& b)
{
    std::uint32_t byteRate = 0;
    std::uint32_t sampleRate = 0;
    double fromFact = -1.0;
    double fromData = -1.0;
    for (std::uint64_t at = 12; at + 8 <= b.Size();) {
        const unsigned char* header = b.At(at, 8);
        if (header == nullptr)
            break;
        const std::uint32_t size = Le32(header + 4);
        const bool fmt = std::memcmp(header, "fmt ", 4) == 0;
        const bool fact = std::memcmp(header, "fact", 4) == 0;
        const bool data = std::memcmp(header, "data", 4) == 0;
        const std::uint64_t body = at + 8;
        if (fmt && size >= 16) {
            if (const unsigned char* format = b.At(body, 16)) {
                sampleRate = Le32(format + 4);
                byteRate = Le32(format + 8);
            }
        } else if (fact && size >= 4 && sampleRate != 0) {
            if (const unsigned char* samples = b.At(body, 4))
                fromFact = static_cast<double>(Le32(samples)) / sampleRate;
        } else if (data && byteRate != 0) {
            const std::uint64_t held = b.Size() - body < size ? b.Size() - body : size;
            fromData = static_cast<double>(held) / byteRate;
        }
        at = body + size + (size & 1);
    }
    return fromFact >= 0.0 ? fromFact : fromData;
}

double Mp3Seconds(CByteWindow& b)
{
    static const int kbpsMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kbpsMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    double seconds = 0.0;
    int frames = 0;
    std::uint64_t at = 0;
    if (b.Equals(0, "ID3", 3)) {
        if (const unsigned char* id3 = b.At(0, 10)) {
            const std::uint64_t tag = (static_cast<std::uint64_t>(id3[6] & 0x7F) << 21) | ((id3[7] & 0x7F) << 14) |
                                      ((id3[8] & 0x7F) << 7) | (id3[9] & 0x7F);
            at = 10 + tag;
        }
    }
    while (at + 4 <= b.Size()) {
        const unsigned char* h = b.At(at, 4);
        if (h == nullptr)
            break;
        const int version = (h[1] >> 3) & 3;      // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int layer = (h[1] >> 1) & 3;        // 1 Layer III
        const int bitrateIndex = h[2] >> 4;
        const int rateIndex = (h[2] >> 2) & 3;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 0 ||
            bitrateIndex == 15 || rateIndex == 3) {
            ++at;
            continue;
        }
        const bool mpeg1 = version == 3;
        const int rate = rates[mpeg1 ? 0 : version == 2 ? 1 : 2][rateIndex];
        const int kbps = (mpeg1 ? kbpsMpeg1 : kbpsMpeg2)[bitrateIndex];
        const int samples = mpeg1 ? 1152 : 576;
        const std::uint64_t length = static_cast<std::uint64_t>(samples / 8 * kbps * 1000 / rate + ((h[2] >> 1) & 1));
        const bool mono = (h[3] >> 6) == 3;
        const std::uint64_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        const std::uint64_t tagAt = at + 4 + side;
        const bool infoFrame = frames == 0 && (b.Equals(tagAt, "Xing", 4) || b.Equals(tagAt, "Info", 4));
        if (!infoFrame)
            seconds += static_cast<double>(samples) / rate;
        ++frames;
        at += length;
    }
    return frames > 0 ? seconds : -1.0;
}

double Measure(CByteWindow& bytes)
{
    if (bytes.Equals(0, "RIFF", 4) && bytes.Equals(8, "WAVE", 4))
        return WaveSeconds(bytes);
    return Mp3Seconds(bytes);
}

}  // namespace

double CMediaLength::OfBytes(const std::string& bytes)
{
    CByteWindow window(bytes.size(), [&bytes](std::uint64_t offset, unsigned char* out, std::size_t count) {
        const std::size_t available = offset < bytes.size() ? bytes.size() - static_cast<std::size_t>(offset) : 0;
        const std::size_t taken = available < count ? available : count;
        std::memcpy(out, bytes.data() + offset, taken);
        return taken;
    });
    return Measure(window);
}

double CMediaLength::Seconds(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1.0;
    LARGE_INTEGER size{};
    double seconds = -1.0;
    if (::GetFileSizeEx(file, &size)) {
        CByteWindow window(static_cast<std::uint64_t>(size.QuadPart),
                           [file](std::uint64_t offset, unsigned char* out, std::size_t count) {
                               LARGE_INTEGER position{};
                               position.QuadPart = static_cast<LONGLONG>(offset);
                               std::size_t total = 0;
                               if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
                                   return total;
                               while (total < count) {
                                   DWORD read = 0;
                                   if (!::ReadFile(file, out + total, static_cast<DWORD>(count - total), &read, nullptr) ||
                                       read == 0)
                                       break;
                                   total += read;
                               }
                               return total;
                           });
        seconds = Measure(window);
    }
    ::CloseHandle(file);
    return seconds;
}
