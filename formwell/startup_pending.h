// What start-up needs from the start dialog and the text table, standing in until they are
// built: an empty text table, a start dialog that answers with no choice, no formdesk start.
#pragma once

#include <string>

#include "platform/dialog.h"

namespace formwell {

inline std::string uiText[60];
inline void loadUiText() {}

class CStartDlg : public platform::Dialog {
public:
  CStartDlg() : platform::Dialog(emptyTemplate()) {}
  std::string choice;

private:
  static const platform::DialogTemplate& emptyTemplate() {
    static const platform::DialogTemplate t;
    return t;
  }
};

inline void launchFormDesk(const std::string&) {}

} // namespace formwell
