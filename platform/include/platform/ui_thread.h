// The user-interface thread and calls carried out on it.
//
// Every window of a program lives on one thread, the UI thread: the thread that called
// initUiThread() (Dialog::doModal and messageBox call it for the thread they run on when no UI
// thread is set yet, so a program that shows its first window on the main thread need not call
// it). Worker threads never touch a window: they hand a call to the UI thread through a UiPoster,
// and the UI thread runs it the next time it handles its messages (a modal dialog's or a message
// box's loop). Windows wakes the UI thread with PostMessage to a hidden window of that thread;
// GTK with an idle source on the main context (g_idle_add).
//
// A UiPoster belongs to one dialog (Dialog::poster()) or to no dialog (uiPoster()). Once its
// dialog has ended (endDialog, the window closed, or the Dialog destroyed), the poster is closed:
// calls posted after that, and calls still queued at that moment, are dropped without running, so
// a call never reaches a dialog that has gone. A poster is a small value: copy it freely into a
// worker; it stays valid (and safe to call) after the dialog object itself has been destroyed.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// Makes the calling thread the UI thread (once per process; later calls from the same thread do
// nothing; false when another thread already is the UI thread or the display cannot be opened).
// On Linux it initialises GTK; without a display it answers false, and dialogs cannot run.
bool initUiThread();

// Whether the calling thread is the UI thread.
bool isUiThread();

// Whether a display is there for windows (Linux: GTK could open one; Windows: always).
bool uiAvailable();

namespace detail {
struct UiChannel; // the queue and the open/closed state that a poster shares with its dialog
}

class UiPoster {
public:
  // A closed poster: every call is dropped.
  UiPoster() = default;

  // Queues fn to run on the UI thread and returns at once: true when queued, false when the
  // poster is closed (fn then never runs). Any thread may call; calls run in the order posted.
  // Called on the UI thread itself, fn is queued as well (it runs from the message loop, never
  // inside this call).
  bool post(std::function<void()> fn) const;

  // Runs fn on the UI thread and waits until it has run: true when it ran, false when it was
  // dropped (poster closed before or while waiting). On the UI thread it runs fn directly.
  // The UI thread must be handling messages (inside a modal dialog or message box) for the call
  // to run; a worker that calls this while the UI thread waits for that worker would hang.
  bool call(std::function<void()> fn) const;

  // False once the dialog has ended: a worker can test this to stop early, e.g. before an
  // extraction whose results nobody would see.
  bool isOpen() const;

private:
  friend class Dialog;
  friend UiPoster uiPoster();
  explicit UiPoster(std::shared_ptr<detail::UiChannel> channel) : channel_(std::move(channel)) {}
  std::shared_ptr<detail::UiChannel> channel_;
};

// A poster that belongs to no dialog: open for the life of the process. Message boxes from
// workers travel through it.
UiPoster uiPoster();

} // namespace platform
