// The update: the package size, the download of table.zip beside tm.zip, the checks that the
// package really arrived, the extraction over the installed files and the recording of the new
// version. It knows no window: it reports through UpdateView, which CUpdateDlg carries to its
// controls on the UI thread, and it takes the Internet layer and the installation it works with
// from an UpdateJob, so tests hand in fakes.
//
// Threads: updateWorker runs on the update worker thread, which the dialog owns; the dialog (UI
// thread) may cancel the job at any time (UpdateJob::cancel). A cancel that takes effect aborts
// the worker's transfer, and the worker then calls no view method, records nothing and leaves. An
// installation, once begun, is not cancelled: it runs to its end and reports as usual.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "package_signature.h"
#include "platform/internet.h"

class CSetup;

namespace formwell {

// Text table entries the update shows in its status line.
constexpr int kEntryDownloading = 18;
constexpr int kEntryDownloaded = 19;
constexpr int kEntryFailed = 21;
constexpr int kEntryUpdated = 24;

// What the update shows. Called on the worker thread; implementations carry each call to the
// UI thread.
class UpdateView {
public:
  virtual ~UpdateView() = default;
  virtual void setStatus(int entry) = 0; // the status line shows text table entry `entry`
  virtual void setProgress(int percent) = 0;
  virtual void enableStart(bool enabled) = 0; // button 1001
  virtual void enableRun(bool enabled) = 0;   // button 1009
  // The worker's very last call, in every case (also after a cancel).
  virtual void done() {}
};

// Where an update stands. The worker moves from kWorking (asking, downloading, checking) either
// to kCancelled (the dialog cancelled it first) or to kInstalling (the package is about to take
// tm.zip's place), and ends in kFinished. Only kWorking can be cancelled: an installation once
// begun runs to its end, so the program folder is never left half old, half new by a cancel.
enum class UpdateState { kWorking, kCancelled, kInstalling, kFinished };

// One update's inputs and its state, shared by the dialog and the worker (shared_ptr). The dialog
// owns the worker's thread and joins it; the job outlives both.
class UpdateJob {
public:
  UpdateJob() = default;
  UpdateJob(const UpdateJob&) = delete;
  UpdateJob& operator=(const UpdateJob&) = delete;

  std::string baseUrl; // updateBaseUrl, ending in "/"
  std::string version; // serverVersion, recorded after a successful update
  std::string folder;  // the program folder, ending in a separator
  platform::Internet* internet = nullptr;
  CSetup* setup = nullptr;
  // The program's update key. With a key present, the package counts only with a valid signature
  // (table.zip.sig beside it on the server), checked before anything is unpacked.
  const UpdateKey* key = nullptr;
  // Called on the worker thread after the package passed its last check, just before the worker
  // commits to installing it (tests cancel here).
  std::function<void()> beforeCommit;

  // Any thread. Cancels the update while it is kWorking: true when that took effect (the worker's
  // transfers are aborted, it installs nothing and reports nothing more) or the worker has
  // finished anyway; false while an installation runs, which the caller then waits for.
  bool cancel();
  UpdateState state() const { return state_.load(std::memory_order_acquire); }
  bool cancelled() const { return state() == UpdateState::kCancelled; }
  bool finished() const { return state() == UpdateState::kFinished; }

  // The worker's side. start: a job that has finished may run again (kWorking); a cancelled one
  // stays cancelled. beginInstalling: kWorking to kInstalling, false when cancelled first.
  void start() {
    UpdateState finished = UpdateState::kFinished;
    state_.compare_exchange_strong(finished, UpdateState::kWorking, std::memory_order_acq_rel);
  }
  bool beginInstalling();
  void finish() { state_.store(UpdateState::kFinished, std::memory_order_release); }

  // The requests the worker has open, so that cancel can abort them; none is opened after a
  // cancel. Used by the worker's view of the Internet layer (update_worker.cpp).
  bool addRequest(platform::InetHandle request);
  void removeRequest(platform::InetHandle request);
  std::mutex& requestsMutex() { return requestsMutex_; }

private:
  std::atomic<UpdateState> state_{UpdateState::kWorking};
  std::mutex requestsMutex_;
  std::set<platform::InetHandle> requests_;
  bool aborted_ = false;
};

// The announced size from the text of filesize.txt, read as the standard string-to-long
// conversion reads it: leading blanks, an optional sign, digits; anything else ends the number.
// No digits, a negative number or nothing gives 0 (no size announced).
int64_t parsePackageSize(const std::string& text);

// The progress position for `received` of `total` bytes, 0 to 100. A total of 0 (none
// announced) gives 0; more than the total gives 100.
int downloadProgress(int64_t received, int64_t total);

// The size that filesize.txt under baseUrl announces; 0 when it cannot be had or the answer is
// no 2xx.
int64_t fetchPackageSize(platform::Internet& internet, const std::string& baseUrl);

// Downloads url into the file at path, moving the view's progress as the bytes arrive.
// Returns 1 when the whole body arrived with a 2xx status and, when total is not 0, exactly
// total bytes; -1 otherwise (no connection, the file cannot be made, a non-2xx answer, a failed
// or short transfer, a write that fails, or the job cancelled), and then path is removed.
int downloadToFile(platform::Internet& internet, const std::string& url, const std::string& path, UpdateView& view,
                   int64_t total, const UpdateJob& job);

// Whether the package at path carries a valid signature by key and is the package that the signed
// statement beside it (statement.txt in url's folder) states for exactly version: url + ".sig" and
// the statement are fetched (complete 2xx answers, at most 4 KiB and kStatementLimit) and checked
// against the file's bytes.
bool packageSigned(platform::Internet& internet, const std::string& url, const std::string& path, const UpdateKey& key,
                   const std::string& version);

// Whether the file at path opens as a ZIP archive with at least one entry.
bool isZipPackage(const std::string& path);

// The whole update, on the worker thread. On success: tm.zip is the new package, it is unpacked
// into the folder, the version is recorded, progress 100, status entry 24, start disabled, run
// enabled. On any failure: status entry 21 (after the extraction's own message, if it had one),
// start enabled, run disabled, the recorded version as it was. The job ends kFinished and the
// view hears done() in every case.
void updateWorker(UpdateJob& job, UpdateView& view);

} // namespace formwell
