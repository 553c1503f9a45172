#include "update_dialog.h"

#include <chrono>
#include <thread>

#include "text_table.h"

namespace formwell {

namespace {

using platform::ControlKind;
using platform::ControlTemplate;

// How long the dialog's end waits for its worker to leave. The abort makes a read return at once
// (libcurl; WinINet when the request handle is closed); a WinINet that does not interrupt a read
// stuck on a silent server (Wine's) must not keep the program from ending for long.
constexpr int kWorkerWaitOnDestructionMs = 1000;

// The worker's calls, carried to the dialog's controls on the UI thread. The poster drops them
// once the dialog has ended, so a late call never reaches a control that is gone.
class PostedView : public UpdateView {
public:
  PostedView(platform::Dialog& dialog, const std::atomic<bool>& cancelled)
      : dialog_(&dialog), poster_(dialog.poster()), cancelled_(cancelled) {}

  void setStatus(int entry) override {
    std::string text = uiText[entry];
    post([text](platform::Dialog& d) { d.setItemText(CUpdateDlg::kIdStatus, text); });
  }
  void setProgress(int percent) override {
    post([percent](platform::Dialog& d) { d.setProgressPos(CUpdateDlg::kIdProgress, percent); });
  }
  void enableStart(bool on) override {
    post([on](platform::Dialog& d) { d.enableItem(CUpdateDlg::kIdStart, on); });
  }
  void enableRun(bool on) override {
    post([on](platform::Dialog& d) { d.enableItem(CUpdateDlg::kIdRun, on); });
  }

private:
  template <typename F> void post(F f) {
    if (cancelled_.load(std::memory_order_acquire)) return;
    platform::Dialog* d = dialog_;
    poster_.post([d, f] { f(*d); });
  }

  platform::Dialog* dialog_;
  platform::UiPoster poster_;
  const std::atomic<bool>& cancelled_; // lives in the job, which the worker keeps alive
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
  stopWorker();
  waitForWorker(kWorkerWaitOnDestructionMs);
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
  stopWorker();
  endDialog(platform::kIdCancel);
}

void CUpdateDlg::startUpdate() {
  // Start is disabled while a worker runs, so two workers never overlap; a worker that has
  // reported its failure may still be on its last steps, so wait for it to be gone.
  if (job_ && !job_->finished.load(std::memory_order_acquire) && !waitForWorker(2000)) return;
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
  auto view = std::make_shared<PostedView>(*this, job->cancelled);
  job_ = job;
  // The thread owns what it uses (the job and the view): nothing it touches is freed under it.
  std::thread([job, view] { updateWorker(*job, *view); }).detach();
}

void CUpdateDlg::stopWorker() {
  if (!job_ || job_->finished.load(std::memory_order_acquire)) return;
  job_->cancelled.store(true, std::memory_order_release);
  // The worker may be waiting inside the library for bytes that never come: end every transfer,
  // so that its read returns at once. The program only ends after this, so the Internet layer
  // taking no new transfers afterwards costs nothing.
  internet_.abortAll(0);
}

bool CUpdateDlg::waitForWorker(int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (job_ && !job_->finished.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

} // namespace formwell
