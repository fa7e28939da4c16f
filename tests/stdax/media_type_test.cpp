// The media type record (DirectShow::CMediaType and its validating operations) and the framework's
// own operations on negotiated types.
#include "stdax/media_type_operations.h"
#include "support/media_type.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <cstring>

using StdaxTest::CCountedUnknown;
using StdaxTest::MakeAudioType;
using StdaxTest::SampleRateOf;

namespace {

bool IsAllZero(const AM_MEDIA_TYPE& mt)
{
    const BYTE* const bytes = reinterpret_cast<const BYTE*>(&mt);
    for (size_t i = 0; i < sizeof(mt); ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

// A record with a format block of the given bytes and a reference on unknown (when given).
void MakeRecord(AM_MEDIA_TYPE* mt, const char* format, IUnknown* unknown)
{
    std::memset(mt, 0, sizeof(*mt));
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->formattype = FORMAT_WaveFormatEx;
    if (format != nullptr) {
        mt->cbFormat = static_cast<ULONG>(std::strlen(format) + 1);
        mt->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(mt->cbFormat));
        std::memcpy(mt->pbFormat, format, mt->cbFormat);
    }
    if (unknown != nullptr) {
        unknown->AddRef();
        mt->pUnk = unknown;
    }
}

} // namespace

TEST(MediaTypeRecord, FreeClearsTheRecordAndRefusesBrokenOnesUntouched)
{
    AM_MEDIA_TYPE mt = {};
    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&mt));
    EXPECT_TRUE(IsAllZero(mt));

    CCountedUnknown unknown;
    MakeRecord(&mt, "format", &unknown);
    EXPECT_EQ(2, unknown.m_references);
    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&mt));
    EXPECT_TRUE(IsAllZero(mt));
    EXPECT_EQ(1, unknown.m_references);

    // A block announced with length 0 is refused, and pUnk is not released: the record keeps
    // everything, so a later free cannot release it twice.
    BYTE block[4] = {};
    MakeRecord(&mt, nullptr, &unknown);
    mt.pbFormat = block;
    mt.cbFormat = 0;
    EXPECT_EQ(E_INVALIDARG, DirectShow::FreeMediaType(&mt));
    EXPECT_EQ(block, mt.pbFormat);
    EXPECT_EQ(&unknown, mt.pUnk);
    EXPECT_EQ(2, unknown.m_references);

    // A block that is not there.
    mt.pbFormat = reinterpret_cast<BYTE*>(static_cast<UINT_PTR>(0x10));
    mt.cbFormat = 16;
    EXPECT_EQ(E_POINTER, DirectShow::FreeMediaType(&mt));
    EXPECT_EQ(2, unknown.m_references);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&mt));
    EXPECT_EQ(1, unknown.m_references);

    EXPECT_EQ(E_POINTER, DirectShow::FreeMediaType(nullptr));
}

TEST(MediaTypeRecord, CopyDuplicatesTheFormatBlockAndReferencesPUnk)
{
    CCountedUnknown unknown;
    AM_MEDIA_TYPE source;
    MakeRecord(&source, "wave format", &unknown);
    AM_MEDIA_TYPE target;
    MakeRecord(&target, "old block", nullptr);

    ASSERT_EQ(S_OK, DirectShow::CopyMediaType(&target, &source));
    EXPECT_EQ(MEDIASUBTYPE_PCM, target.subtype);
    EXPECT_EQ(source.cbFormat, target.cbFormat);
    ASSERT_NE(source.pbFormat, target.pbFormat);
    EXPECT_STREQ("wave format", reinterpret_cast<const char*>(target.pbFormat));
    EXPECT_EQ(3, unknown.m_references);

    // The copy is independent of its source.
    target.pbFormat[0] = 'W';
    EXPECT_EQ('w', source.pbFormat[0]);

    EXPECT_EQ(E_INVALIDARG, DirectShow::CopyMediaType(&source, &source));
    EXPECT_EQ(E_POINTER, DirectShow::CopyMediaType(&target, nullptr));
    EXPECT_EQ(E_POINTER, DirectShow::CopyMediaType(nullptr, &source));

    AM_MEDIA_TYPE broken = source;
    broken.cbFormat = 0;
    EXPECT_EQ(VFW_E_INVALID_MEDIA_TYPE, DirectShow::CopyMediaType(&target, &broken));

    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&target));
    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&source));
    EXPECT_EQ(1, unknown.m_references);
}

TEST(MediaTypeRecord, CopyFromARecordSharingTheTargetsBlockAndLastReference)
{
    // Counts its references and remembers whether they ever ran out (where a real object dies).
    struct CLastReference : CCountedUnknown {
        ULONG STDMETHODCALLTYPE Release() override
        {
            const ULONG left = CCountedUnknown::Release();
            ranOut = ranOut || left == 0;
            return left;
        }
        bool ranOut = false;
    } unknown;
    unknown.m_references = 0;
    AM_MEDIA_TYPE target;
    MakeRecord(&target, "shared wave format", &unknown);
    const AM_MEDIA_TYPE view = target;  // the same block and the target's only reference

    ASSERT_EQ(S_OK, DirectShow::CopyMediaType(&target, &view));
    EXPECT_FALSE(unknown.ranOut);
    EXPECT_EQ(1, unknown.m_references);
    EXPECT_STREQ("shared wave format", reinterpret_cast<const char*>(target.pbFormat));
    EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&target));
}

TEST(MediaTypeRecord, DeleteFreesContentsAndRecord)
{
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(S_FALSE, DirectShow::DeleteMediaType(&mt));
    EXPECT_EQ(E_POINTER, DirectShow::DeleteMediaType(nullptr));

    CCountedUnknown unknown;
    mt = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    MakeRecord(mt, "block", &unknown);
    EXPECT_EQ(S_OK, DirectShow::DeleteMediaType(&mt));
    EXPECT_EQ(nullptr, mt);
    EXPECT_EQ(1, unknown.m_references);
}

TEST(MediaTypeRecord, HolderStartsEmptyCopiesBothWaysAndFreesOnDestruction)
{
    CCountedUnknown unknown;
    {
        DirectShow::CMediaType held;
        EXPECT_TRUE(IsAllZero(static_cast<const AM_MEDIA_TYPE&>(held)));

        AM_MEDIA_TYPE source;
        MakeRecord(&source, "format", &unknown);
        ASSERT_EQ(S_OK, held.CopyFrom(&source));
        EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&source));
        EXPECT_EQ(2, unknown.m_references);

        AM_MEDIA_TYPE out = {};
        ASSERT_EQ(S_OK, held.CopyTo(&out));
        EXPECT_STREQ("format", reinterpret_cast<const char*>(out.pbFormat));
        EXPECT_EQ(3, unknown.m_references);
        EXPECT_EQ(S_OK, DirectShow::FreeMediaType(&out));
    }
    EXPECT_EQ(1, unknown.m_references);
}

TEST(FrameworkMediaTypes, InitialiseCopyAssignAndDelete)
{
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0xCD, sizeof(mt));
    stdax::InitializeMediaType(&mt);
    EXPECT_EQ(TRUE, mt.bFixedSizeSamples);
    EXPECT_EQ(1u, mt.lSampleSize);
    EXPECT_EQ(GUID_NULL, mt.majortype);
    EXPECT_EQ(nullptr, mt.pbFormat);

    AM_MEDIA_TYPE pcm;
    MakeAudioType(&pcm, MEDIASUBTYPE_PCM, 22050);
    CCountedUnknown unknown;
    pcm.pUnk = &unknown;
    unknown.AddRef();

    AM_MEDIA_TYPE copy;
    ASSERT_EQ(S_OK, stdax::CopyMediaTypeContents(&copy, &pcm));
    EXPECT_NE(pcm.pbFormat, copy.pbFormat);
    EXPECT_EQ(22050u, SampleRateOf(copy));
    EXPECT_EQ(3, unknown.m_references);

    // Assigning replaces what the target held; assigning a record to itself keeps it.
    AM_MEDIA_TYPE flt;
    MakeAudioType(&flt, MEDIASUBTYPE_IEEE_FLOAT, 48000);
    ASSERT_EQ(S_OK, stdax::AssignMediaType(&copy, &flt));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, copy.subtype);
    EXPECT_EQ(48000u, SampleRateOf(copy));
    EXPECT_EQ(2, unknown.m_references);
    BYTE* const block = copy.pbFormat;
    EXPECT_EQ(S_OK, stdax::AssignMediaType(&copy, &copy));
    EXPECT_EQ(block, copy.pbFormat);

    // A record that announces a block it does not have is not copied as if it had one.
    AM_MEDIA_TYPE broken = flt;
    broken.pbFormat = nullptr;
    EXPECT_EQ(VFW_E_INVALID_MEDIA_TYPE, stdax::AssignMediaType(&copy, &broken));
    EXPECT_EQ(0u, copy.cbFormat);
    EXPECT_EQ(nullptr, copy.pbFormat);

    auto* record = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ASSERT_EQ(S_OK, stdax::CopyMediaTypeContents(record, &pcm));
    stdax::DeleteMediaTypeRecord(record);
    stdax::DeleteMediaTypeRecord(nullptr);
    EXPECT_EQ(2, unknown.m_references);

    stdax::FreeMediaTypeContents(&pcm);
    EXPECT_EQ(nullptr, pcm.pUnk);
    EXPECT_EQ(nullptr, pcm.pbFormat);
    EXPECT_EQ(1, unknown.m_references);
    stdax::FreeMediaTypeContents(&flt);
    stdax::FreeMediaTypeContents(&copy);
}

TEST(FrameworkMediaTypes, PartialMatchAndPartialSpecification)
{
    AM_MEDIA_TYPE candidate;
    MakeAudioType(&candidate, MEDIASUBTYPE_PCM, 44100);

    AM_MEDIA_TYPE pattern;
    stdax::InitializeMediaType(&pattern);
    EXPECT_TRUE(stdax::IsMediaTypePartiallySpecified(&pattern));
    EXPECT_TRUE(stdax::MediaTypeMatchesPartially(&pattern, &candidate)) << "an empty pattern fits anything";

    pattern.majortype = MEDIATYPE_Video;
    EXPECT_FALSE(stdax::MediaTypeMatchesPartially(&pattern, &candidate));
    pattern.majortype = MEDIATYPE_Audio;
    pattern.subtype = MEDIASUBTYPE_IEEE_FLOAT;
    EXPECT_FALSE(stdax::MediaTypeMatchesPartially(&pattern, &candidate));
    pattern.subtype = MEDIASUBTYPE_PCM;
    EXPECT_TRUE(stdax::MediaTypeMatchesPartially(&pattern, &candidate)) << "no format type: any format";
    EXPECT_TRUE(stdax::IsMediaTypePartiallySpecified(&pattern));

    // With a format type the format must be the same, byte for byte.
    AM_MEDIA_TYPE same;
    MakeAudioType(&same, MEDIASUBTYPE_PCM, 44100);
    AM_MEDIA_TYPE other;
    MakeAudioType(&other, MEDIASUBTYPE_PCM, 8000);
    EXPECT_FALSE(stdax::IsMediaTypePartiallySpecified(&same));
    EXPECT_TRUE(stdax::MediaTypeMatchesPartially(&same, &candidate));
    EXPECT_FALSE(stdax::MediaTypeMatchesPartially(&other, &candidate));
    other.formattype = FORMAT_VideoInfo;
    EXPECT_FALSE(stdax::MediaTypeMatchesPartially(&other, &candidate));

    // A format type without a block matches candidates of that format type without one.
    AM_MEDIA_TYPE noBlock = pattern;
    noBlock.formattype = FORMAT_WaveFormatEx;
    EXPECT_FALSE(stdax::MediaTypeMatchesPartially(&noBlock, &candidate)) << "lengths differ";
    AM_MEDIA_TYPE bare = noBlock;
    EXPECT_TRUE(stdax::MediaTypeMatchesPartially(&noBlock, &bare));

    stdax::FreeMediaTypeContents(&candidate);
    stdax::FreeMediaTypeContents(&same);
    stdax::FreeMediaTypeContents(&other);
}

TEST(FrameworkMediaTypes, ReallocateFormatBlockKeepsOrReplacesTheBlock)
{
    AM_MEDIA_TYPE mt;
    stdax::InitializeMediaType(&mt);
    BYTE* const first = stdax::ReallocateFormatBlock(&mt, 30);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(30u, mt.cbFormat);
    EXPECT_EQ(first, stdax::ReallocateFormatBlock(&mt, 30)) << "same length: same block";

    BYTE* const second = stdax::ReallocateFormatBlock(&mt, 18);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(18u, mt.cbFormat);
    EXPECT_EQ(second, mt.pbFormat);

#if !defined(_WIN64)
    // No memory for a huge block: the record stays as it was and there is no block to use. (A 64-bit
    // process may well get 2 GiB, and a block size cannot say more than 4.)
    EXPECT_EQ(nullptr, stdax::ReallocateFormatBlock(&mt, 0x7FFFFFF0));
    EXPECT_EQ(18u, mt.cbFormat);
    EXPECT_EQ(second, mt.pbFormat);
#endif
    stdax::FreeMediaTypeContents(&mt);
}
