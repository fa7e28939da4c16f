#include "quillmar/media_length.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

std::uint32_t Le32(const std::string& b, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

double WaveSeconds(const std::string& b)
{
    std::uint32_t byteRate = 0;
    std::uint32_t sampleRate = 0;
    double fromFact = -1.0;
    double fromData = -1.0;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = Le32(b, at + 4);
        const std::string id = b.substr(at, 4);
        const std::size_t body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= b.size()) {
            sampleRate = Le32(b, body + 4);
            byteRate = Le32(b, body + 8);
        } else if (id == "fact" && size >= 4 && body + 4 <= b.size() && sampleRate != 0) {
            fromFact = static_cast<double>(Le32(b, body)) / sampleRate;
        } else if (id == "data" && byteRate != 0) {
            const std::size_t held = b.size() - body < size ? b.size() - body : size;
            fromData = static_cast<double>(held) / byteRate;
        }
        at = body + size + (size & 1);
    }
    return fromFact >= 0.0 ? fromFact : fromData;
}

double Mp3Seconds(const std::string& b)
{
    static const int kbpsMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kbpsMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    double seconds = 0.0;
    int frames = 0;
    std::size_t at = 0;
    if (b.size() >= 10 && b.compare(0, 3, "ID3") == 0) {
        const std::size_t tag = (static_cast<std::size_t>(b[6] & 0x7F) << 21) | ((b[7] & 0x7F) << 14) |
                                ((b[8] & 0x7F) << 7) | (b[9] & 0x7F);
        at = 10 + tag;
    }
    while (at + 4 <= b.size()) {
        const unsigned char* h = reinterpret_cast<const unsigned char*>(b.data() + at);
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
        const std::size_t length = static_cast<std::size_t>(samples / 8 * kbps * 1000 / rate + ((h[2] >> 1) & 1));
        const bool mono = (h[3] >> 6) == 3;
        const std::size_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        const std::size_t tagAt = at + 4 + side;
        const bool infoFrame = frames == 0 && tagAt + 4 <= b.size() &&
                               (b.compare(tagAt, 4, "Xing") == 0 || b.compare(tagAt, 4, "Info") == 0);
        if (!infoFrame)
            seconds += static_cast<double>(samples) / rate;
        ++frames;
        at += length;
    }
    return frames > 0 ? seconds : -1.0;
}

}  // namespace

double CMediaLength::OfBytes(const std::string& bytes)
{
    if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0)
        return WaveSeconds(bytes);
    return Mp3Seconds(bytes);
}

double CMediaLength::Seconds(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1.0;
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    ::CloseHandle(file);
    return OfBytes(bytes);
}
