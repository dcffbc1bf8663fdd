// The fake graph scripted the way a player's tests need it: failures at any step, events,
// positions, and a record of what was obtained and released.
#include "media/fake/fakefiltergraph.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

using ::testing::ElementsAre;

// Obtains the roles in a player's order, stopping at the first failure, then releases what it
// holds in a player's closing order; returns the failing status.
HRESULT BuildAndClose(IFilterGraphFactory& factory) {
    IGraphBuilder* pGB = nullptr;
    IMediaControl* pMC = nullptr;
    IMediaEventEx* pME = nullptr;
    IMediaSeeking* pMS = nullptr;
    IVideoWindow* pVW = nullptr;
    IBasicVideo* pBV = nullptr;
    IBasicAudio* pBA = nullptr;
    HRESULT hr = factory.CreateFilterGraph(&pGB);
    if (SUCCEEDED(hr)) {
        hr = pGB->RenderFile("/clip.mpg", nullptr);
    }
    if (SUCCEEDED(hr)) {
        (void)(FAILED(hr = pGB->QueryInterface(&pMC)) || FAILED(hr = pGB->QueryInterface(&pME)) ||
               FAILED(hr = pGB->QueryInterface(&pMS)) || FAILED(hr = pGB->QueryInterface(&pVW)) ||
               FAILED(hr = pGB->QueryInterface(&pBV)) || FAILED(hr = pGB->QueryInterface(&pBA)));
    }
    for (IUnknown* role : std::initializer_list<IUnknown*>{pME, pMS, pMC, pBA, pBV, pVW, pGB}) {
        if (role != nullptr) {
            role->Release();
        }
    }
    return hr;
}

TEST(FakeFilterGraph, ReleasingAfterAFailureHalfWayReleasesExactlyWhatWasObtained) {
    for (const IID failing : {IID_IMediaControl, IID_IMediaEventEx, IID_IMediaSeeking,
                              IID_IVideoWindow, IID_IBasicVideo, IID_IBasicAudio}) {
        CFakeFilterGraphFactory factory;
        factory.Graph().FailQueryInterface(failing, E_NOINTERFACE);
        const HRESULT hr = BuildAndClose(factory);
        char message[128];
        std::snprintf(message, sizeof message, "FAILED(hr=0x%x)", static_cast<unsigned>(hr));
        EXPECT_STREQ(message, "FAILED(hr=0x80004002)");
        EXPECT_EQ(factory.Graph().ReferencesObtained(failing), 0) << InterfaceName(failing);
        EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0) << InterfaceName(failing);
        // One release for each role obtained (all asked for but the failing one) and the graph.
        EXPECT_EQ(factory.Graph().CountCalls("Release("),
                  factory.Graph().CountCalls("QueryInterface("));
    }
    CFakeFilterGraphFactory factory;
    factory.Graph().SetResult(FakeCall::RenderFile, VFW_E_UNSUPPORTED_STREAM);
    EXPECT_EQ(BuildAndClose(factory), VFW_E_UNSUPPORTED_STREAM);
    EXPECT_THAT(factory.Graph().Calls(),
                ElementsAre("RenderFile(/clip.mpg, null)", "Release(IID_IGraphBuilder)"));
    CFakeFilterGraphFactory failing;
    failing.SetCreateResult(E_OUTOFMEMORY);
    EXPECT_EQ(BuildAndClose(failing), E_OUTOFMEMORY);
    EXPECT_EQ(failing.GraphsHandedOut(), 0);
}

TEST(FakeFilterGraph, RecordsCallsAndPlaysItsScript) {
    CFakeFilterGraphFactory factory;
    CFakeFilterGraph& graph = factory.Graph();
    graph.SetNoVideo(true);
    graph.SetStopPosition(50 * 10'000'000LL);
    graph.SetResult(FakeCall::Pause, E_FAIL);
    IGraphBuilder* pGB = nullptr;
    ASSERT_EQ(factory.CreateFilterGraph(&pGB), S_OK);
    IMediaControl* pMC = nullptr;
    IMediaSeeking* pMS = nullptr;
    IVideoWindow* pVW = nullptr;
    IMediaEventEx* pME = nullptr;
    ASSERT_EQ(pGB->QueryInterface(&pMC), S_OK);
    ASSERT_EQ(pGB->QueryInterface(&pMS), S_OK);
    ASSERT_EQ(pGB->QueryInterface(&pVW), S_OK);
    ASSERT_EQ(pGB->QueryInterface(&pME), S_OK);

    long visible = 0;
    EXPECT_EQ(pVW->get_Visible(&visible), E_NOINTERFACE);
    EXPECT_EQ(pMC->Run(), S_OK);
    EXPECT_EQ(pMC->Pause(), E_FAIL);
    EXPECT_EQ(graph.FilterState(), State_Running);
    LONGLONG beyond = 80 * 10'000'000LL;
    EXPECT_EQ(pMS->SetPositions(&beyond, AM_SEEKING_AbsolutePositioning, nullptr,
                                AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_EQ(graph.CurrentPosition(), beyond);
    LONGLONG stop = 0;
    EXPECT_EQ(pMS->GetStopPosition(&stop), S_OK);
    EXPECT_EQ(stop, 50 * 10'000'000LL);

    struct CTarget final : INotifyTarget {
        void PostGraphNotify(long lMsg, LONG_PTR) override { messages.push_back(lMsg); }
        std::vector<long> messages;
    } target;
    EXPECT_EQ(pME->SetNotifyWindow(&target, 1037, 0), S_OK);
    graph.QueueEvent(EC_COMPLETE);
    EXPECT_THAT(target.messages, ElementsAre(1037));
    long code = 0;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    EXPECT_EQ(pME->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(pME->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(pME->SetNotifyWindow(nullptr, 0, 0), S_OK);
    graph.QueueEvent(EC_COMPLETE);
    EXPECT_EQ(target.messages.size(), 1u);

    EXPECT_EQ(graph.OutstandingReferences(IID_IVideoWindow), 1);
    for (IUnknown* role : std::initializer_list<IUnknown*>{pME, pMS, pMC, pVW, pGB}) {
        role->Release();
    }
    EXPECT_EQ(graph.TotalOutstandingReferences(), 0);
    EXPECT_EQ(graph.CountCalls("Release(IID_IVideoWindow)"), 1);
    EXPECT_EQ(graph.Calls().back(), "Release(IID_IGraphBuilder)");
}

TEST(FakeFilterGraph, EachCreationHandsOutItsOwnGraph) {
    CFakeFilterGraphFactory factory;
    factory.Graph().SetVideoSize(720, 576);
    IGraphBuilder* first = nullptr;
    ASSERT_EQ(factory.CreateFilterGraph(&first), S_OK);
    factory.PrepareNextGraph().SetResult(FakeCall::RenderFile, E_FAIL);
    IGraphBuilder* second = nullptr;
    ASSERT_EQ(factory.CreateFilterGraph(&second), S_OK);
    EXPECT_EQ(first->RenderFile("/a.mpg", nullptr), S_OK);
    EXPECT_EQ(second->RenderFile("/b.mpg", nullptr), E_FAIL);
    EXPECT_EQ(factory.GraphsHandedOut(), 2);
    first->Release();
    second->Release();
    EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0);
}

}  // namespace
