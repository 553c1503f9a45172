// Message boxes from any thread: the box itself is the backend's (backendMessageBox, UI thread
// only); this file carries a worker's box to the UI thread and brings the answer back.
#include "platform/message_box.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/dialog.h"
#include "platform/ui_thread.h"
#include "ui_backend.h"

namespace platform {

int messageBox(const std::u16string& text, const std::u16string& caption, MessageBoxButtons buttons,
               MessageBoxIcon icon, Dialog* owner) {
  if (!uiAvailable()) {
    // No display: the text still reaches the person who started the program.
    std::fprintf(stderr, "%s\n", wideToUtf8(text).c_str());
    return buttons == MessageBoxButtons::YesNo ? kIdYes : kIdOk;
  }
  if (isUiThread()) return detail::backendMessageBox(text, caption, buttons, icon, owner);
  int answer = kIdCancel;
  uiPoster().call([&] { answer = detail::backendMessageBox(text, caption, buttons, icon, owner); });
  return answer;
}

int messageBox(const std::string& ansiText, const std::string& ansiCaption, MessageBoxButtons buttons,
               MessageBoxIcon icon, Dialog* owner) {
  return messageBox(ansiToWide(ansiText), ansiToWide(ansiCaption), buttons, icon, owner);
}

void showMessageBox(const std::string& text, const std::string& caption) {
  messageBox(text, caption, MessageBoxButtons::Ok, MessageBoxIcon::None, nullptr);
}

} // namespace platform
