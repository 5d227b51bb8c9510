// What sway's IPC messages say about the window in front: headers, the tree at start-up,
// window and workspace events, and what a peer may send that sway would not.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/foreground/sway_ipc.h"

namespace orb::platform {

void PrintTo(const ForegroundWindow& window, std::ostream* pOut) {
  *pOut << "{window " << window.nWindow << ", pid " << window.nPid << "}";
}

namespace {

using sway::FocusedInTree;
using sway::FrontAfterEvent;

TEST(SwayIpcHeaderTest, EncodedMessagesReadBackAndForeignOrHugeHeadersAreRefused) {
  const auto bytes = sway::EncodeMessage(sway::kSubscribe, R"(["window"])");
  ASSERT_EQ(bytes.size(), sway::kHeaderBytes + 10);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "i3-ipc");
  std::string reason;
  const auto header = sway::ParseHeader(bytes, &reason);
  ASSERT_TRUE(header.has_value()) << reason;
  EXPECT_EQ(header->nType, sway::kSubscribe);
  EXPECT_EQ(header->nLength, 10u);

  auto foreign = bytes;
  foreign[1] = 'x';
  EXPECT_FALSE(sway::ParseHeader(foreign, &reason).has_value());
  EXPECT_NE(reason.find("i3-ipc"), std::string::npos) << reason;

  auto huge = sway::EncodeMessage(sway::kEventWindow, "");
  const std::uint32_t nLength = sway::kMaxPayloadBytes + 1;
  std::memcpy(huge.data() + 6, &nLength, 4);
  EXPECT_FALSE(sway::ParseHeader(huge, &reason).has_value());
  const std::uint32_t nLargest = sway::kMaxPayloadBytes;
  std::memcpy(huge.data() + 6, &nLargest, 4);
  EXPECT_TRUE(sway::ParseHeader(huge, &reason).has_value());

  EXPECT_FALSE(sway::ParseHeader(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 13), &reason));
}

TEST(SwayIpcSubscribeTest, OnlyAnExplicitSuccessCounts) {
  EXPECT_TRUE(sway::SubscribeSucceeded(R"({"success": true})"));
  EXPECT_FALSE(sway::SubscribeSucceeded(R"({"success": false})"));
  EXPECT_FALSE(sway::SubscribeSucceeded(R"({"success": "true"})"));
  EXPECT_FALSE(sway::SubscribeSucceeded(R"([true])"));
  EXPECT_FALSE(sway::SubscribeSucceeded(R"({"success": true)"));
}

// A tree as sway gives it, cut down: outputs, workspaces, a split with two views (one
// native, one XWayland), and a floating view.
std::string Tree(int nFocusedId) {
  auto focused = [&](int nId) { return nId == nFocusedId ? "true" : "false"; };
  return std::string(R"({"id":1,"type":"root","focused":)") + focused(1) + R"(,"nodes":[
    {"id":2,"type":"output","name":"__i3","focused":false,"nodes":[]},
    {"id":3,"type":"output","name":"HEADLESS-1","focused":)" + focused(3) + R"(,"nodes":[
      {"id":4,"type":"workspace","name":"1","focused":)" + focused(4) + R"(,"nodes":[
        {"id":5,"type":"con","focused":)" + focused(5) + R"(,"nodes":[
          {"id":6,"type":"con","app_id":"wev","pid":4242,"focused":)" + focused(6) + R"(,"nodes":[]},
          {"id":7,"type":"con","app_id":null,"shell":"xwayland","pid":4343,
           "window_properties":{"class":"Xev"},"focused":)" + focused(7) + R"(,"nodes":[]}]}],
        "floating_nodes":[
          {"id":8,"type":"floating_con","app_id":"foot","pid":4444,"focused":)" + focused(8) + R"(,"nodes":[]}]}]}]})";
}

TEST(SwayIpcTreeTest, TheFocusedViewIsFoundWhereverItIsAndNothingWhenAContainerHoldsTheFocus) {
  EXPECT_EQ(FocusedInTree(Tree(6)), (ForegroundWindow{6, 4242}));
  EXPECT_EQ(FocusedInTree(Tree(7)), (ForegroundWindow{7, 4343}));  // XWayland, same as native
  EXPECT_EQ(FocusedInTree(Tree(8)), (ForegroundWindow{8, 4444}));  // floating
  for (const int nContainer : {1, 3, 4, 5}) {
    EXPECT_EQ(FocusedInTree(Tree(nContainer)), ForegroundWindow{}) << nContainer;
  }
  EXPECT_EQ(FocusedInTree(Tree(99)), ForegroundWindow{});  // nothing focused
  EXPECT_FALSE(FocusedInTree("").has_value());
  EXPECT_FALSE(FocusedInTree("[]").has_value());
  EXPECT_FALSE(FocusedInTree(Tree(6).substr(0, 200)).has_value());
}

TEST(SwayIpcTreeTest, AViewsPidIsBelievedOnlyWhenItIsAProcessId) {
  for (const char* pPid : {"0", "-5", "2147483648", "1e3", "\"77\"", "null", "18446744073709551615"}) {
    const std::string tree =
        std::string(R"({"id":1,"nodes":[{"id":9,"focused":true,"pid":)") + pPid + R"(,"nodes":[]}]})";
    EXPECT_EQ(FocusedInTree(tree), (ForegroundWindow{9, 0})) << pPid;
  }
  EXPECT_EQ(FocusedInTree(R"({"id":1,"nodes":[{"id":9,"focused":true,"pid":2147483647}]})"),
            (ForegroundWindow{9, 2147483647}));
  // A view without a usable id names no window.
  EXPECT_EQ(FocusedInTree(R"({"id":1,"nodes":[{"id":-3,"focused":true,"pid":5}]})"), ForegroundWindow{});
}

TEST(SwayIpcTreeTest, ADeepTreeIsWalkedWithoutRecursion) {
  std::string tree;
  const int nDepth = 20000;
  for (int i = 0; i < nDepth; ++i) tree += R"({"id":)" + std::to_string(i + 1) + R"(,"nodes":[)";
  tree += R"({"id":99999,"focused":true,"pid":12})";
  for (int i = 0; i < nDepth; ++i) tree += "]}";
  EXPECT_EQ(FocusedInTree(tree), (ForegroundWindow{99999, 12}));
}

std::string WindowEvent(const char* pChange, int nId, int nPid) {
  return std::string(R"({"change":")") + pChange + R"(","container":{"id":)" + std::to_string(nId) +
         R"(,"type":"con","pid":)" + std::to_string(nPid) + R"(,"focused":true,"nodes":[]}})";
}

TEST(SwayIpcEventTest, FocusNamesTheWindowAndItsProcess) {
  const ForegroundWindow before{6, 4242};
  EXPECT_EQ(FrontAfterEvent(sway::kEventWindow, WindowEvent("focus", 7, 4343), before), (ForegroundWindow{7, 4343}));
  // The same event under another type is not a window event.
  EXPECT_FALSE(FrontAfterEvent(sway::kGetTree, WindowEvent("focus", 7, 4343), before).has_value());
  EXPECT_FALSE(FrontAfterEvent(0x80000001u, WindowEvent("focus", 7, 4343), before).has_value());
  // Other changes of a window say nothing about what is in front.
  for (const char* pChange : {"new", "title", "move", "fullscreen_mode", "urgent", "mark", "floating"}) {
    EXPECT_FALSE(FrontAfterEvent(sway::kEventWindow, WindowEvent(pChange, 7, 4343), before).has_value()) << pChange;
  }
}

TEST(SwayIpcEventTest, ClosingTheWindowInFrontLeavesNothingInFrontAndAnotherWindowClosingChangesNothing) {
  const ForegroundWindow before{6, 4242};
  EXPECT_EQ(FrontAfterEvent(sway::kEventWindow, WindowEvent("close", 6, 4242), before), ForegroundWindow{});
  EXPECT_FALSE(FrontAfterEvent(sway::kEventWindow, WindowEvent("close", 7, 4343), before).has_value());
  EXPECT_FALSE(FrontAfterEvent(sway::kEventWindow, WindowEvent("close", 6, 4242), ForegroundWindow{}).has_value());
}

TEST(SwayIpcEventTest, AnEmptyWorkspaceInFrontLeavesNoWindowAndOneWithWindowsWaitsForItsWindowsEvent) {
  const ForegroundWindow before{6, 4242};
  EXPECT_EQ(FrontAfterEvent(sway::kEventWorkspace,
                            R"({"change":"focus","current":{"id":10,"type":"workspace","nodes":[],"floating_nodes":[]},
                               "old":{"id":4,"type":"workspace","nodes":[{"id":6}]}})",
                            before),
            ForegroundWindow{});
  EXPECT_FALSE(FrontAfterEvent(sway::kEventWorkspace,
                               R"({"change":"focus","current":{"id":4,"nodes":[{"id":6}],"floating_nodes":[]}})", before)
                   .has_value());
  EXPECT_FALSE(FrontAfterEvent(sway::kEventWorkspace,
                               R"({"change":"focus","current":{"id":4,"nodes":[],"floating_nodes":[{"id":8}]}})", before)
                   .has_value());
  EXPECT_FALSE(FrontAfterEvent(sway::kEventWorkspace, R"({"change":"init","current":{"id":11,"nodes":[]}})", before)
                   .has_value());
}

TEST(SwayIpcEventTest, WhatSwayWouldNotSendChangesNothing) {
  const ForegroundWindow before{6, 4242};
  for (const char* pPayload :
       {"", "null", "[]", "{}", R"({"change":"focus"})", R"({"change":"focus","container":null})",
        R"({"change":"focus","container":{"id":"7","pid":1}})", R"({"change":"focus","container":{"pid":1}})",
        R"({"change":7,"container":{"id":7,"pid":1}})", R"({"change":"focus","container":{"id":7,"pid":1})",
        "\xff\xfe", R"({"change":"focus","current":[]})"}) {
    EXPECT_FALSE(FrontAfterEvent(sway::kEventWindow, pPayload, before).has_value()) << pPayload;
    EXPECT_FALSE(FrontAfterEvent(sway::kEventWorkspace, pPayload, before).has_value()) << pPayload;
  }
}

}  // namespace
}  // namespace orb::platform
