// The framework's input pins driven directly with samples from the platform's memory allocator,
// the render sink sitting in the platform's filter graph: the streaming checks, the allocator rules,
// sample properties read from real samples, the run-time error after a refused in-stream type
// change, and the rendered pin's completion notice.
#include "input_test_support.h"

#include "stdax/media_type_operations.h"

using namespace StdaxTest;

namespace {

using CInputPinTest = CSinkGraphTest;

} // namespace

TEST_F(CInputPinTest, ReceiveRefusesWithoutConnectionWhileStoppedAndWhileFlushing)
{
    COM::TPtr<IMediaSample> sample = Sample(0, 100);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Transport()->Receive(sample));
    EXPECT_EQ(E_POINTER, Transport()->Receive(nullptr));

    ConnectSource();
    EXPECT_EQ(VFW_E_WRONG_STATE, Transport()->Receive(sample));

    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, Transport()->Receive(sample));
    ASSERT_EQ(1u, m_sink->Samples().size());

    EXPECT_EQ(S_OK, Pin()->PinInterface()->BeginFlush());
    EXPECT_EQ(S_FALSE, Transport()->Receive(sample));
    EXPECT_EQ(S_OK, Pin()->PinInterface()->EndFlush());
    EXPECT_EQ(S_OK, Transport()->Receive(sample));
    EXPECT_EQ(2u, m_sink->Samples().size()) << "nothing reached the filter while flushing";

    // A flush left open ends with the stop.
    EXPECT_EQ(S_OK, Pin()->PinInterface()->BeginFlush());
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_FALSE(Pin()->IsFlushing());
    EXPECT_EQ(VFW_E_WRONG_STATE, Transport()->Receive(sample));
}

TEST_F(CInputPinTest, ReceiveMultipleStopsAtTheFirstSampleNotTakenWithS_OK)
{
    ConnectSource();
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    COM::TPtr<IMediaSample> held[3] = {Sample(0, 10), Sample(10, 20), Sample(20, 30)};
    IMediaSample* samples[3] = {held[0], held[1], held[2]};
    Pin()->m_falseAtSample = 1;
    long processed = -1;
    EXPECT_EQ(S_FALSE, Transport()->ReceiveMultiple(samples, 3, &processed));
    EXPECT_EQ(1, processed);
    EXPECT_EQ(2u, m_sink->Samples().size()) << "the second sample reached the derived Receive";

    EXPECT_EQ(E_INVALIDARG, Transport()->ReceiveMultiple(samples, 0, &processed));
    EXPECT_EQ(E_POINTER, Transport()->ReceiveMultiple(nullptr, 1, &processed));
    EXPECT_EQ(E_POINTER, Transport()->ReceiveMultiple(samples, 3, nullptr));
    // A count whose table size wraps round to a few bytes is refused, not read past the table.
    EXPECT_EQ(E_POINTER, Transport()->ReceiveMultiple(samples, 0x40000001, &processed));
    EXPECT_EQ(2u, m_sink->Samples().size());
}

TEST_F(CInputPinTest, AllocatorIsCreatedOnRequestReplacedByNotificationAndDecommittedByStop)
{
    ALLOCATOR_PROPERTIES properties = {1, 1, 1, 1};
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pin()->GetAllocatorProperties(&properties));
    EXPECT_EQ(0, properties.cbBuffer) << "zeroed first";

    // Asked before any notification: a memory allocator of the platform, the same one each time.
    COM::TPtr<IMemAllocator> first, second;
    ASSERT_EQ(S_OK, Transport()->GetAllocator(&first));
    ASSERT_NE(nullptr, first.p);
    ASSERT_EQ(S_OK, Transport()->GetAllocator(&second));
    EXPECT_EQ(first.p, second.p);
    EXPECT_EQ(E_POINTER, Transport()->GetAllocator(nullptr));
    EXPECT_EQ(E_NOTIMPL, Transport()->GetAllocatorRequirements(&properties));

    EXPECT_EQ(E_POINTER, Transport()->NotifyAllocator(nullptr, FALSE));
    EXPECT_EQ(E_INVALIDARG, Transport()->NotifyAllocator(reinterpret_cast<IMemAllocator*>(16), FALSE));
    EXPECT_EQ(first.p, Pin()->Allocator()) << "a refused notification changes nothing";

    ASSERT_EQ(S_OK, Transport()->NotifyAllocator(m_allocator, TRUE));
    EXPECT_TRUE(Pin()->IsReadOnly());
    ASSERT_EQ(S_OK, Transport()->GetAllocator(&second));
    EXPECT_EQ(m_allocator.p, second.p);
    second.Release();
    first.Release();

    ConnectSource();
    ASSERT_EQ(S_OK, Pin()->GetAllocatorProperties(&properties));
    EXPECT_EQ(4, properties.cBuffers);
    EXPECT_EQ(256, properties.cbBuffer);

    // The stop decommits the agreed allocator: no more buffers until it is committed again.
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    ASSERT_EQ(S_OK, m_allocator->Commit());
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    COM::TPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_allocator->GetBuffer(&sample, nullptr, nullptr, 0));

    // Disconnecting lets go of it.
    ASSERT_EQ(S_OK, m_graph->Disconnect(Pin()->PinInterface()));
    EXPECT_EQ(nullptr, Pin()->Allocator());
}

TEST_F(CInputPinTest, SamplePropertiesAreReadFromRealSamples)
{
    COM::TPtr<IMediaSample> sample = Sample(1000, 2000, 40);
    ASSERT_EQ(S_OK, sample->SetDiscontinuity(TRUE));
    ASSERT_EQ(S_OK, sample->SetSyncPoint(TRUE));
    ASSERT_EQ(S_OK, sample->SetPreroll(TRUE));
    REFERENCE_TIME mediaTimes[2] = {7, 9};
    ASSERT_EQ(S_OK, sample->SetMediaTime(&mediaTimes[0], &mediaTimes[1]));
    AM_MEDIA_TYPE type;
    MakeAudioType(&type, MEDIASUBTYPE_PCM, 22050);
    ASSERT_EQ(S_OK, sample->SetMediaType(&type));
    stdax::FreeMediaTypeContents(&type);

    stdax::CMediaSampleProperties properties;
    EXPECT_EQ(48u, properties.Properties().cbData);
    EXPECT_EQ(E_POINTER, properties.ReadFrom(nullptr));
    ASSERT_EQ(S_OK, properties.ReadFrom(sample));
    const AM_SAMPLE2_PROPERTIES& read = properties.Properties();
    EXPECT_EQ(static_cast<DWORD>(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_PREROLL | AM_SAMPLE_DATADISCONTINUITY |
                                 AM_SAMPLE_TYPECHANGED | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID),
              read.dwSampleFlags);
    EXPECT_EQ(1000, read.tStart);
    EXPECT_EQ(2000, read.tStop);
    EXPECT_EQ(40, read.lActual);
    EXPECT_EQ(256, read.cbBuffer);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    EXPECT_EQ(data, read.pbBuffer);
    EXPECT_EQ(nullptr, read.pMediaType);
    EXPECT_TRUE(properties.MediaTimeValid());
    EXPECT_EQ(7, properties.MediaStart());
    EXPECT_EQ(9, properties.MediaStop());
    EXPECT_EQ(MEDIASUBTYPE_PCM, properties.MediaType().subtype);
    EXPECT_EQ(22050u, SampleRateOf(properties.MediaType()));

    EXPECT_EQ(E_UNEXPECTED, properties.ReadFrom(sample)) << "one sample per reading";
    ASSERT_EQ(S_OK, properties.Reset());
    EXPECT_EQ(nullptr, properties.MediaType().pbFormat);

    // A start without a stop: the start is valid, the stop is not.
    COM::TPtr<IMediaSample> startOnly = Sample(500, -1);
    ASSERT_EQ(S_OK, properties.ReadFrom(startOnly));
    EXPECT_EQ(static_cast<DWORD>(AM_SAMPLE_TIMEVALID), properties.Flags());
    EXPECT_EQ(500, properties.Properties().tStart);
    EXPECT_FALSE(properties.MediaTimeValid());

    ASSERT_EQ(S_OK, properties.Reset());
    COM::TPtr<IMediaSample> untimed = Sample();
    ASSERT_EQ(S_OK, properties.ReadFrom(untimed));
    EXPECT_EQ(0u, properties.Flags());
}

TEST_F(CInputPinTest, RefusedTypeChangeEndsTheStreamAndFailsLaterSamplesUntilFlushOrStop)
{
    ConnectSource();
    Pin()->m_refusedSubtype = MEDIASUBTYPE_IEEE_FLOAT;
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));

    // An accepted change passes with its type.
    COM::TPtr<IMediaSample> accepted = Sample(0, 10);
    AM_MEDIA_TYPE type;
    MakeAudioType(&type, MEDIASUBTYPE_PCM, 22050);
    ASSERT_EQ(S_OK, accepted->SetMediaType(&type));
    stdax::FreeMediaTypeContents(&type);
    EXPECT_EQ(S_OK, Transport()->Receive(accepted));
    ASSERT_EQ(1u, m_sink->Samples().size());
    EXPECT_EQ(22050u, m_sink->Samples()[0].typeRate);

    COM::TPtr<IMediaSample> refused = Sample(10, 20);
    MakeAudioType(&type, MEDIASUBTYPE_IEEE_FLOAT, 44100);
    ASSERT_EQ(S_OK, refused->SetMediaType(&type));
    stdax::FreeMediaTypeContents(&type);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Transport()->Receive(refused));
    EXPECT_EQ(1, m_sink->Record().endOfStream) << "the stream was ended through the pin";
    const std::vector<CGraphEvent> events = TakeEvents();
    // The end of stream took effect: the running renderer reported its completion.
    EXPECT_EQ(1, Count(events, EC_COMPLETE));
    ASSERT_EQ(1, Count(events, EC_ERRORABORT));
    for (const CGraphEvent& event : events) {
        if (event.code == EC_ERRORABORT) {
            EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, static_cast<HRESULT>(event.param1));
        }
    }

    COM::TPtr<IMediaSample> later = Sample(20, 30);
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, Transport()->Receive(later));
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, Pin()->PinInterface()->EndOfStream());
    EXPECT_EQ(1u, m_sink->Samples().size());

    // A flush clears the error ...
    ASSERT_EQ(S_OK, Pin()->PinInterface()->BeginFlush());
    ASSERT_EQ(S_OK, Pin()->PinInterface()->EndFlush());
    EXPECT_EQ(S_OK, Transport()->Receive(later));

    // ... and so does a stop.
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Transport()->Receive(refused));
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, Transport()->Receive(later));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    later = Sample(30, 40);
    EXPECT_EQ(S_OK, Transport()->Receive(later));
}

TEST_F(CInputPinTest, RenderedPinCompletesOncePerRunAlsoWhenTheStreamEndedWhilePaused)
{
    ConnectSource();
    IPin* const pin = Pin()->PinInterface();
    EXPECT_EQ(VFW_E_WRONG_STATE, pin->EndOfStream());

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_EQ(S_OK, pin->EndOfStream());
    std::vector<CGraphEvent> events = TakeEvents();
    ASSERT_EQ(1, Count(events, EC_COMPLETE));
    for (const CGraphEvent& event : events) {
        if (event.code == EC_COMPLETE) {
            EXPECT_EQ(S_OK, static_cast<HRESULT>(event.param1));
            EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_sink->Interface()), event.param2);
        }
    }
    EXPECT_EQ(S_OK, pin->EndOfStream());
    EXPECT_EQ(0, Count(TakeEvents(), EC_COMPLETE)) << "a second end of stream adds nothing";

    // A flush re-arms the notice.
    ASSERT_EQ(S_OK, pin->BeginFlush());
    ASSERT_EQ(S_OK, pin->EndFlush());
    EXPECT_EQ(S_OK, pin->EndOfStream());
    EXPECT_EQ(1, Count(TakeEvents(), EC_COMPLETE));

    // Ended while paused: nothing until the filter runs.
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, pin->EndOfStream());
    EXPECT_EQ(0, Count(TakeEvents(), EC_COMPLETE));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_EQ(1, Count(TakeEvents(), EC_COMPLETE));
    EXPECT_EQ(S_OK, pin->EndOfStream());
    EXPECT_EQ(0, Count(TakeEvents(), EC_COMPLETE));
}
