// The start-up sequence's decisions against recorded fakes, and the version weighting.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "formwell_app.h"

namespace {

// Plays the world the start-up sequence sees, and writes down what it is asked to do.
class FakeSteps : public formwell::StartupSteps {
public:
  std::string server, installed, choice;
  std::string pending; // the version of an interrupted installation, or "fails"
  int folderExists = 1;
  int installWorks = 1;
  int updateResult = formwell::kIdCancel;
  int checkPolls = 0; // how many polls until the version check is done
  std::vector<std::string> calls;

  void loadTexts() override { calls.push_back("texts"); }
  void applyProxySettings() override { calls.push_back("proxy"); }
  void startVersionCheck() override { calls.push_back("check"); }
  std::string runStartDialog() override {
    calls.push_back("start dialog");
    return choice;
  }
  bool versionCheckDone() override { return polls_ >= checkPolls; }
  void sleepMs(int ms) override {
    ++polls_;
    calls.push_back("sleep " + std::to_string(ms));
  }
  std::string serverVersion() override { return server; }
  std::string readInstalledVersion() override { return installed; }
  int programFolderExists() override { return folderExists; }
  int finishPendingInstall() override {
    if (pending.empty()) return 1;
    calls.push_back("finish");
    if (pending == "fails") return 0;
    installed = pending; // the interrupted installation records its version
    return 1;
  }
  int installCarriedPackage() override {
    calls.push_back("install");
    return installWorks;
  }
  int runUpdateDialog() override {
    calls.push_back("update dialog");
    return updateResult;
  }
  void launchFormDesk(const std::string& c) override { calls.push_back("formdesk '" + c + "'"); }
  int replaceSelf() override {
    calls.push_back("replace self");
    return 1;
  }

  // The calls after the start dialog and the wait, joined.
  std::string outcome() const {
    std::string s;
    for (size_t i = 4; i < calls.size(); ++i)
      if (calls[i].compare(0, 5, "sleep") != 0) s += (s.empty() ? "" : ", ") + calls[i];
    return s;
  }

private:
  int polls_ = 0;
};

TEST(IsUpdateNeeded, WeighsTheFourPartsByTheKitsRule) {
  struct Case {
    const char* installed;
    const char* server;
    int folder;
    int needed;
  } cases[] = {
      {"2.0.0.9", "2.0.0.10", 1, 0},  // the fourth part counts by its last character: 10 weighs 0
      {"2.0.0.1", "2.0.0.1", 1, 0},   // the same version
      {"2.0.0.1", "2.0.0.2", 1, 1},   // one step newer
      {"2.0.0.7", "2.0.0.7\n", 1, 0}, // a trailing line break weighs as a last digit 0
      {"1.10.0.0", "2.0.0.0", 1, 0},  // 1.10 weighs as 2.0
      {"2.0.0.0", "1.10.0.1", 1, 1},
      {"1.0.0.0", "2.0.0.3", 1, 1},
      {"2.0.0.3", "1.9.9.9", 1, 0},
      {"2.0", "1.0.0.1", 1, 1}, // one dot in the installed version: always needed
      {"2", "0.0.0.0", 1, 1},
      {"", "2.0.0.1", 1, 1},
      {"2.0.0.1", "2.0.0.1", 0, 1}, // a missing program folder: always needed
      {"2.0.0.1", "garbage", 1, 0},
      {"2.0.1", "2.0.0.1", 1, 0}, // installed weighs 2000+0+0+1, as 2.0.0.1 does
      {"2.0.1", "2.0.1.2", 1, 1},
      {"99999999999.0.0.0", "1.0.0.0", 1, 0}, // an absurd part saturates, it does not wrap
  };
  for (const Case& c : cases)
    EXPECT_EQ(formwell::isUpdateNeeded(c.installed, c.server, c.folder), c.needed)
        << "installed '" << c.installed << "' server '" << c.server << "' folder " << c.folder;
}

TEST(StartupSequence, RunsItsStepsInOrderAndPollsEvery50ms) {
  FakeSteps steps;
  steps.checkPolls = 3;
  steps.installed = "2.0.0.1";
  steps.server = "2.0.0.1";
  formwell::CFormwellApp app(steps);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"texts", "proxy", "check", "start dialog", "sleep 50", "sleep 50",
                                                   "sleep 50", "formdesk ''"}));
}

TEST(StartupSequence, DecisionTable) {
  struct Case {
    const char* server;
    const char* installed;
    int folder;
    int installWorks;
    int updateResult;
    const char* choice;
    const char* outcome;
  } cases[] = {
      // no server answered
      {"", "", 1, 1, 0, "Formwell", "install, formdesk 'Formwell'"},
      {"", "", 0, 1, 0, "", "install, formdesk ''"},
      {"", "2.0.0.1", 0, 1, 0, "AccountHelper", "install, formdesk 'AccountHelper'"},
      {"", "2.0.0.1", 1, 1, 0, "AccountHelper", "formdesk 'AccountHelper'"},
      // the server sends customers back to the carried package
      {"1.0.0.0", "2.0.0.3", 1, 1, 0, "", "install, formdesk ''"},
      {"1.0.0.0", "", 0, 1, 0, "Formwell", "install, formdesk 'Formwell'"},
      // a failed installation ends start-up without anything else
      {"", "", 0, 0, 0, "Formwell", "install"},
      {"1.0.0.0", "2.0.0.3", 1, 0, 0, "", "install"},
      // a newer version: the update dialog, formdesk only when it ends with "run software"
      {"2.0.0.8", "2.0.0.3", 1, 1, formwell::kIdOk, "Formwell", "update dialog, formdesk 'Formwell', replace self"},
      {"2.0.0.8", "2.0.0.3", 1, 1, formwell::kIdCancel, "Formwell", "update dialog, replace self"},
      {"2.0.0.8", "2.0", 1, 1, formwell::kIdCancel, "", "update dialog, replace self"},
      {"2.0.0.8", "", 1, 1, formwell::kIdOk, "", "update dialog, formdesk '', replace self"},
      {"2.0.0.1", "2.0.0.1", 0, 1, formwell::kIdOk, "", "update dialog, formdesk '', replace self"},
      // not newer: formdesk
      {"2.0.0.8", "2.0.0.8", 1, 1, 0, "AccountHelper", "formdesk 'AccountHelper'"},
      {"2.0.0.10", "2.0.0.9", 1, 1, 0, "", "formdesk ''"},
  };
  for (const Case& c : cases) {
    FakeSteps steps;
    steps.server = c.server;
    steps.installed = c.installed;
    steps.folderExists = c.folder;
    steps.installWorks = c.installWorks;
    steps.updateResult = c.updateResult;
    steps.choice = c.choice;
    formwell::CFormwellApp app(steps);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.installFailed(), std::string(c.outcome) == "install");
    EXPECT_EQ(steps.outcome(), c.outcome) << "server '" << c.server << "' installed '" << c.installed << "' folder "
                                          << c.folder << " install " << c.installWorks;
  }
}

// An interrupted installation is completed before the installed version is read, and its failure
// ends start-up without formdesk.
TEST(StartupSequence, AnInterruptedInstallationIsFinishedFirst) {
  struct Case {
    const char *server, *pending, *outcome;
  } cases[] = {
      {"2.0.0.8", "2.0.0.8", "finish, formdesk ''"},
      {"", "1.0.0.0", "finish, formdesk ''"},
      {"2.0.0.8", "fails", "finish"},
  };
  for (const Case& c : cases) {
    FakeSteps steps;
    steps.server = c.server;
    steps.installed = "2.0.0.3";
    steps.pending = c.pending;
    formwell::CFormwellApp app(steps);
    app.InitInstance();
    EXPECT_EQ(steps.outcome(), c.outcome) << c.pending;
    EXPECT_EQ(app.installFailed(), std::string(c.pending) == "fails") << c.pending;
  }
}

} // namespace
