// Calls carried out on the UI thread: one process-wide queue of (poster, call) pairs. A worker
// appends and wakes the UI thread through the backend; the UI thread drains the queue from its
// message loop and runs each call only while its poster is open. Closing a poster (its dialog
// ended) removes its calls from the queue and releases any worker waiting for one of them, so a
// call never outlives its dialog and a waiting worker never hangs on a dialog that has gone.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/ui_thread.h"
#include "ui_backend.h"

namespace platform {

namespace detail {

struct UiChannel {
  std::atomic<bool> open{true};
};

} // namespace detail

namespace {

using detail::UiChannel;

// A worker waiting in UiPoster::call.
struct Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool finished = false;
  bool ran = false;
  void finish(bool hasRun) {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    ran = hasRun;
    cv.notify_all();
  }
};

struct Item {
  std::shared_ptr<UiChannel> channel;
  std::function<void()> fn;
  std::shared_ptr<Waiter> waiter;
};

struct Queue {
  std::mutex mutex;
  std::deque<Item> items;
  bool haveUiThread = false;
  std::thread::id uiThread;
  bool uiOk = false;
};

Queue& queue() {
  static Queue* q = new Queue; // never destroyed: workers may still post while the process exits
  return *q;
}

bool enqueue(Item item) {
  Queue& q = queue();
  bool wake;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (!item.channel || !item.channel->open.load(std::memory_order_acquire)) return false;
    q.items.push_back(std::move(item));
    wake = q.haveUiThread && q.uiOk;
  }
  if (wake) detail::backendWakeUi();
  return true;
}

} // namespace

bool initUiThread() {
  Queue& q = queue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.haveUiThread) return q.uiThread == std::this_thread::get_id() && q.uiOk;
    q.haveUiThread = true;
    q.uiThread = std::this_thread::get_id();
  }
  bool ok = detail::backendInitUi();
  bool pending;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.uiOk = ok;
    pending = !q.items.empty();
  }
  if (ok && pending) detail::backendWakeUi();
  return ok;
}

bool isUiThread() {
  Queue& q = queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  return q.haveUiThread && q.uiThread == std::this_thread::get_id();
}

bool uiAvailable() {
  if (!isUiThread()) {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.haveUiThread) return q.uiOk;
  }
  return initUiThread();
}

bool UiPoster::post(std::function<void()> fn) const { return enqueue(Item{channel_, std::move(fn), nullptr}); }

bool UiPoster::call(std::function<void()> fn) const {
  if (!isOpen()) return false;
  if (isUiThread()) {
    fn();
    return true;
  }
  auto waiter = std::make_shared<Waiter>();
  if (!enqueue(Item{channel_, std::move(fn), waiter})) return false;
  std::unique_lock<std::mutex> lock(waiter->mutex);
  waiter->cv.wait(lock, [&] { return waiter->finished; });
  return waiter->ran;
}

bool UiPoster::isOpen() const { return channel_ && channel_->open.load(std::memory_order_acquire); }

UiPoster uiPoster() {
  static const UiPoster* process = new UiPoster(detail::openChannel());
  return *process;
}

namespace detail {

std::shared_ptr<UiChannel> openChannel() { return std::make_shared<UiChannel>(); }

void closeChannel(const std::shared_ptr<UiChannel>& channel) {
  if (!channel) return;
  std::deque<Item> dropped;
  {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    channel->open.store(false, std::memory_order_release);
    for (auto it = q.items.begin(); it != q.items.end();) {
      if (it->channel == channel) {
        dropped.push_back(std::move(*it));
        it = q.items.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Item& item : dropped)
    if (item.waiter) item.waiter->finish(false);
}

void runPostedCalls() {
  Queue& q = queue();
  // Only the calls queued up to now: a call that posts again runs at the next wake-up, so a
  // worker that floods the queue cannot starve the message loop.
  size_t n;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    n = q.items.size();
  }
  for (; n > 0; --n) {
    Item item;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.items.empty()) return;
      item = std::move(q.items.front());
      q.items.pop_front();
    }
    bool open = item.channel->open.load(std::memory_order_acquire);
    if (open) item.fn();
    if (item.waiter) item.waiter->finish(open);
  }
}

} // namespace detail

} // namespace platform
