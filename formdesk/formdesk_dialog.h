// CKDSK_F_Dlg, the form workstation's window (template 102): the browser over the whole client
// area, the title with the installed version, the About item, and the close prompt. It hands the
// page's navigations to CPageCommands and carries out what they ask for. CAboutDlg is the About
// box (template 100). UI thread only.
#pragma once

#include <memory>
#include <string>

#include "explorer.h"
#include "page_commands.h"
#include "platform/dialog.h"
#include "platform/library.h"
#include "workstation_settings.h"

constexpr int kIdcExplorer = 1000;
constexpr int kIdmAboutBox = 16;
constexpr int kIdsAboutBox = 101;
constexpr int kIdrMainFrame = 128;

const platform::DialogTemplate& mainDialogTemplate();  // 102
const platform::DialogTemplate& aboutDialogTemplate(); // 100

class CAboutDlg : public platform::Dialog {
public:
  CAboutDlg() : Dialog(aboutDialogTemplate()) {}
};

class CKDSK_F_Dlg : public platform::Dialog, private PageHost {
public:
  explicit CKDSK_F_Dlg(std::u16string commandLine);
  ~CKDSK_F_Dlg() override;

  bool onInitDialog() override;
  void onOK() override {}     // Enter does not close the window
  void onCancel() override {} // nor does Esc
  void onClose() override;
  void onSize(int cx, int cy) override;
  bool onSysCommand(int id) override;

  const WorkstationSettings& settings() const { return settings_; }

private:
  // PageHost
  void navigate(const std::u16string& url) override { explorer_.navigate(url); }
  void runScript(const std::u16string& script) override { explorer_.runScript(script); }
  void runScriptLater(const std::u16string& script) override;
  void endDialogWithCancel() override;
  void tellUser(const std::u16string& text) override;

  // The browser at -2, -2 with 4 pixels more each way: its frame lies outside the client area.
  void placeBrowser();

  std::u16string commandLine_;
  WorkstationSettings settings_;
  CExplorer explorer_;
  CPageCommands commands_;
  platform::Library gbconv_;
};
