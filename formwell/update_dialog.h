// CUpdateDlg: the update dialog (template 102). It tells the user that the server has a newer
// package and offers start update (1001), run software (1009) and exit (1002). Start update runs
// updateWorker (update_worker.h) on a worker thread, which reaches the controls only through the
// dialog's poster, so its calls run on the UI thread and are dropped once the dialog has ended.
//
// Leaving the dialog (exit, the close box, Esc) raises the job's cancelled flag and aborts the
// transfers in flight, so the worker stops at its next read and touches nothing afterwards; no
// thread is ever stopped by force. waitForWorker lets the caller wait until it has left.
// UI thread only, except where noted.
#pragma once

#include <memory>
#include <string>

#include "platform/dialog.h"
#include "update_worker.h"

namespace formwell {

class CUpdateDlg : public platform::Dialog {
public:
  enum {
    kTemplateId = 102,
    kPictureBitmap = 143,
    kIcon = 128,
    kIdStart = 1001,
    kIdExit = 1002,
    kIdProgress = 1003,
    kIdStatus = 1004,
    kIdRun = 1009,
    kIdWelcome = 1023,
  };

  // What the update works with: the server's base address and version, the program folder, the
  // Internet layer and the installation (both outlive the dialog).
  CUpdateDlg(const std::string& baseUrl, const std::string& version, const std::string& folder,
             platform::Internet& internet, CSetup& setup);
  // Waits (bounded) for a worker that is still leaving.
  ~CUpdateDlg() override;

  static const platform::DialogTemplate& updateTemplate();

  bool onInitDialog() override;
  void onCommand(int id) override;
  // Enter: run software when that is enabled; nothing else.
  void onOK() override;
  // Exit, Esc and the close box: stop the update, end with IDCANCEL.
  void onCancel() override;

  // Button 1001: start the update on a worker thread.
  void startUpdate();

  // Waits until the worker (if any) has left, at most timeoutMs; true when none is left.
  // Any thread.
  bool waitForWorker(int timeoutMs) const;

private:
  void stopWorker();

  std::string baseUrl_, version_, folder_;
  platform::Internet& internet_;
  CSetup& setup_;
  std::shared_ptr<UpdateJob> job_; // the running or last worker's job
};

} // namespace formwell
