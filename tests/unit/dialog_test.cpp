// The dialog floor without windows: dialog units to pixels as Windows converts them, and the
// calls that worker threads post to the UI thread (order, dropping after a dialog ended, waiting
// callers released).
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../platform/common/ui_backend.h"
#include "platform/dialog.h"
#include "platform/ui_thread.h"

using namespace platform;

namespace {

const DialogTemplate kEmpty = {1, 10, 10, 0, "", "Arial", 9, {}};

TEST(DialogUnits, MapLikeWindowsWithHalvesAwayFromZero) {
  struct Case {
    int x, y, cx, cy;
    DialogBaseUnits base;
    Rect expected;
  } cases[] = {
      // The start dialog's links with Arial 9 pt (7 x 14): 38*7/4 = 66.5 -> 67, 62*14/8 = 108.5 -> 109.
      {38, 62, 44, 8, {7, 14}, {67, 109, 144, 123}},
      {90, 62, 42, 8, {7, 14}, {158, 109, 231, 123}},
      // The whole start dialog: 171 x 85 units.
      {0, 0, 171, 85, {7, 14}, {0, 0, 299, 149}},
      // The right edge is mapped from x + cx, not from the width alone.
      {1, 1, 1, 1, {6, 13}, {2, 2, 3, 3}},
      // formdesk's browser placed at negative units stays negative, rounded away from zero.
      {-1, -3, 2, 3, {6, 13}, {-2, -5, 2, 0}},
  };
  for (const Case& c : cases) {
    Rect r = mapDialogRect(c.x, c.y, c.cx, c.cy, c.base);
    EXPECT_EQ(r, c.expected) << c.x << "," << c.y << " " << c.cx << "x" << c.cy << " -> " << r.left << "," << r.top
                             << "," << r.right << "," << r.bottom;
  }
}

TEST(DialogUnits, BaseUnitsFromTheFont) {
  // GdiGetCharDimensions: (width of the 52 letters / 26 + 1) / 2.
  EXPECT_EQ(averageCharWidth(364), 7);
  EXPECT_EQ(averageCharWidth(337), 6); // 12.96 -> 12 -> 6
  EXPECT_EQ(averageCharWidth(338), 7); // 13 -> 7
  EXPECT_EQ(pointsToPixels(9), 12);
  EXPECT_EQ(pointsToPixels(8), 11); // 10.67 rounds up
}

// The tests below drive the queue by hand as the UI thread would from its message loop.
void drain() { detail::runPostedCalls(); }

class PostedCalls : public ::testing::Test {
protected:
  void SetUp() override {
    initUiThread(); // this thread is the UI thread (with or without a display)
    ASSERT_TRUE(isUiThread());
    drain();
  }
};

TEST_F(PostedCalls, RunOnTheUiThreadInTheOrderPosted) {
  Dialog dialog(kEmpty);
  UiPoster poster = dialog.poster();
  std::vector<int> seen;
  std::thread::id ranOn;
  std::thread worker([&] {
    for (int i = 0; i < 5; ++i)
      EXPECT_TRUE(poster.post([&seen, &ranOn, i] {
        seen.push_back(i);
        ranOn = std::this_thread::get_id();
      }));
  });
  worker.join();
  EXPECT_TRUE(seen.empty()); // nothing runs until the UI thread handles its messages
  drain();
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(PostedCalls, AreDroppedOnceTheDialogHasEnded) {
  int ran = 0;
  UiPoster poster;
  {
    Dialog dialog(kEmpty);
    poster = dialog.poster();
    EXPECT_TRUE(poster.post([&] { ++ran; })); // queued while open ...
    dialog.endDialog(kIdCancel);              // ... and dropped when the dialog ends
    EXPECT_FALSE(poster.isOpen());
    EXPECT_FALSE(poster.post([&] { ++ran; }));
  }
  // The dialog object is gone; the poster is still safe to use.
  EXPECT_FALSE(poster.post([&] { ++ran; }));
  drain();
  EXPECT_EQ(ran, 0);
  EXPECT_FALSE(UiPoster().post([] {}));
}

TEST_F(PostedCalls, ACallWaitsForTheUiThreadAndIsReleasedWhenTheDialogEnds) {
  Dialog dialog(kEmpty);
  UiPoster poster = dialog.poster();
  std::atomic<int> answer{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    bool ran = poster.call([&] { answer = 42; });
    EXPECT_TRUE(ran);
    done = true;
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_EQ(answer, 42);

  // A worker waiting for a call when the dialog ends is let go with false, the call unrun.
  std::atomic<bool> waiting{false};
  std::atomic<int> result{-1};
  std::thread late([&] {
    waiting = true;
    result = poster.call([&] { answer = 7; }) ? 1 : 0;
  });
  while (!waiting)
    std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  dialog.endDialog(kIdCancel);
  late.join();
  EXPECT_EQ(result, 0);
  drain();
  EXPECT_EQ(answer, 42);
}

TEST_F(PostedCalls, OnTheUiThreadACallRunsAtOnce) {
  int ran = 0;
  EXPECT_TRUE(uiPoster().call([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
}

} // namespace
