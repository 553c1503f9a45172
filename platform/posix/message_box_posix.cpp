// The message box on Linux: a modal GTK 3 message dialog when a display can be opened, the text
// on standard error otherwise (a program started without a desktop still says what went wrong).
#include "platform/message_box.h"

#include <cstdio>
#include <gtk/gtk.h>

#include "platform/codepage.h"

namespace platform {

void showMessageBox(const std::string& text, const std::string& caption) {
  std::string utf8 = wideToUtf8(ansiToWide(text));
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "%s\n", utf8.c_str());
    return;
  }
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", utf8.c_str());
  std::string title = wideToUtf8(ansiToWide(caption));
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  while (gtk_events_pending())
    gtk_main_iteration();
}

} // namespace platform
