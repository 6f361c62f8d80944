#include "framework/Window.h"
#include "framework/Sound.h"
#include "framework/WaitCursor.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace fw;

TEST(Window, PostedMessagesArriveInOrderOnTheLoop)
{
    Window w;
    std::vector<std::pair<WPARAM, LPARAM>> got;
    w.OnMessage(WM_USER + 100, [&](WPARAM wp, LPARAM lp) {
        got.emplace_back(wp, lp);
        return 0;
    });
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(w.Post(WM_USER + 100, static_cast<WPARAM>(i), -i));
    EXPECT_TRUE(got.empty()) << "posting never dispatches at once";
    ASSERT_TRUE(MessageLoop::PumpUntil([&] { return got.size() == 50; }, 5000));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)],
                  std::make_pair(static_cast<WPARAM>(i), static_cast<LPARAM>(-i)));
}

TEST(Window, SendDispatchesAtOnceAndUnknownMessagesGoToTheDefault)
{
    struct Counting : Window {
        int defaults = 0;
        LRESULT DefaultHandler(unsigned, WPARAM, LPARAM) override { return ++defaults; }
    } w;
    w.OnMessage(1124, [](WPARAM wp, LPARAM) { return static_cast<LRESULT>(wp * 2); });
    EXPECT_EQ(w.Send(1124, 21), 42);
    EXPECT_EQ(w.Send(1125), 1);
    EXPECT_TRUE(w.HasHandler(1124));
    EXPECT_FALSE(w.HasHandler(1125));
}

TEST(Window, HandlerMayPostToItselfAndReplaceItself)
{
    Window w;
    int n = 0;
    w.OnMessage(3000, [&](WPARAM, LPARAM) {
        if (++n < 3)
            w.Post(3000);
        else
            w.OnMessage(3000, [](WPARAM, LPARAM) { return 0; });
        return 0;
    });
    w.Post(3000);
    EXPECT_TRUE(MessageLoop::PumpUntil([&] { return n == 3; }, 5000));
    EXPECT_FALSE(MessageLoop::PumpUntil([&] { return n > 3; }, 50));
}

TEST(WaitCursor, NestedScopesShowItOnce)
{
    std::vector<bool> calls;
    WaitCursor::SetHook([&](bool on) { calls.push_back(on); });
    {
        WaitCursor a;
        WaitCursor b;
        EXPECT_EQ(WaitCursor::Depth(), 2);
    }
    WaitCursor::SetHook(nullptr);
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST(Sound, MissingSoundsPlayNothing)
{
    testutil::TempDir dir;
    Sound::SetResourceDir("");
    EXPECT_FALSE(Sound::PlayResource("Done"));
    Sound::SetResourceDir(dir.Path());
    EXPECT_FALSE(Sound::PlayResource("Done"));
    EXPECT_FALSE(Sound::PlayResource("../Done"));
    testutil::WriteFile(dir.File("done.WAV"), "RIFF");
    EXPECT_EQ(Sound::Find("Done"), dir.File("done.WAV"));
    Sound::SetResourceDir("");
}

TEST(Window, MessagesForADestroyedWindowAreDroppedAndNoLongerPending)
{
    int base = MessageLoop::PendingMessages();
    int gone = 0, handled = 0;
    auto w = std::make_unique<Window>();
    w->OnMessage(4000, [&](WPARAM, LPARAM) { return ++gone; });
    Window keep;
    keep.OnMessage(4000, [&](WPARAM, LPARAM) { return ++handled; });
    w->Post(4000);
    keep.Post(4000);
    keep.Post(4000);
    EXPECT_EQ(MessageLoop::PendingMessages(), base + 3);
    w.reset();
    EXPECT_EQ(MessageLoop::PendingMessages(), base + 2);
    ASSERT_TRUE(MessageLoop::PumpUntil([&] { return handled == 2; }, 5000));
    EXPECT_EQ(MessageLoop::PendingMessages(), base);
    EXPECT_EQ(gone, 0);
}
