#include "platform/message_box.h"

#include <windows.h>

namespace platform {

void showMessageBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

} // namespace platform
