#include "update_dialog.h"

#include <chrono>
#include <thread>

#include "platform/codepage.h"
#include "text_table.h"

namespace formwell {

namespace {

using platform::ControlKind;
using platform::ControlTemplate;

// How long the dialog's end waits for a cancelled worker whose transfer the library does not end.
constexpr int kCancelledWorkerWaitMs = 1000;

// What the status line says while the dialog waits for an installation before it ends.
const char kTextFinishingInstall[] = "正在安装新版本，请稍候……安装完成后程序将自动退出。";

// The worker's calls, carried to the dialog's controls on the UI thread. The poster drops them
// once the dialog has ended, so a late call never reaches a control that is gone.
class PostedView : public UpdateView {
public:
  explicit PostedView(CUpdateDlg& dialog) : dialog_(&dialog), poster_(dialog.poster()) {}

  void setStatus(int entry) override {
    std::string text = uiText[entry];
    post([text](platform::Dialog& d) { d.setItemText(CUpdateDlg::kIdStatus, text); });
  }
  void setProgress(int percent) override {
    post([percent](platform::Dialog& d) { d.setProgressPos(CUpdateDlg::kIdProgress, percent); });
  }
  void enableStart(bool on) override {
    post([on](platform::Dialog& d) {
      if (!static_cast<CUpdateDlg&>(d).leaving()) d.enableItem(CUpdateDlg::kIdStart, on);
    });
  }
  void enableRun(bool on) override {
    post([on](platform::Dialog& d) {
      // While the dialog waits to end, its buttons stay disabled whatever the worker reports.
      if (!static_cast<CUpdateDlg&>(d).leaving()) d.enableItem(CUpdateDlg::kIdRun, on);
    });
  }
  void done() override {
    CUpdateDlg* d = dialog_;
    poster_.post([d] { d->workerDoneOnUiThread(); });
  }

private:
  template <typename F> void post(F f) {
    CUpdateDlg* d = dialog_;
    poster_.post([d, f] { f(*d); });
  }

  CUpdateDlg* dialog_;
  platform::UiPoster poster_;
};

} // namespace

const platform::DialogTemplate& CUpdateDlg::updateTemplate() {
  static const platform::DialogTemplate t = [] {
    platform::DialogTemplate d;
    d.id = kTemplateId;
    d.cx = 320;
    d.cy = 185;
    d.style = platform::kDialogCaption | platform::kDialogSysMenu | platform::kDialogMinimizeBox |
              platform::kDialogModalFrame | platform::kDialogCenter;
    d.caption = "Velor服务平台自助申请软件";
    d.fontPointSize = 9;
    d.controls = {
        {ControlKind::Picture, platform::kIdStatic, 0, 0, 109, 185, "", 0, kPictureBitmap},
        {ControlKind::Static, kIdWelcome, 127, 8, 171, 37, "", 0, 0},
        {ControlKind::Static, kIdStatus, 127, 87, 181, 8, "正在更新中...", platform::kControlHidden, 0},
        {ControlKind::Progress, kIdProgress, 126, 103, 185, 17, "", platform::kControlHidden, 0},
        {ControlKind::EtchedLine, platform::kIdStatic, 121, 144, 185, 1, "", 0, 0},
        {ControlKind::PushButton, kIdStart, 151, 159, 45, 13, "开始升级", platform::kControlTabStop, 0},
        {ControlKind::PushButton, kIdRun, 198, 159, 67, 13, "运行软件", platform::kControlTabStop, 0},
        {ControlKind::PushButton, kIdExit, 266, 159, 44, 13, "退出", platform::kControlTabStop, 0},
    };
    return d;
  }();
  return t;
}

CUpdateDlg::CUpdateDlg(const std::string& baseUrl, const std::string& version, const std::string& folder,
                       platform::Internet& internet, CSetup& setup)
    : platform::Dialog(updateTemplate()), baseUrl_(baseUrl), version_(version), folder_(folder), internet_(internet),
      setup_(setup) {}

CUpdateDlg::~CUpdateDlg() {
  if (!worker_.joinable()) return;
  // An installation that has begun is waited for, whatever ended the dialog. A cancelled worker
  // leaves as soon as the abort has ended its transfer; where the library does not end a read that
  // waits on a silent server when its handle is closed (Wine's WinINet), it is given a bound and
  // then left to end on its own: cancelled, it can no longer install, record or show anything.
  if (job_->cancel()) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelledWorkerWaitMs);
    while (!job_->finished() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!job_->finished()) {
      worker_.detach();
      return;
    }
  }
  worker_.join();
}

bool CUpdateDlg::onInitDialog() {
  setIcon(kIcon);
  showItem(kIdStatus, false);
  showItem(kIdProgress, false);
  enableItem(kIdRun, false);
  setProgressRange(kIdProgress, 0, 100);
  setItemText(kIdWelcome, uiText[14]);
  setItemText(kIdStart, uiText[15]);
  setItemText(kIdRun, uiText[16]);
  setItemText(kIdExit, uiText[6]);
  setWindowText(uiText[7]);
  return true;
}

void CUpdateDlg::onCommand(int id) {
  switch (id) {
  case kIdStart: startUpdate(); break;
  case kIdRun: endDialog(platform::kIdOk); break;
  case kIdExit: onCancel(); break;
  default: break;
  }
}

void CUpdateDlg::onOK() {
  if (isItemEnabled(kIdRun)) endDialog(platform::kIdOk);
}

void CUpdateDlg::onCancel() {
  if (leaving_) return; // already waiting for the worker
  if (!worker_.joinable()) {
    endDialog(platform::kIdCancel);
    return;
  }
  // A cancel that takes effect aborts the transfer, and the dialog ends at once (its end joins the
  // worker, which is leaving). An installation that has begun runs to its end: the dialog says so
  // and ends when the worker says it is done.
  if (job_->cancel()) {
    endDialog(platform::kIdCancel);
    return;
  }
  leaving_ = true;
  enableItem(kIdStart, false);
  enableItem(kIdRun, false);
  enableItem(kIdExit, false);
  setItemText(kIdStatus, platform::utf8ToWide(kTextFinishingInstall));
  if (job_->finished()) workerDoneOnUiThread();
}

void CUpdateDlg::workerDoneOnUiThread() {
  if (worker_.joinable()) worker_.join(); // the worker's last call: it leaves at once
  if (leaving_ && result() == 0) endDialog(platform::kIdCancel);
}

void CUpdateDlg::startUpdate() {
  if (leaving_ || (job_ && !job_->finished())) return; // one worker at a time
  if (worker_.joinable()) worker_.join();
  enableItem(kIdStart, false);
  enableItem(kIdRun, false);
  showItem(kIdStatus, true);
  showItem(kIdProgress, true);
  setProgressPos(kIdProgress, 0);

  auto job = std::make_shared<UpdateJob>();
  job->baseUrl = baseUrl_;
  job->version = version_;
  job->folder = folder_;
  job->internet = &internet_;
  job->setup = &setup_;
  job->key = &updatePublicKey();
  auto view = std::make_shared<PostedView>(*this);
  job_ = job;
  worker_ = std::thread([job, view] { updateWorker(*job, *view); });
}

} // namespace formwell
