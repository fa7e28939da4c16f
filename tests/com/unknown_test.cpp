// The object base through real COM calls: lookups, reference counting, creation and aggregation.
#include "stdax/com/unknown.h"
#include "test_objects.h"

#include <gtest/gtest.h>

#include <objbase.h>

using ComTest::COuterObject;
using ComTest::CPersistObject;
using ComTest::CProtectedPage;

namespace {

void* const kUntouched = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x12345678));

// Every test ends with as many live framework objects as it started with.
class UnknownTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CPersistObject::ResetCounters();
        m_liveAtStart = COM::CBaseObject::LiveObjects();
    }
    void TearDown() override { EXPECT_EQ(m_liveAtStart, COM::CBaseObject::LiveObjects()); }

    LONG m_liveAtStart = 0;
};

// An object far larger than the address space can give in one piece.
class CHugeObject : public COM::CUnknown {
public:
    explicit CHugeObject(IUnknown* outer) : CUnknown(outer) { ++s_constructed; }
    static COM::CUnknown* Create(IUnknown* outer, HRESULT*) { return new CHugeObject(outer); }
    static inline int s_constructed = 0;
    // More than the process's address space can hold (2 GiB in 32-bit, 128 TiB in 64-bit processes).
    char m_payload[sizeof(void*) == 8 ? 0x7FFF00000000ULL : 0x7FF00000];
};

COM::CUnknown* NullCreator(IUnknown*, HRESULT*)
{
    return nullptr;
}

} // namespace

TEST_F(UnknownTest, QueryInterfaceProbesTheOutPointerAndWritesNothingOnFailure)
{
    auto* object = new CPersistObject(nullptr);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(1u, object->NonDelegatingAddRef());

    EXPECT_EQ(E_POINTER, object->NonDelegatingQueryInterface(IID_IUnknown, nullptr));

    CProtectedPage readOnly(PAGE_READONLY);
    EXPECT_EQ(E_POINTER, object->NonDelegatingQueryInterface(IID_IUnknown, readOnly.As<void*>()));
    EXPECT_EQ(0x5A5A5A5Au, readOnly.FirstWord());

    CProtectedPage noAccess(PAGE_NOACCESS);
    EXPECT_EQ(E_POINTER, object->NonDelegatingQueryInterface(IID_IUnknown, noAccess.As<void*>()));
    EXPECT_EQ(0x5A5A5A5Au, noAccess.FirstWord());

    // The base class answers nothing but IID_IUnknown: an unknown identifier gives null.
    void* found = kUntouched;
    EXPECT_EQ(E_NOINTERFACE, object->CUnknown::NonDelegatingQueryInterface(IID_IPersist, &found));
    EXPECT_EQ(nullptr, found);
    found = kUntouched;
    EXPECT_EQ(E_NOINTERFACE, object->NonDelegatingQueryInterface(IID_IStream, &found));
    EXPECT_EQ(nullptr, found);

    // IID_IUnknown gives the non-delegating unknown with a reference of its own.
    EXPECT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_IUnknown, &found));
    EXPECT_EQ(object->Identity(), found);
    EXPECT_EQ(1u, static_cast<IUnknown*>(found)->Release());

    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, ReferenceCountDeletesOnceAtZero)
{
    auto* object = new CPersistObject(nullptr);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(object->Identity(), object->GetOwner());

    EXPECT_EQ(1u, object->NonDelegatingAddRef());
    // The interfaces forward to the owner, which is the object's own non-delegating unknown.
    IPersist* persist = object;
    EXPECT_EQ(2u, persist->AddRef());
    EXPECT_EQ(3u, object->Identity()->AddRef());
    EXPECT_EQ(2u, persist->Release());
    EXPECT_EQ(1u, object->NonDelegatingRelease());
    EXPECT_EQ(0, CPersistObject::s_destroyed);

    // The destructor takes and drops a reference; the object must still be deleted once only.
    object->m_touchInDestructor = true;
    EXPECT_EQ(0u, persist->Release());
    EXPECT_EQ(1, CPersistObject::s_constructed);
    EXPECT_EQ(1, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, GetInterfaceAddsTheReferenceThroughTheStoredPointer)
{
    auto* object = new CPersistObject(nullptr);
    ASSERT_NE(nullptr, object);
    object->NonDelegatingAddRef();

    void* stored = static_cast<IPersist*>(object);
    EXPECT_EQ(S_OK, COM::GetInterface(static_cast<IPersist*>(object), &stored));
    EXPECT_EQ(1u, object->NonDelegatingRelease());

    EXPECT_EQ(E_POINTER, COM::GetInterface(nullptr, &stored));
    CProtectedPage noAccess(PAGE_NOACCESS);
    EXPECT_EQ(E_POINTER, COM::GetInterface(noAccess.As<IUnknown>(), &stored));
    EXPECT_EQ(2u, object->NonDelegatingAddRef());
    EXPECT_EQ(1u, object->NonDelegatingRelease());

    EXPECT_EQ(0u, object->NonDelegatingRelease());
    EXPECT_EQ(1, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, CreateObjectHandsOutOneReference)
{
    IPersist* persist = nullptr;
    ASSERT_EQ(S_OK, COM::CreateObject(&CPersistObject::Create, nullptr, IID_IPersist,
                                      reinterpret_cast<void**>(&persist)));
    ASSERT_NE(nullptr, persist);
    CLSID clsid = IID_IPersist;
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(CLSID_NULL, clsid);
    EXPECT_EQ(1, COM::CBaseObject::LiveObjects() - m_liveAtStart);
    EXPECT_EQ(0u, persist->Release());
    EXPECT_EQ(1, CPersistObject::s_destroyed);

    // An interface the object lacks: null out, and the object is gone again.
    void* found = kUntouched;
    EXPECT_EQ(E_NOINTERFACE, COM::CreateObject(&CPersistObject::Create, nullptr, IID_IStream, &found));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(2, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, CreateObjectRefusesBadCreatorsAndForeignAggregation)
{
    void* found = kUntouched;
    EXPECT_EQ(E_POINTER, COM::CreateObject(nullptr, nullptr, IID_IUnknown, &found));

    // An address with nothing mapped behind it is not code.
    const auto unmapped = reinterpret_cast<COM::ObjectCreator>(static_cast<UINT_PTR>(0x10));
    EXPECT_EQ(static_cast<HRESULT>(0x80070001), COM::CreateObject(unmapped, nullptr, IID_IUnknown, &found));
    CProtectedPage noAccess(PAGE_NOACCESS);
    const auto guarded = reinterpret_cast<COM::ObjectCreator>(noAccess.As<void>());
    EXPECT_EQ(static_cast<HRESULT>(0x80070001), COM::CreateObject(guarded, nullptr, IID_IUnknown, &found));

    // Aggregation is offered only for IID_IUnknown; the creator is not even called.
    COuterObject outer;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              COM::CreateObject(&CPersistObject::Create, &outer, IID_IPersist, &found));
    EXPECT_EQ(0, CPersistObject::s_creatorCalls);
    EXPECT_EQ(kUntouched, found);
    EXPECT_EQ(1, outer.m_references);
}

TEST_F(UnknownTest, CreateObjectReportsCreatorFailures)
{
    void* found = kUntouched;
    EXPECT_EQ(E_OUTOFMEMORY, COM::CreateObject(&NullCreator, nullptr, IID_IUnknown, &found));
    EXPECT_EQ(kUntouched, found);

    // The allocation operator gives null instead of throwing, and no constructor runs.
    EXPECT_EQ(E_OUTOFMEMORY, COM::CreateObject(&CHugeObject::Create, nullptr, IID_IUnknown, &found));
    EXPECT_EQ(0, CHugeObject::s_constructed);
    EXPECT_EQ(kUntouched, found);

    // A constructor that reports a failure: the half-built object is deleted, its result returned.
    const HRESULT failure = static_cast<HRESULT>(0x80041234);
    CPersistObject::s_constructorResult = failure;
    EXPECT_EQ(failure, COM::CreateObject(&CPersistObject::Create, nullptr, IID_IPersist, &found));
    EXPECT_EQ(kUntouched, found);
    EXPECT_EQ(1, CPersistObject::s_constructed);
    EXPECT_EQ(1, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, AggregatedObjectShowsTheOuterIdentity)
{
    {
        COuterObject outer;
        ASSERT_EQ(S_OK, outer.Aggregate());
        ASSERT_NE(nullptr, outer.m_inner);
        EXPECT_EQ(1, CPersistObject::s_constructed);
        EXPECT_EQ(1, outer.m_references);

        IPersist* persist = nullptr;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
        auto* inner = static_cast<CPersistObject*>(persist);
        EXPECT_EQ(&outer, inner->GetOwner());
        EXPECT_EQ(outer.m_inner, inner->Identity());
        EXPECT_EQ(2, outer.m_references);

        // Through the inner object's interface, IUnknown is the outer object.
        IUnknown* identity = nullptr;
        ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
        EXPECT_EQ(3, outer.m_references);
        identity->Release();
        persist->Release();
        EXPECT_EQ(1, outer.m_references);

        // The inner object's own count was never touched: it still holds only the outer's reference.
        EXPECT_EQ(2u, outer.m_inner->AddRef());
        EXPECT_EQ(1u, outer.m_inner->Release());
        EXPECT_EQ(0, CPersistObject::s_destroyed);
    }
    EXPECT_EQ(1, CPersistObject::s_destroyed);
}

TEST_F(UnknownTest, ObjectsLiveInTheTaskAllocator)
{
    auto* object = new CPersistObject(nullptr);
    ASSERT_NE(nullptr, object);
    IMalloc* allocator = nullptr;
    ASSERT_EQ(S_OK, ::CoGetMalloc(1, &allocator));
    EXPECT_EQ(1, allocator->DidAlloc(object));
    EXPECT_GE(allocator->GetSize(object), sizeof(CPersistObject));
    allocator->Release();
    object->NonDelegatingAddRef();
    object->NonDelegatingRelease();
}
