#include "formdesk_dialog.h"

#include "platform/child_process.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "print_setup.h"

const platform::DialogTemplate& mainDialogTemplate() {
  static const platform::DialogTemplate t = [] {
    platform::DialogTemplate d;
    d.id = 102;
    d.cx = 575;
    d.cy = 394;
    d.style = platform::kDialogCaption | platform::kDialogSysMenu | platform::kDialogMinimizeBox |
              platform::kDialogModalFrame | platform::kDialogCenter | platform::kDialogVisible;
    d.caption = "Velor服务平台自助申请软件";
    d.fontName = "MS Shell Dlg";
    d.fontPointSize = 8;
    platform::ControlTemplate browser;
    browser.kind = platform::ControlKind::Host;
    browser.id = kIdcExplorer;
    browser.cx = 441;
    browser.cy = 242;
    browser.style = platform::kControlTabStop;
    d.controls.push_back(browser);
    return d;
  }();
  return t;
}

const platform::DialogTemplate& aboutDialogTemplate() {
  static const platform::DialogTemplate t = [] {
    platform::DialogTemplate d;
    d.id = 100;
    d.cx = 170;
    d.cy = 62;
    d.style =
        platform::kDialogCaption | platform::kDialogSysMenu | platform::kDialogModalFrame | platform::kDialogCenter;
    d.caption = "关于 KDSK_F";
    d.fontName = "MS Shell Dlg";
    d.fontPointSize = 8;
    d.controls = {
        {platform::ControlKind::Icon, platform::kIdStatic, 14, 14, 21, 20, "", 0, kIdrMainFrame},
        {platform::ControlKind::Static, platform::kIdStatic, 42, 14, 114, 8, "KDSK_F，1.0 版", 0, 0},
        {platform::ControlKind::DefPushButton, platform::kIdOk, 113, 41, 50, 14, "确定", platform::kControlTabStop, 0},
    };
    return d;
  }();
  return t;
}

CKDSK_F_Dlg::CKDSK_F_Dlg(std::u16string commandLine)
    : Dialog(mainDialogTemplate()), commandLine_(std::move(commandLine)),
      commands_(*this, settings_, platform::systemChildRunner()) {}

CKDSK_F_Dlg::~CKDSK_F_Dlg() = default;

bool CKDSK_F_Dlg::onInitDialog() {
  platform::Registry& registry = platform::systemRegistry();
  // The mode, the title and the folders come from the command line and the registry; they are
  // read first because the browser needs to know the folder it shows.
  settings_ = loadWorkstationSettings(registry, commandLine_);

  std::u16string about = platform::loadString(kIdsAboutBox);
  if (!about.empty()) appendSystemMenuItem(kIdmAboutBox, about);
  setIcon(kIdrMainFrame);

  explorer_.setBeforeNavigate([this](const std::u16string& url, const std::string* postData,
                                     const platform::NavigationSource& source,
                                     bool* cancel) { commands_.beforeNavigate(url, postData, source, cancel); });
  explorer_.setDocumentComplete([this](const std::u16string& url) { commands_.documentComplete(url); });
  explorer_.create(nativeHandle(kIdcExplorer), settings_.packageFolder);
  placeBrowser();

  // Every start, before the browser shows anything.
  writePrintSetup(registry);
  explorer_.setPrintLayout(readPrintLayout(registry));

  setWindowText(settings_.title);
  explorer_.navigate(settings_.startUrl);

  if (gbconv_.load("gbconv")) commands_.setConversion(reinterpret_cast<ANSIToGBProc>(gbconv_.symbol("ANSIToGB")));
  return true;
}

void CKDSK_F_Dlg::placeBrowser() {
  if (!explorer_.exists()) return;
  platform::Size client = clientSize();
  moveItem(kIdcExplorer, platform::Rect{-2, -2, client.cx + 2, client.cy + 2}, true);
  explorer_.fitToHost();
}

void CKDSK_F_Dlg::onSize(int, int) { placeBrowser(); }

bool CKDSK_F_Dlg::onSysCommand(int id) {
  if ((id & 0xFFF0) != kIdmAboutBox) return false;
  CAboutDlg about;
  about.doModal();
  return true;
}

void CKDSK_F_Dlg::onClose() {
  commands_.closeRequested();
  int answer = platform::messageBox(u"请问您需要保存本次填写的数据吗？\r\n如为公共电脑，请选择“否”。", windowText(),
                                    platform::MessageBoxButtons::YesNo, platform::MessageBoxIcon::None, this);
  // Yes lets the page post SAVE, which ends the dialog once the data is written; No ends it now;
  // a box closed without an answer (Esc, its close button) returns to the form.
  commands_.closeAnswered(answer == platform::kIdYes  ? CPageCommands::CloseAnswer::Yes
                          : answer == platform::kIdNo ? CPageCommands::CloseAnswer::No
                                                      : CPageCommands::CloseAnswer::Back);
}

void CKDSK_F_Dlg::endDialogWithCancel() {
  // Nothing calls into the library once it is released.
  commands_.setConversion(nullptr);
  gbconv_.free();
  endDialog(platform::kIdCancel);
}

void CKDSK_F_Dlg::runScriptLater(const std::u16string& script) {
  // Posted like the message box below: the script runs from the message loop, after the browser's
  // event (and the page's submit() that raised it) has returned.
  poster().post([this, script] { explorer_.runScript(script); });
}

void CKDSK_F_Dlg::tellUser(const std::u16string& text) {
  // Shown after the browser's event has returned: a box inside it would hold the page's request.
  poster().post([this, text] {
    platform::messageBox(text, windowText(), platform::MessageBoxButtons::Ok, platform::MessageBoxIcon::Warning, this);
  });
}
