// The machine's start-up steps: the real dialogs, the version-check thread, the registry and
// the program folder, the process that replaces the program file.
#include <chrono>
#include <thread>

#include "formdesk_launch.h"
#include "formwell_app.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "proxy_settings.h"
#include "setup.h"
#include "start_dialog.h"
#include "text_table.h"
#include "update_dialog.h"
#include "version_check.h"

namespace formwell {

namespace {

class SystemStartupSteps : public StartupSteps {
public:
  void loadTexts() override { loadTextTable(); }
  void applyProxySettings() override { formwell::applyProxySettings(); }
  void startVersionCheck() override { formwell::startVersionCheck(); }
  std::string runStartDialog() override {
    CStartDlg dialog;
    dialog.doModal(); // its result is not looked at; only the choice counts
    return dialog.choice;
  }
  bool versionCheckDone() override { return formwell::versionCheckDone.load(std::memory_order_acquire) != 0; }
  void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  std::string serverVersion() override { return formwell::serverVersion; }
  std::string readInstalledVersion() override { return setup.readInstalledVersion(); }
  int programFolderExists() override { return setup.programFolderExists(); }
  int finishPendingInstall() override {
    setup.removeLeftovers();
    setup.carrySavedData();
    return setup.finishPendingInstall(setup.programFolder());
  }
  int installCarriedPackage() override { return setup.installCarriedPackage(); }
  int runUpdateDialog() override {
    CUpdateDlg dialog(updateBaseUrl, formwell::serverVersion, setup.programFolder(), platform::systemInternet(), setup);
    return dialog.doModal(); // its destructor waits for a worker that is still leaving
  }
  void launchFormDesk(const std::string& choice) override { ::launchFormDesk(choice, setup.programFolder()); }
  int replaceSelf() override { return setup.replaceSelf(); }
};

} // namespace

StartupSteps& systemStartupSteps() {
  static SystemStartupSteps* steps = new SystemStartupSteps; // lives as long as the process
  return *steps;
}

} // namespace formwell
