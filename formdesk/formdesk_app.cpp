#include "formdesk_app.h"

#include "formdesk_dialog.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

int CKDSK_F_App::run(const std::u16string& commandLine) {
  CKDSK_F_Dlg dialog(commandLine);
  if (dialog.doModal() < 0) {
    platform::showMessageBox("formdesk: the window could not be opened (is there a display?)", "formdesk");
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  // The command line as one text, the program's path first, as Windows reports it.
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i) line += ' ';
    line += argv[i];
  }
  CKDSK_F_App app;
  return app.run(platform::ansiToWide(line));
}
