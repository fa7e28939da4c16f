// COM::TPtr<I> against a call recorder, a framework object and a system object.
#include "stdax/com/ptr.h"
#include "test_objects.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <memory>
#include <utility>

using ComTest::CCallRecorder;
using ComTest::CPersistObject;
using ComTest::CProtectedPage;

namespace {

class PtrTest : public ::testing::Test {
protected:
    void SetUp() override { m_liveAtStart = COM::CBaseObject::LiveObjects(); }
    void TearDown() override { EXPECT_EQ(m_liveAtStart, COM::CBaseObject::LiveObjects()); }

    LONG m_liveAtStart = 0;
};

// Records whether the holder was already empty when the interface's Release ran.
struct CEmptyAtRelease {
    COM::TPtr<IPersist>* holder = nullptr;
    bool empty = false;
    static void Check(void* context)
    {
        auto* self = static_cast<CEmptyAtRelease*>(context);
        self->empty = self->holder->p == nullptr;
    }
};

} // namespace

TEST_F(PtrTest, EmptyHolderCallsNothing)
{
    COM::TPtr<IPersist> empty;
    EXPECT_TRUE(empty.IsNull());
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(0xBADu, empty.Release());
    EXPECT_EQ(0xBADu, empty.Release());

    void* found = nullptr;
    EXPECT_EQ(E_UNEXPECTED, empty.QueryInterface(IID_IUnknown, &found));

    IPersist* copy = reinterpret_cast<IPersist*>(0x1234);
    EXPECT_EQ(S_OK, empty.CopyTo(&copy));
    EXPECT_EQ(nullptr, copy);
}

TEST_F(PtrTest, OwnsExactlyOneReference)
{
    CCallRecorder recorder;
    {
        COM::TPtr<IPersist> held(&recorder);
        EXPECT_TRUE(held.IsValid());
        EXPECT_EQ(&recorder, held.p);
        EXPECT_EQ(2, recorder.m_references);

        COM::TPtr<IPersist> copied(held);
        EXPECT_EQ(3, recorder.m_references);
        COM::TPtr<IPersist> moved(std::move(copied));
        EXPECT_TRUE(copied.IsNull());
        EXPECT_EQ(3, recorder.m_references);

        // Raw access and the interface's own calls do not touch the count.
        IPersist* raw = held;
        CLSID clsid = IID_IPersist;
        EXPECT_EQ(S_OK, held->GetClassID(&clsid));
        EXPECT_EQ(&recorder, raw);
        EXPECT_EQ(3, recorder.m_references);

        EXPECT_EQ(2u, moved.Release());
        EXPECT_TRUE(moved.IsNull());
    }
    EXPECT_EQ(1, recorder.m_references);
    EXPECT_EQ(recorder.m_addRefs, recorder.m_releases);
}

TEST_F(PtrTest, ClearsThePointerBeforeReleasing)
{
    CCallRecorder recorder;
    CEmptyAtRelease probe;
    recorder.m_onRelease = &CEmptyAtRelease::Check;
    recorder.m_onReleaseContext = &probe;

    {
        COM::TPtr<IPersist> held(&recorder);
        probe.holder = std::addressof(held);
    }
    EXPECT_TRUE(probe.empty);

    COM::TPtr<IPersist> held(&recorder);
    probe.holder = std::addressof(held);
    probe.empty = false;
    held.Release();
    EXPECT_TRUE(probe.empty);

    probe.empty = false;
    held = &recorder;
    held = nullptr;
    EXPECT_TRUE(probe.empty);
    EXPECT_EQ(1, recorder.m_references);
}

TEST_F(PtrTest, AssignmentSwapsReferences)
{
    CCallRecorder first;
    CCallRecorder second;
    COM::TPtr<IPersist> held(&first);
    const int addRefs = first.m_addRefs;

    // Assigning the held pointer to itself, as holder or as raw pointer, changes nothing.
    COM::TPtr<IPersist>& alias = held;
    held = alias;
    held = held.p;
    EXPECT_EQ(addRefs, first.m_addRefs);
    EXPECT_EQ(0, first.m_releases);
    EXPECT_EQ(2, first.m_references);

    COM::TPtr<IPersist> other(&second);
    held = other;
    EXPECT_EQ(1, first.m_references);
    EXPECT_EQ(3, second.m_references);

    held = &first;
    EXPECT_EQ(2, first.m_references);
    EXPECT_EQ(2, second.m_references);

    held = std::move(other);
    EXPECT_TRUE(other.IsNull());
    EXPECT_EQ(1, first.m_references);
    EXPECT_EQ(2, second.m_references);

    held = nullptr;
    EXPECT_TRUE(held.IsNull());
    EXPECT_EQ(1, second.m_references);
}

TEST_F(PtrTest, QueryInterfaceAndCopyToPassReferencesOn)
{
    CCallRecorder recorder;
    COM::TPtr<IPersist> held(&recorder);

    void* found = nullptr;
    EXPECT_EQ(S_OK, held.QueryInterface(IID_IUnknown, &found));
    EXPECT_EQ(static_cast<IPersist*>(&recorder), found);
    EXPECT_EQ(3, recorder.m_references);
    static_cast<IUnknown*>(found)->Release();
    EXPECT_EQ(E_NOINTERFACE, held.QueryInterface(IID_IStream, &found));
    EXPECT_EQ(2, recorder.m_queries);

    EXPECT_EQ(E_POINTER, held.CopyTo(nullptr));
    CProtectedPage readOnly(PAGE_READONLY);
    EXPECT_EQ(E_POINTER, held.CopyTo(readOnly.As<IPersist*>()));
    EXPECT_EQ(0x5A5A5A5Au, readOnly.FirstWord());
    EXPECT_EQ(2, recorder.m_references);

    IPersist* copy = nullptr;
    EXPECT_EQ(S_OK, held.CopyTo(&copy));
    EXPECT_EQ(&recorder, copy);
    EXPECT_EQ(3, recorder.m_references);
    copy->Release();
}

TEST_F(PtrTest, AddressFillsAnOutParameter)
{
    CPersistObject::ResetCounters();
    {
        COM::TPtr<IPersist> persist;
        ASSERT_EQ(S_OK, COM::CreateObject(&CPersistObject::Create, nullptr, IID_IPersist,
                                          reinterpret_cast<void**>(&persist)));
        ASSERT_TRUE(persist.IsValid());
        EXPECT_EQ(1, COM::CBaseObject::LiveObjects() - m_liveAtStart);

        // A holder that still holds a reference gives it up before the call overwrites it.
        ASSERT_EQ(S_OK, COM::CreateObject(&CPersistObject::Create, nullptr, IID_IPersist,
                                          reinterpret_cast<void**>(&persist)));
        EXPECT_EQ(1, CPersistObject::s_destroyed);
        EXPECT_EQ(1, COM::CBaseObject::LiveObjects() - m_liveAtStart);
    }
    EXPECT_EQ(2, CPersistObject::s_destroyed);

    // A system object: an in-memory stream, reached as ISequentialStream through the holder.
    COM::TPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    COM::TPtr<ISequentialStream> sequential;
    ASSERT_EQ(S_OK, stream.QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&sequential)));
    const char text[] = "Tessaro";
    ULONG written = 0;
    EXPECT_EQ(S_OK, sequential->Write(text, sizeof(text), &written));
    EXPECT_EQ(sizeof(text), written);
    STATSTG stat = {};
    EXPECT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(sizeof(text), stat.cbSize.QuadPart);
    EXPECT_GE(sequential.Release(), 1u);
    EXPECT_EQ(0u, stream.Release());
}
