// Shows formwell's start dialog on its own, for looking at it and for the end-to-end checks:
// prints where the two links lie (client pixels, after they were fitted to their texts) once the
// dialog is up, then "result=<code> choice=<choice>" when it has ended. With a folder argument it
// then starts formdesk from that folder as the start-up would (launchFormDesk).
#include <cstdio>
#include <string>

#include "formdesk_launch.h"
#include "platform/dialog.h"
#include "start_dialog.h"

namespace {

class ReportingStartDlg : public CStartDlg {
public:
  bool onInitDialog() override {
    bool r = CStartDlg::onInitDialog();
    platform::Size client = clientSize();
    std::printf("client=%d,%d base=%d,%d\n", client.cx, client.cy, baseUnits().cx, baseUnits().cy);
    for (int id : {kNoAccountLink, kHaveAccountLink}) {
      platform::Rect rc = itemRect(id);
      std::printf("link%d=%d,%d,%d,%d\n", id, rc.left, rc.top, rc.width(), rc.height());
    }
    std::fflush(stdout);
    return r;
  }
};

} // namespace

int main(int argc, char** argv) {
  ReportingStartDlg dialog;
  int result = dialog.doModal();
  std::printf("result=%d choice=%s\n", result, dialog.choice.c_str());
  std::fflush(stdout);
  if (argc > 1) launchFormDesk(dialog.choice, argv[1]);
  return result == -1 ? 1 : 0;
}
