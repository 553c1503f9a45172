// A message box asked for by a worker thread while a dialog runs: the box must appear (shown by
// the UI thread), and the worker must get the answer. Prints "answer=<id>" and ends the dialog
// with it. The box's caption is "formwell 工作线程".
#include <cstdio>
#include <thread>

#include "platform/dialog.h"
#include "platform/message_box.h"

namespace {

const platform::DialogTemplate kHost = {
    1,
    160,
    60,
    platform::kDialogCaption | platform::kDialogSysMenu,
    "worker box host",
    "Arial",
    9,
    {{platform::ControlKind::Static, 100, 10, 10, 140, 20, "等待工作线程的消息框……", 0, 0}}};

class HostDialog : public platform::Dialog {
public:
  HostDialog() : Dialog(kHost) {}
  std::thread worker;
  bool onInitDialog() override {
    platform::UiPoster p = poster();
    worker = std::thread([p, this] {
      int answer = platform::messageBox(u"要保存当前数据吗？", u"formwell 工作线程", platform::MessageBoxButtons::YesNo,
                                        platform::MessageBoxIcon::Question);
      std::printf("answer=%d\n", answer);
      std::fflush(stdout);
      p.post([this, answer] { endDialog(answer); });
    });
    return true;
  }
};

} // namespace

int main() {
  HostDialog dialog;
  int result = dialog.doModal();
  if (dialog.worker.joinable()) dialog.worker.join();
  std::printf("result=%d\n", result);
  return result == platform::kIdYes || result == platform::kIdNo ? 0 : 1;
}
