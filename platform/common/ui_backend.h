// What the UI queue (ui_queue.cpp) needs from a backend, and what a backend calls back.
// Private to the platform layer.
#pragma once

#include <memory>
#include <string>

#include "platform/message_box.h"

namespace platform::detail {

// UI thread: shows a message box and returns kIdOk / kIdYes / kIdNo.
int backendMessageBox(const std::u16string& text, const std::u16string& caption, MessageBoxButtons buttons,
                      MessageBoxIcon icon, Dialog* owner);

// Called once on the thread that becomes the UI thread: prepare the wake-up (Windows: a hidden
// message window; GTK: gtk_init_check). False when the display cannot be opened.
bool backendInitUi();
// Any thread: make the UI thread call runPostedCalls() soon (PostMessage / g_idle_add).
void backendWakeUi();

// UI thread: runs the queued calls whose posters are still open, drops the others.
void runPostedCalls();

struct UiChannel;
// A new open channel (one per dialog run, and the process-wide one).
std::shared_ptr<UiChannel> openChannel();
// UI thread: closes the channel; its queued calls are dropped and their waiters released.
void closeChannel(const std::shared_ptr<UiChannel>& channel);

} // namespace platform::detail
