// The framework's output pin against a probe sink: which allocator a connection ends up with
// (the peer's, our own, none), refused transports, what the pin does before it is connected,
// the allocator's commit across the graph's state changes, and the stream notifications that
// pass downstream.
#include "probe_filter.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <control.h>
#include <uuids.h>

using namespace StdaxTest;

namespace {

bool operator==(const ALLOCATOR_PROPERTIES& a, const ALLOCATOR_PROPERTIES& b)
{
    return a.cBuffers == b.cBuffers && a.cbBuffer == b.cbBuffer && a.cbAlign == b.cbAlign && a.cbPrefix == b.cbPrefix;
}

class OutputPinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_source = CProbeFilter::CreateSource();
        m_sink = CProbeFilter::CreateSink();
        ASSERT_NE(nullptr, m_source);
        ASSERT_NE(nullptr, m_sink);
        m_out = m_source->Output();
        m_in = m_sink->Input();
    }
    void TearDown() override
    {
        if (m_out->IsConnected()) {
            m_source->Stop();
            m_sink->Stop();
            EXPECT_EQ(S_OK, m_out->Disconnect());
            EXPECT_EQ(S_OK, m_in->Disconnect());
        }
        m_in->m_offeredAllocator.Release();
        m_out->m_ownAllocator.Release();
        m_source->Interface()->Release();
        m_sink->Interface()->Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    HRESULT Connect() { return m_out->Connect(m_sink->PinInterface(), nullptr); }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    CProbeFilter* m_source = nullptr;
    CProbeFilter* m_sink = nullptr;
    CProbeOutputPin* m_out = nullptr;
    CProbeInputPin* m_in = nullptr;
};

} // namespace

TEST_F(OutputPinTest, ThePeersAllocatorIsTakenWhenItGivesWhatWasAsked)
{
    CProbeAllocator* const theirs = CProbeAllocator::Create();
    ASSERT_NE(nullptr, theirs);
    m_in->m_offeredAllocator = theirs;
    m_in->m_requirements = {3, 0, 0, 16};
    m_in->m_requirementsResult = S_OK;

    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(static_cast<IMemAllocator*>(theirs), m_out->Allocator());
    EXPECT_EQ(static_cast<IMemAllocator*>(theirs), m_in->m_notified.p);
    EXPECT_FALSE(m_in->m_notifiedReadOnly);
    EXPECT_EQ(static_cast<IMemInputPin*>(m_in), m_out->InputPin());
    // The open alignment reaches the buffer-size step as 1; the peer's other wishes as they were.
    ASSERT_EQ(1u, m_out->m_requirementsSeen.size());
    EXPECT_TRUE((ALLOCATOR_PROPERTIES{3, 0, 1, 16}) == m_out->m_requirementsSeen[0]);
    ASSERT_EQ(1u, theirs->m_requests.size());
    EXPECT_TRUE((ALLOCATOR_PROPERTIES{3, 4096, 1, 16}) == theirs->m_requests[0]);

    // Disconnecting lets go of both the allocator and the transport.
    EXPECT_EQ(S_OK, m_out->Disconnect());
    EXPECT_EQ(nullptr, m_out->Allocator());
    EXPECT_EQ(nullptr, m_out->InputPin());
    EXPECT_EQ(1, theirs->m_decommits);
    EXPECT_EQ(S_OK, m_in->Disconnect());
    m_in->m_offeredAllocator.Release();
    EXPECT_EQ(1, theirs->References());
    theirs->Release();
}

TEST_F(OutputPinTest, AnAllocatorThatAdjustsTheRequestIsRefusedForOurOwnAndOursMustNotAdjustEither)
{
    CProbeAllocator* const theirs = CProbeAllocator::Create();
    ASSERT_NE(nullptr, theirs);
    theirs->m_answerAlignment = 16;
    m_in->m_offeredAllocator = theirs;
    theirs->Release();

    // Our own platform allocator gives exactly what is asked.
    ASSERT_EQ(S_OK, Connect());
    ASSERT_NE(nullptr, m_out->Allocator());
    EXPECT_NE(static_cast<IMemAllocator*>(theirs), m_out->Allocator());
    EXPECT_EQ(m_out->Allocator(), m_in->m_notified.p);
    ASSERT_EQ(2u, m_out->m_requirementsSeen.size());
    EXPECT_TRUE(m_out->m_requirementsSeen[0] == m_out->m_requirementsSeen[1]) << "the same request, asked twice";
    ALLOCATOR_PROPERTIES agreed = {};
    ASSERT_EQ(S_OK, m_out->Allocator()->GetProperties(&agreed));
    EXPECT_TRUE((ALLOCATOR_PROPERTIES{2, 4096, 1, 0}) == agreed);
    ASSERT_EQ(S_OK, m_out->Disconnect());
    ASSERT_EQ(S_OK, m_in->Disconnect());

    // When our own adjusts too, there is no allocator: DecideAllocator fails with E_FAIL, and so
    // does a connection with a given type.
    CProbeAllocator* const ours = CProbeAllocator::Create();
    ASSERT_NE(nullptr, ours);
    ours->m_answerAlignment = 32;
    m_out->m_ownAllocator = ours;
    IMemAllocator* decided = reinterpret_cast<IMemAllocator*>(1);
    EXPECT_EQ(E_FAIL, m_out->DecideAllocator(m_in, &decided));
    EXPECT_EQ(nullptr, decided);

    AM_MEDIA_TYPE pcm;
    MakeAudioType(&pcm, MEDIASUBTYPE_PCM, 44100);
    EXPECT_EQ(E_FAIL, m_out->Connect(m_sink->PinInterface(), &pcm));
    stdax::FreeMediaTypeContents(&pcm);
    EXPECT_FALSE(m_out->IsConnected());
    EXPECT_FALSE(m_in->IsConnected()) << "the peer was told to let go";
    EXPECT_EQ(nullptr, m_out->Allocator());
    EXPECT_EQ(nullptr, m_out->InputPin());
    m_out->m_ownAllocator.Release();
    EXPECT_EQ(1, ours->References());
    ours->Release();
}

TEST_F(OutputPinTest, APeerWithoutAllocatorGetsOursAndRefusalsFailTheConnection)
{
    // Offers none: our own platform allocator, declared read-write.
    ASSERT_EQ(S_OK, Connect());
    ASSERT_NE(nullptr, m_out->Allocator());
    EXPECT_EQ(m_out->Allocator(), m_in->m_notified.p);
    EXPECT_FALSE(m_in->m_notifiedReadOnly);
    ASSERT_EQ(S_OK, m_out->Disconnect());
    ASSERT_EQ(S_OK, m_in->Disconnect());

    // Refuses every allocator: its reason ends the connection.
    m_in->m_notifyResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, Connect());
    EXPECT_FALSE(m_out->IsConnected());
    EXPECT_EQ(nullptr, m_out->Allocator());

    // Has no transport at all.
    m_in->m_notifyResult = S_OK;
    m_in->m_offerTransport = false;
    EXPECT_EQ(E_NOINTERFACE, Connect());
    EXPECT_FALSE(m_out->IsConnected());
    EXPECT_FALSE(m_in->IsConnected());
    EXPECT_EQ(nullptr, m_out->InputPin());
}

TEST_F(OutputPinTest, BeforeAConnectionNothingIsDeliveredAndStreamCallsAreRefused)
{
    CProbeAllocator* const allocator = CProbeAllocator::Create();
    ASSERT_NE(nullptr, allocator);
    ALLOCATOR_PROPERTIES props = {1, 64, 1, 0}, actual = {};
    ASSERT_EQ(S_OK, allocator->SetProperties(&props, &actual));
    ASSERT_EQ(S_OK, allocator->Commit());
    IMediaSample* sample = nullptr;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));

    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_out->Deliver(sample));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_out->DeliverEndOfStream());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_out->DeliverBeginFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_out->DeliverEndFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_out->DeliverNewSegment(0, 10, 1.0));
    IMediaSample* none = reinterpret_cast<IMediaSample*>(1);
    EXPECT_EQ(E_NOINTERFACE, m_out->GetDeliveryBuffer(&none, nullptr, nullptr, 0));
    EXPECT_EQ(E_POINTER, m_out->GetDeliveryBuffer(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, m_out->Inactive());

    // An output pin is sent no stream notifications and handles no quality messages.
    IPin* const pin = m_source->PinInterface();
    EXPECT_EQ(E_UNEXPECTED, pin->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, pin->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, pin->EndFlush());
    EXPECT_EQ(E_NOTIMPL, m_out->Notify(m_sink->Interface(), Quality{}));

    // Connected, a null sample is refused before it reaches the peer.
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(E_POINTER, m_out->Deliver(nullptr));
    EXPECT_TRUE(m_in->m_samples.empty());

    sample->Release();
    allocator->Decommit();
    allocator->Release();
}

TEST_F(OutputPinTest, TheGraphsStateChangesCommitAndDecommitTheAllocator)
{
    CProbeAllocator* const theirs = CProbeAllocator::Create();
    ASSERT_NE(nullptr, theirs);
    m_in->m_offeredAllocator = theirs;
    {
        COM::TPtr<IFilterGraph> graph;
        COM::TPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&graph)));
        ASSERT_EQ(S_OK, graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
        ASSERT_EQ(S_OK, graph->AddFilter(m_source->Interface(), L"Source"));
        ASSERT_EQ(S_OK, graph->AddFilter(m_sink->Interface(), L"Sink"));
        ASSERT_EQ(S_OK, graph->ConnectDirect(m_source->PinInterface(), m_sink->PinInterface(), nullptr));
        ASSERT_EQ(static_cast<IMemAllocator*>(theirs), m_out->Allocator());

        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_EQ(1, theirs->m_commits);
        // Running: a buffer can be had and goes downstream as it is.
        IMediaSample* sample = nullptr;
        ASSERT_EQ(S_OK, m_out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
        EXPECT_EQ(4096, sample->GetSize());
        REFERENCE_TIME start = 100, stop = 200;
        sample->SetTime(&start, &stop);
        sample->SetActualDataLength(10);
        EXPECT_EQ(S_OK, m_out->Deliver(sample));
        m_in->m_receiveResult = S_FALSE;
        EXPECT_EQ(S_FALSE, m_out->Deliver(sample)) << "the peer's answer comes back unchanged";
        sample->Release();
        ASSERT_EQ(2u, m_in->m_samples.size());
        EXPECT_EQ(100, m_in->m_samples[0].start);
        EXPECT_EQ(200, m_in->m_samples[0].stop);
        EXPECT_EQ(10, m_in->m_samples[0].length);

        ASSERT_TRUE(SUCCEEDED(control->Pause()));
        EXPECT_EQ(1, theirs->m_commits) << "only leaving Stopped commits";
        EXPECT_EQ(0, theirs->m_decommits);
        ASSERT_TRUE(SUCCEEDED(control->Stop()));
        EXPECT_EQ(1, theirs->m_decommits);
        EXPECT_EQ(VFW_E_NOT_COMMITTED, m_out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
        EXPECT_EQ(nullptr, sample);

        // A decommit that fails keeps the connection, and Disconnect says why.
        theirs->m_decommitResult = E_ACCESSDENIED;
        EXPECT_EQ(E_ACCESSDENIED, m_out->Disconnect());
        EXPECT_TRUE(m_out->IsConnected());
        EXPECT_EQ(static_cast<IMemAllocator*>(theirs), m_out->Allocator());
        EXPECT_NE(nullptr, m_out->InputPin());
        theirs->m_decommitResult = S_OK;
        // The graph takes both filters apart when it goes.
    }
    EXPECT_FALSE(m_out->IsConnected());
    EXPECT_EQ(nullptr, m_out->Allocator());
    m_in->m_offeredAllocator.Release();
    EXPECT_EQ(1, theirs->References());
    theirs->Release();
}

TEST_F(OutputPinTest, StreamNotificationsReachThePeerWithItsAnswers)
{
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(S_OK, m_out->DeliverBeginFlush());
    EXPECT_EQ(S_OK, m_out->DeliverEndFlush());
    EXPECT_EQ(S_OK, m_out->DeliverNewSegment(1000, 50000, 2.0));
    EXPECT_EQ(1000, m_in->SegmentStart());
    EXPECT_EQ(50000, m_in->SegmentStop());
    EXPECT_EQ(2.0, m_in->SegmentRate());
    EXPECT_EQ(S_OK, m_out->DeliverEndOfStream());

    m_in->m_streamResult = VFW_E_WRONG_STATE;
    EXPECT_EQ(VFW_E_WRONG_STATE, m_out->DeliverBeginFlush());
    EXPECT_EQ(VFW_E_WRONG_STATE, m_out->DeliverEndFlush());
    EXPECT_EQ(VFW_E_WRONG_STATE, m_out->DeliverEndOfStream());
    EXPECT_EQ(2, m_in->m_beginFlush);
    EXPECT_EQ(2, m_in->m_endFlush);
    EXPECT_EQ(2, m_in->m_endOfStream);
    EXPECT_EQ(1, m_in->m_newSegment);
}
