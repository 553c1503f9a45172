// A message box with an OK button: MessageBoxA on Windows; on Linux a GTK 3 message dialog when
// a display is there, the text on standard error otherwise. Blocks until it is dismissed. Text
// and caption are in the ANSI code page. Call from the thread that owns the user interface.
#pragma once

#include <string>

namespace platform {

void showMessageBox(const std::string& text, const std::string& caption);

} // namespace platform
