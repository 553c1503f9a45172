#include "formdesk_app.h"

#include "browser_emulation.h"
#include "formdesk_dialog.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/replace_file.h"
#include "workstation_settings.h"

int CKDSK_F_App::run(const std::u16string& commandLine) {
  // Copies of the saved data or the QR picture that an ended run left half written go first.
  WorkstationSettings settings = loadWorkstationSettings(platform::systemRegistry(), commandLine);
  platform::removeStaleTemporaries(platform::wideToAnsi(settings.programFolder));
  platform::removeStaleTemporaries(platform::wideToAnsi(settings.packageFolder + u"images"));
#ifdef _WIN32
  // Before the dialog creates the browser control, which reads its document mode once. A value
  // that cannot be written leaves the control in its old mode; the form still opens. (WebKit on
  // Linux has no such modes: nothing is written there.)
  writeBrowserEmulation(platform::systemRegistry(), platform::modulePath());
#endif
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
