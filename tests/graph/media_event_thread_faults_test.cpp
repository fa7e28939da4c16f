// The media event thread when its worker is gone or busy, and when two graphs meet it: a worker that
// cannot take a graph's event handle, one that ended, one inside its callback, and a detach named for
// a graph that is not the attached one.
#include "graph/filter_graph.h"
#include "graph/media_event_thread.h"
#include "graph_test_support.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using GraphTest::CComThread;
using GraphTest::WaitFor;

constexpr long kTestEvent = EC_USER + 9;

std::atomic<int> g_calls{0};
HANDLE g_release = nullptr;  // the callback waits for it when set

void Callback(long code, LONG_PTR, LONG_PTR)
{
    if (code != kTestEvent)
        return;
    ++g_calls;
    if (g_release != nullptr)
        ::WaitForSingleObject(g_release, 20000);
}

// A graph whose event queue has no handle to give.
class CNoHandleGraph : public IMediaEvent {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IMediaEvent) {
            *ppv = static_cast<IMediaEvent*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetEventHandle(OAEVENT*) override { return kRefused; }
    STDMETHODIMP GetEvent(long*, LONG_PTR*, LONG_PTR*, long) override { return E_ABORT; }
    STDMETHODIMP WaitForCompletion(long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP CancelDefaultHandling(long) override { return E_NOTIMPL; }
    STDMETHODIMP RestoreDefaultHandling(long) override { return E_NOTIMPL; }
    STDMETHODIMP FreeEventParams(long, LONG_PTR, LONG_PTR) override { return S_OK; }

    static constexpr HRESULT kRefused = E_OUTOFMEMORY;
};

class MediaEventThreadFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls = 0;
        g_release = nullptr;
        ASSERT_EQ(graph.Create(), S_OK);
        ASSERT_EQ(thread.Initialise(&Callback), S_OK);
    }
    void TearDown() override
    {
        if (g_release != nullptr) {
            ::SetEvent(g_release);
            thread.Shutdown();
            ::CloseHandle(g_release);
            g_release = nullptr;
        }
    }

    HRESULT Post(DirectShow::CFilterGraph& target, long code)
    {
        COM::TPtr<IMediaEventSink> sink;
        HRESULT hr = target.QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
        return SUCCEEDED(hr) ? sink->Notify(code, 0, 0) : hr;
    }

    CComThread com;
    DirectShow::CFilterGraph graph;
    DirectShow::CMediaEventThread thread;
};

TEST_F(MediaEventThreadFaults, AttachReportsAWorkerThatCouldNotTakeTheHandleAndDetachDoesNotWait)
{
    CNoHandleGraph broken;
    EXPECT_EQ(thread.Attach(&broken), CNoHandleGraph::kRefused);
    // The worker has ended: nothing is held, and neither call waits for an answer that cannot come.
    DWORD start = ::GetTickCount();
    EXPECT_EQ(thread.Detach(), S_FALSE);
    EXPECT_NE(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(graph.p), S_FALSE);
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_EQ(thread.Shutdown(), S_OK);
    ASSERT_EQ(thread.Initialise(&Callback), S_OK);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(graph.p), S_OK);
}

TEST_F(MediaEventThreadFaults, DetachAfterTheWorkerEndedReleasesAtOnce)
{
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    // The worker ends on its own, as a failing step ends it.
    ASSERT_EQ(thread.RequestStop(), S_OK);
    ::Sleep(200);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(thread.Detach(graph.p), S_OK);
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_EQ(thread.Detach(graph.p), S_FALSE);
}

TEST_F(MediaEventThreadFaults, DetachWhileTheCallbackBlocksDoesNotWaitForIt)
{
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    g_release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(Post(graph, kTestEvent), S_OK);
    ASSERT_TRUE(WaitFor([] { return g_calls == 1; }));
    DWORD start = ::GetTickCount();
    EXPECT_EQ(thread.Detach(graph.p), S_OK);
    EXPECT_LT(::GetTickCount() - start, 1000u);
    // Shutdown gives the callback its time, then leaves the worker to end by itself: never terminated.
    EXPECT_EQ(thread.Shutdown(), VFW_E_TIMEOUT);
    EXPECT_EQ(thread.Initialise(&Callback), VFW_E_TIMEOUT);
    ::SetEvent(g_release);
    EXPECT_TRUE(WaitFor([&] { return thread.Initialise(&Callback) == S_OK; }, 5000));
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(graph.p), S_OK);
}

TEST_F(MediaEventThreadFaults, DetachingAnotherGraphLeavesTheAttachedOneWatched)
{
    DirectShow::CFilterGraph other;
    ASSERT_EQ(other.Create(), S_OK);
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Attach(other.p), E_UNEXPECTED);
    EXPECT_EQ(thread.Detach(other.p), S_FALSE);
    ASSERT_EQ(Post(graph, kTestEvent), S_OK);
    EXPECT_TRUE(WaitFor([] { return g_calls == 1; }));
    EXPECT_EQ(thread.Detach(graph.p), S_OK);
}

} // namespace
