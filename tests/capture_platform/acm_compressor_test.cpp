// The ACM compressors as the capture graph finds them (the filter mapper's search for the tag's
// output type, kept only when the compressor category lists the same friendly name) and what they
// make of a tone: whole blocks of the tag's format that the ACM decodes back close to the input.
#include "capture_platform.h"
#include "collecting_sink.h"
#include "test_support.h"

#include "pcm_signal.h"
#include "pcm_source.h"

#include <gtest/gtest.h>

#include <msacm.h>
#include <uuids.h>

#include <cmath>

using namespace CapturePlatformTest;

namespace {

GUID SubtypeOfTag(WORD tag)
{
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = tag;
    return subtype;
}

// The capture graph's choice: the first candidate of the mapper's search whose friendly name the
// compressor category lists as well.
COM::TPtr<IMoniker> ChosenCompressor(WORD tag, std::vector<std::wstring>* candidateNames)
{
    std::vector<std::wstring> compressorNames;
    for (const COM::TPtr<IMoniker>& moniker : CategoryMonikers(CLSID_AudioCompressorCategory, 0x10))
        compressorNames.push_back(MonikerProperty(moniker, L"FriendlyName"));
    COM::TPtr<IMoniker> chosen;
    for (const COM::TPtr<IMoniker>& moniker : MatchingFilterMonikers(SubtypeOfTag(tag))) {
        const std::wstring name = MonikerProperty(moniker, L"FriendlyName");
        candidateNames->push_back(name);
        if (chosen.IsNull() && std::find(compressorNames.begin(), compressorNames.end(), name) != compressorNames.end())
            chosen = moniker;
    }
    return chosen;
}

// 16-bit mono PCM decoded from the compressed bytes by the ACM.
std::vector<short> Decode(const std::vector<BYTE>& formatBytes, const std::vector<BYTE>& data)
{
    const auto* source = reinterpret_cast<const WAVEFORMATEX*>(formatBytes.data());
    WAVEFORMATEX target = PcmFormat(source->nSamplesPerSec, source->nChannels, 16);
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(MMSYSERR_NOERROR, ::acmStreamOpen(&stream, nullptr, const_cast<WAVEFORMATEX*>(source), &target, nullptr,
                                                0, 0, ACM_STREAMOPENF_NONREALTIME));
    if (stream == nullptr)
        return {};
    DWORD targetBytes = 0;
    EXPECT_EQ(MMSYSERR_NOERROR,
              ::acmStreamSize(stream, static_cast<DWORD>(data.size()), &targetBytes, ACM_STREAMSIZEF_SOURCE));
    std::vector<BYTE> input(data);
    std::vector<short> output(targetBytes / 2 + 1);
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof(header);
    header.pbSrc = input.data();
    header.cbSrcLength = static_cast<DWORD>(input.size());
    header.pbDst = reinterpret_cast<BYTE*>(output.data());
    header.cbDstLength = static_cast<DWORD>(output.size() * 2);
    EXPECT_EQ(MMSYSERR_NOERROR, ::acmStreamPrepareHeader(stream, &header, 0));
    EXPECT_EQ(MMSYSERR_NOERROR,
              ::acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END));
    EXPECT_EQ(input.size(), header.cbSrcLengthUsed);
    output.resize(header.cbDstLengthUsed / 2);
    ::acmStreamUnprepareHeader(stream, &header, 0);
    ::acmStreamClose(stream, 0);
    return output;
}

double Rms(const short* samples, size_t count)
{
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

// The share of the signal's power at the frequency (Goertzel), between 0 and 1.
double PowerShareAt(const short* samples, size_t count, double frequency, double rate)
{
    const double w = 2.0 * 3.14159265358979323846 * frequency / rate;
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = samples[i] + 2.0 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
    const double total = Rms(samples, count) * Rms(samples, count) * count;
    return total > 0.0 ? 2.0 * power / (total * count) : 0.0;
}

struct Case {
    WORD tag;
    DWORD rate;
    double minimumSnrDb; // sample by sample; 0: lossy with delay, only level and frequency are checked
};

class AcmCompressor : public ::testing::TestWithParam<Case> {
protected:
    CComThread m_com;
};

TEST_P(AcmCompressor, IsFoundByItsOutputTypeUnderItsCategoryName)
{
    const CapturePlatform::CompressorClass* const expected = CapturePlatform::FindCompressor(GetParam().tag);
    ASSERT_NE(nullptr, expected);
    std::vector<std::wstring> candidates;
    COM::TPtr<IMoniker> chosen = ChosenCompressor(GetParam().tag, &candidates);
    ASSERT_TRUE(chosen.IsValid());
    EXPECT_EQ(expected->name, MonikerProperty(chosen, L"FriendlyName"));
    // Registered once: the mapper lists it once.
    EXPECT_EQ(1, std::count(candidates.begin(), candidates.end(), std::wstring(expected->name)));
}

TEST_P(AcmCompressor, ConvertsAToneIntoWholeBlocksThatDecodeBack)
{
    const Case& c = GetParam();
    std::vector<std::wstring> candidates;
    COM::TPtr<IMoniker> moniker = ChosenCompressor(c.tag, &candidates);
    ASSERT_TRUE(moniker.IsValid());

    PcmSource::Settings settings;
    settings.frequency = 1000.0;
    settings.amplitude = 0.5;
    settings.sampleRate = c.rate;
    settings.length = 10000000; // one second
    settings.bufferMilliseconds = 40;
    HRESULT hr = S_OK;
    PcmSource::CFilter* const source = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_NE(nullptr, source);
    CCollectingSink* const sink = CCollectingSink::Create();
    ASSERT_NE(nullptr, sink);
    {
        COM::TPtr<IGraphBuilder> graph = CreateGraph();
        ASSERT_TRUE(graph.IsValid());
        ASSERT_EQ(S_OK, graph->AddFilter(source->Interface(), L"Source"));
        COM::TPtr<IBaseFilter> compressor = AddFromMoniker(graph, moniker);
        ASSERT_TRUE(compressor.IsValid());
        ASSERT_EQ(S_OK, graph->AddFilter(sink->Interface(), L"Sink"));
        ASSERT_EQ(S_OK, ConnectDirect(graph, source->Output()->PinInterface(), FirstPin(compressor, PINDIR_INPUT)));
        COM::TPtr<IPin> output = FirstPin(compressor, PINDIR_OUTPUT);
        ASSERT_EQ(S_OK, ConnectDirect(graph, output, sink->InputPin()));

        AM_MEDIA_TYPE type = {};
        ASSERT_EQ(S_OK, output->ConnectionMediaType(&type));
        EXPECT_EQ(MEDIATYPE_Audio, type.majortype);
        EXPECT_EQ(SubtypeOfTag(c.tag), type.subtype);
        EXPECT_EQ(FORMAT_WaveFormatEx, type.formattype);
        ASSERT_GE(type.cbFormat, sizeof(WAVEFORMATEX));
        const std::vector<BYTE> format(type.pbFormat, type.pbFormat + type.cbFormat);
        ::CoTaskMemFree(type.pbFormat);
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(format.data());
        EXPECT_EQ(c.tag, wfx->wFormatTag);
        EXPECT_EQ(1, wfx->nChannels);
        EXPECT_EQ(c.rate, wfx->nSamplesPerSec);
        if (c.tag != WAVE_FORMAT_PCM) {
            EXPECT_EQ(sizeof(WAVEFORMATEX) + wfx->cbSize, format.size());
        }

        COM::TPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(sink->WaitUntil([](const CCollection& collected) { return collected.endOfStream > 0; }));
        ASSERT_TRUE(SUCCEEDED(control->Stop()));

        const CCollection collected = sink->Collected();
        ASSERT_FALSE(collected.samples.empty());
        REFERENCE_TIME next = 0;
        for (const CCollectedSample& sample : collected.samples) {
            EXPECT_EQ(0, sample.length % wfx->nBlockAlign) << "whole blocks";
            EXPECT_EQ(next, sample.start);
            next = sample.stop;
        }
        EXPECT_GE(next, settings.length);

        const std::vector<short> decoded = Decode(format, collected.bytes);
        const std::vector<BYTE> inputBytes = PcmSource::CSignal::Generate(settings, PcmSource::TotalFrames(settings));
        const auto* input = reinterpret_cast<const short*>(inputBytes.data());
        const size_t count = inputBytes.size() / 2;
        ASSERT_GE(decoded.size(), count);
        const double inputRms = Rms(input, count);
        EXPECT_NEAR(1.0, Rms(decoded.data(), count) / inputRms, 0.2);
        EXPECT_GT(PowerShareAt(decoded.data(), count, 1000.0, c.rate), 0.8);
        if (c.minimumSnrDb > 0.0) {
            double noise = 0.0;
            for (size_t i = 0; i < count; ++i)
                noise += std::pow(static_cast<double>(decoded[i]) - input[i], 2);
            const double snr = 10.0 * std::log10(inputRms * inputRms * count / std::max(noise, 1.0));
            EXPECT_GE(snr, c.minimumSnrDb);
        }
    }
    sink->Interface()->Release();
    source->Interface()->Release();
}

INSTANTIATE_TEST_SUITE_P(Tags, AcmCompressor,
                         ::testing::Values(Case{WAVE_FORMAT_PCM, 22050, 90.0}, Case{WAVE_FORMAT_IMA_ADPCM, 22050, 20.0},
                                           Case{WAVE_FORMAT_ALAW, 8000, 30.0}, Case{WAVE_FORMAT_MULAW, 8000, 30.0},
                                           Case{WAVE_FORMAT_GSM610, 8000, 0.0}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             switch (info.param.tag) {
                             case WAVE_FORMAT_PCM: return std::string("Pcm");
                             case WAVE_FORMAT_IMA_ADPCM: return std::string("ImaAdpcm");
                             case WAVE_FORMAT_ALAW: return std::string("ALaw");
                             case WAVE_FORMAT_MULAW: return std::string("MuLaw");
                             default: return std::string("Gsm610");
                             }
                         });

} // namespace
