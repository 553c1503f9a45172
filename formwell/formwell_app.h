// CFormwellApp: formwell's whole life is one call, InitInstance, on the main thread. It loads
// the texts, applies the proxy settings, shows the start dialog while the version check runs,
// waits for the check, then installs the carried package, offers the update, or neither, and
// ends by replacing its own program file (after an update was offered) or by starting formdesk.
//
// The steps it takes reach the world through StartupSteps, so the decisions can be tested with
// fakes; systemStartupSteps() are the real ones (dialogs, threads, registry, processes).
#pragma once

#include <string>

namespace formwell {

// The operations the start-up sequence calls, in the order it calls them.
class StartupSteps {
public:
  virtual ~StartupSteps() = default;
  virtual void loadTexts() = 0;          // uiText
  virtual void applyProxySettings() = 0; // before any request
  // Clears versionCheckDone and starts selectUpdateServer on a worker thread.
  virtual void startVersionCheck() = 0;
  // Runs the start dialog modally; its choice ("Formwell", "AccountHelper" or empty).
  virtual std::string runStartDialog() = 0;
  virtual bool versionCheckDone() = 0; // read with acquire
  virtual void sleepMs(int ms) = 0;
  virtual std::string serverVersion() = 0; // read only once versionCheckDone is seen
  virtual std::string readInstalledVersion() = 0;
  virtual int programFolderExists() = 0;
  // Completes an installation that a run ended in the middle of (CSetup::finishPendingInstall);
  // 1 when none was pending or it is complete now, 0 when it failed.
  virtual int finishPendingInstall() = 0;
  // Writes the carried package to tm.zip in the program folder (made first) and installs it;
  // 1 when installPackage succeeded.
  virtual int installCarriedPackage() = 0;
  // Runs the update dialog modally; its result (kIdOk when the user chose to run the software).
  virtual int runUpdateDialog() = 0;
  virtual void launchFormDesk(const std::string& choice) = 0;
  virtual int replaceSelf() = 0;
};

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
// The version that the carried package has; a server announcing it sends customers back to it.
constexpr const char kCarriedVersion[] = "1.0.0.0";
constexpr int kVersionPollMs = 50;

// Whether the server's version is newer than the installed one, by the kit's weighting:
// 1000, 100, 10 and 1 for the four parts, the fourth part counting by its last character only
// (1.2.3.10 weighs as 1.2.3.0) and parts not limited to one digit (1.10.0.0 weighs as
// 2.0.0.0). Always 1 when the program folder is missing or the installed version has fewer
// than two dots.
int isUpdateNeeded(const std::string& installed, const std::string& server, int programFolderExists);

// The machine's steps. Lives for the whole process.
StartupSteps& systemStartupSteps();

class CFormwellApp {
public:
  explicit CFormwellApp(StartupSteps& steps = systemStartupSteps()) : steps_(steps) {}
  virtual ~CFormwellApp() = default;
  CFormwellApp(const CFormwellApp&) = delete;
  CFormwellApp& operator=(const CFormwellApp&) = delete;

  // The start-up sequence. Always false: the process ends when it returns.
  virtual bool InitInstance();

  // Whether the last InitInstance offered an update (updateNeeded).
  int updateNeeded() const { return updateNeeded_; }
  // Whether the last InitInstance ended because the carried package could not be installed, or
  // an interrupted installation could not be completed (the program's exit code says so; nothing
  // else does).
  bool installFailed() const { return installFailed_; }

private:
  StartupSteps& steps_;
  int updateNeeded_ = 0;
  bool installFailed_ = false;
};

} // namespace formwell
