#include "mpeg2_audio_encoder/encoder_test_support.h"

#include "filters/mpeg2_audio_encoder/frame_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace EncoderTest {

WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

CTestEncoder::CTestEncoder()
{
    const HRESULT created = COM::CreateObject(&CEncoder::CreateInstance, nullptr, MPEG2AudioEncoder::IID_IEncoder,
                                              reinterpret_cast<void**>(&encoder));
    EXPECT_EQ(created, S_OK);
    if (encoder.IsValid()) {
        EXPECT_EQ(encoder.QueryInterface(MPEG2AudioEncoder::IID_IEncoderSettings, reinterpret_cast<void**>(&settings)),
                  S_OK);
    }
}

CEncoder& CTestEncoder::Object() const
{
    return *static_cast<CEncoder*>(encoder.p);
}

std::vector<short> Tone(DWORD rate, WORD channels, size_t sampleFrames, double leftHz, double rightHz)
{
    const double pi = 3.14159265358979323846;
    std::vector<short> pcm(sampleFrames * channels);
    for (size_t i = 0; i < sampleFrames; ++i) {
        const double t = static_cast<double>(i) / rate;
        pcm[i * channels] = static_cast<short>(16383.0 * std::sin(2 * pi * leftHz * t));
        if (channels == 2)
            pcm[i * 2 + 1] = static_cast<short>(16383.0 * std::sin(2 * pi * rightHz * t));
    }
    return pcm;
}

namespace {

void Drain(IEncoder* encoder, bool byFrames, std::vector<BYTE>& out)
{
    for (;;) {
        BYTE* data = nullptr;
        ULONG size = 0;
        if (byFrames) {
            ASSERT_EQ(encoder->GetFrame(&data, &size), S_OK);
        } else {
            ULONG aligned = 0;
            ASSERT_EQ(encoder->GetBlockAligned(1, &data, &aligned, &size), S_OK);
            ASSERT_EQ(aligned, size);
        }
        if (size == 0)
            return;
        out.insert(out.end(), data, data + size);
        if (!byFrames)
            return;
    }
}

} // namespace

std::vector<BYTE> EncodeAll(IEncoder* encoder, const std::vector<short>& pcm, bool byFrames, ULONG bytesPerCall)
{
    std::vector<BYTE> out;
    const BYTE* const bytes = reinterpret_cast<const BYTE*>(pcm.data());
    const size_t total = pcm.size() * sizeof(short);
    for (size_t chunk = 0; chunk < total; chunk += bytesPerCall) {
        const ULONG chunkSize = static_cast<ULONG>(std::min<size_t>(bytesPerCall, total - chunk));
        ULONG offset = 0;
        while (offset < chunkSize) {
            ULONG consumed = 0;
            EXPECT_EQ(encoder->Encode(reinterpret_cast<const short*>(bytes + chunk + offset), chunkSize - offset,
                                      &consumed),
                      S_OK);
            if (consumed == 0)
                break;
            Drain(encoder, byFrames, out);
            offset += consumed;
        }
    }
    EXPECT_EQ(encoder->Flush(), S_OK);
    Drain(encoder, byFrames, out);
    return out;
}

std::vector<int> FrameChain(const BYTE* data, size_t size)
{
    std::vector<int> lengths;
    size_t position = 0;
    while (position < size) {
        if (size - position < 4)
            return {};
        const int length = MPEG2AudioEncoder::GetFrameLength(data + position);
        if (length <= 0 || position + length > size)
            return {};
        lengths.push_back(length);
        position += length;
    }
    return lengths;
}

CEncoderLogReader::CEncoderLogReader() : m_start(ReadAll().size()) {}

std::wstring CEncoderLogReader::ReadAll()
{
    const HANDLE file = ::CreateFileW(L"MPEG2AudioEncoder.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::wstring text;
    wchar_t buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read / sizeof(wchar_t));
    ::CloseHandle(file);
    return text;
}

std::vector<std::wstring> CEncoderLogReader::NewLines()
{
    const std::wstring text = ReadAll().substr(m_start);
    std::vector<std::wstring> messages;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(begin, end - begin);
        // "| tid |  hh:mm:ss.fffffff | message": the message follows the second column separator.
        const size_t first = line.find(L" | ");
        const size_t second = first == std::wstring::npos ? first : line.find(L" | ", first + 3);
        messages.push_back(second == std::wstring::npos ? line : line.substr(second + 3));
        begin = end + 2;
    }
    return messages;
}

bool WriteFileBytes(const wchar_t* path, const std::vector<BYTE>& bytes)
{
    const HANDLE file =
        ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = bytes.empty() ||
                    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

std::vector<BYTE> ReadFileBytes(const wchar_t* path)
{
    std::vector<BYTE> bytes;
    const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    BYTE buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    ::CloseHandle(file);
    return bytes;
}

} // namespace EncoderTest
