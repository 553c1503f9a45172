// CStartDlg: the first window of formwell. Two links on a picture ask whether the company has no
// account at the bank yet (the account-opening form) or has one (the default form); the answer is
// `choice`, read by the start-up after the modal run. UI thread only.
#pragma once

#include <string>

#include "link_static.h"
#include "platform/dialog.h"

class CStartDlg : public platform::Dialog, public CLinkParent {
public:
  static constexpr int kTemplateId = 158;
  static constexpr int kBackgroundBitmap = 180;
  static constexpr int kNoAccountLink = 1058;
  static constexpr int kHaveAccountLink = 1061;

  CStartDlg();

  // "Formwell" (link 1058 or Enter), "AccountHelper" (link 1061), or empty (Esc).
  std::string choice;

  bool onInitDialog() override;
  void onOK() override;
  void chooseExistingAccount() override;

  CLinkStatic& noAccountLink() { return noAccount_; }
  CLinkStatic& haveAccountLink() { return haveAccount_; }

private:
  CLinkStatic noAccount_;
  CLinkStatic haveAccount_;
};

// Template 158, as data.
const platform::DialogTemplate& startDialogTemplate();
