// Installation and self-replacement: where the program folder is, writing the carried package out
// of the program file and unpacking it, recording and reading the installed version, and starting
// the replacement of the program file after an update. Texts are byte strings in the ANSI code
// page. CSetup keeps no state of its own beyond the services it is handed (the registry, the
// process launcher, the message box), so tests hand in fakes; the global `setup` uses the real
// ones. Called from the main thread or the update worker, never both at once.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "platform/file_lock.h"
#include "platform/process_launcher.h"
#include "platform/registry.h"

class CSetup {
public:
  // Shows a failure text to the user (a message box with an OK button).
  using MessageBoxFn = std::function<void(const std::string& text)>;

  CSetup();
  CSetup(platform::Registry& registry, platform::ProcessLauncher& launcher, MessageBoxFn messageBox);
  virtual ~CSetup() = default;
  CSetup(const CSetup&) = delete;
  CSetup& operator=(const CSetup&) = delete;

  // The one program folder of this process, decided at its first use and kept: the machine's
  // (the Formwell folder of CommonFilesDir, the version under HKEY_LOCAL_MACHINE) when this
  // process can write both that folder and the version's key, else the user's own (the Formwell
  // folder of %LOCALAPPDATA% on Windows, the version under HKEY_CURRENT_USER). Without
  // administrator rights on Windows the machine's is never writable; formdesk, started from the
  // folder, finds it by its own program file.
  std::string programFolder();
  // The root key under which the installed version is kept: the one that goes with programFolder.
  platform::RegRoot versionRoot();
  int programFolderExists();
  std::string readInstalledVersion();
  int writeInstalledVersion(const std::string& version);
  std::string modulePath();
  int writeResourceToFile(const std::string& path, int id, const std::string& type);
  // Unpacks every member into the folder; a failure shows its text.
  int extractArchive(const std::string& archive, const std::string& folder);
  // The same, handing a failure's text (empty when the archive did not open as a ZIP) to the
  // caller instead of showing it.
  int extractArchive(const std::string& archive, const std::string& folder, std::string* failure);
  // The carried package at archive, installed all or nothing as below, recorded as "1.0.0.0".
  int installPackage(const std::string& archive, const std::string& folder);
  // The first installation: the program folder made, the carried package written to its tm.zip
  // and installed; a folder or tm.zip that cannot be written is said once, and nothing is
  // installed from whatever tm.zip held before.
  int installCarriedPackage();

  // An installation is all or nothing across a crash or a power cut. beginInstall puts a mark
  // into the folder naming the version and the identity (size and SHA-256) of the package file,
  // before that file takes tm.zip's place; completeInstall unpacks the archive (a failure shows
  // its text), records the version and only then removes the mark; abandonInstall removes a mark whose package never
  // took tm.zip's place. finishPendingInstall, called at start-up before anything looks at the
  // installed version, completes an installation whose mark is there and whose tm.zip is the
  // package it names, or drops a mark whose package never arrived. 1 on success (or nothing
  // pending), 0 on failure (the mark stays, so the next start tries again).
  int beginInstall(const std::string& folder, const std::string& version, const std::string& package);
  int completeInstall(const std::string& archive, const std::string& folder, const std::string& version);
  void abandonInstall(const std::string& folder);
  //
  // What an installation replaces is kept in the folder's ".backup" until the version is recorded:
  // an installation that cannot be finished (a member that cannot be placed or is refused, the
  // version not recorded) puts the old files back, drops its mark, says once what failed, and the
  // old installation goes on working. A second process on the same folder waits for the first.
  int finishPendingInstall(const std::string& folder);
  int replaceSelf();

  // Saved applications that programs without a manifest left in this user's VirtualStore copy of
  // the machine's program folder are copied into the program folder, unless a file of the same
  // name there is as new or newer. Their installation leftovers there are never looked at.
  void carrySavedData();
  // Removes the "<program file>.old-N" that earlier self-replacements set aside beside the program
  // file and could not remove while it ran.
  void removeLeftovers();

  // The carried package: resource type "BINARY", identifier 160, version "1.0.0.0".
  static constexpr int kPackageResourceId = 160;
  static constexpr const char* kPackageResourceType = "binary";
  static constexpr const char* kPackageVersion = "1.0.0.0";

private:
  std::string commonFilesDir();
  std::string machineProgramFolder();
  bool machineFolderWritable(const std::string& folder);
  void decideProgramFolder();
  int placePackage(const std::string& archive, const std::string& folder, std::string* failure);
  bool lockFolder(const std::string& folder);
  int replaceRunningProgram(const std::string& source, const std::string& target);

  platform::Registry& registry_;
  platform::ProcessLauncher& launcher_;
  MessageBoxFn messageBox_;
  std::mutex decision_;
  bool decided_ = false;
  std::string folder_;
  platform::RegRoot root_ = platform::RegRoot::LocalMachine;
  platform::FileLock lock_;
};

extern CSetup setup;
