// CUpdateDlg: the update dialog (template 102). It tells the user that the server has a newer
// package and offers start update (1001), run software (1009) and exit (1002). Start update runs
// updateWorker (update_worker.h) on a worker thread that the dialog owns, which reaches the
// controls only through the dialog's poster, so its calls run on the UI thread and are dropped
// once the dialog has ended.
//
// Leaving the dialog (exit, the close box, Esc) cancels the job. While the package is on its way
// that aborts the transfer and ends the dialog, whose end joins the worker (bounded where the
// library ignores the abort, see ~CUpdateDlg). Once the installation has begun it runs to its end:
// the dialog says so, keeps its buttons disabled and ends when the worker is through. No thread
// is stopped by force.
// UI thread only.
#pragma once

#include <memory>
#include <string>
#include <thread>

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
  // Cancels and joins a worker that is still there.
  ~CUpdateDlg() override;

  static const platform::DialogTemplate& updateTemplate();

  bool onInitDialog() override;
  void onCommand(int id) override;
  // Enter: run software when that is enabled; nothing else.
  void onOK() override;
  // Exit, Esc and the close box: cancel the update and end with IDCANCEL once the worker has
  // left (after the installation, when one is running).
  void onCancel() override;

  // Button 1001: start the update on a worker thread.
  void startUpdate();

  // Whether the dialog waits for an installation to end before it ends.
  bool leaving() const { return leaving_; }

  // The worker's last call, carried to the UI thread: joins it, and ends the dialog when the
  // user asked to leave.
  void workerDoneOnUiThread();

private:
  std::string baseUrl_, version_, folder_;
  platform::Internet& internet_;
  CSetup& setup_;
  std::shared_ptr<UpdateJob> job_; // the running or last worker's job
  std::thread worker_;
  bool leaving_ = false;
};

} // namespace formwell
