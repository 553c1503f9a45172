#include "start_dialog.h"

const platform::DialogTemplate& startDialogTemplate() {
  using namespace platform;
  // A popup with a modal frame and no title bar; the picture fills it, the links sit in the plain
  // band the picture leaves for them.
  static const DialogTemplate t = {
      CStartDlg::kTemplateId,
      171,
      85,
      kDialogModalFrame,
      "",
      "Arial",
      9,
      {
          {ControlKind::Picture, kIdStatic, 0, 0, 171, 85, "", 0, CStartDlg::kBackgroundBitmap},
          {ControlKind::Static, CStartDlg::kNoAccountLink, 38, 62, 44, 8, "尚未开立账户", 0, 0},
          {ControlKind::Static, CStartDlg::kHaveAccountLink, 90, 62, 42, 8, "已有单位账户", 0, 0},
      }};
  return t;
}

CStartDlg::CStartDlg() : platform::Dialog(startDialogTemplate()) {}

bool CStartDlg::onInitDialog() {
  noAccount_.attach(*this, kNoAccountLink);
  haveAccount_.attach(*this, kHaveAccountLink);
  noAccount_.linkName = "BTN_START";
  haveAccount_.linkName = "BTN_START_ACCOUNT";
  const platform::Colour normal = platform::rgb(82, 82, 234);
  const platform::Colour hover = platform::rgb(255, 128, 0);
  noAccount_.setColours(normal, normal, hover);
  haveAccount_.setColours(normal, normal, hover);
  return true;
}

// Enter (the dialog has no buttons) and link 1058: the account-opening form.
void CStartDlg::onOK() {
  choice = "Formwell";
  endDialog(platform::kIdOk);
}

void CStartDlg::chooseExistingAccount() {
  choice = "AccountHelper";
  endDialog(platform::kIdOk);
}
