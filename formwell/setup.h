// Installation and self-replacement: where the program folder is, writing the carried package out
// of the program file and unpacking it, recording and reading the installed version, and starting
// the replacement of the program file after an update. Texts are byte strings in the ANSI code
// page. CSetup keeps no state of its own beyond the services it is handed (the registry, the
// process launcher, the message box), so tests hand in fakes; the global `setup` uses the real
// ones. Called from the main thread or the update worker, never both at once.
#pragma once

#include <functional>
#include <string>

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

  std::string programFolder();
  int programFolderExists();
  std::string readInstalledVersion();
  int writeInstalledVersion(const std::string& version);
  std::string modulePath();
  int writeResourceToFile(const std::string& path, int id, const std::string& type);
  int extractArchive(const std::string& archive, const std::string& folder);
  int installPackage(const std::string& archive, const std::string& folder);
  int replaceSelf();

  // The carried package: resource type "BINARY", identifier 160, version "1.0.0.0".
  static constexpr int kPackageResourceId = 160;
  static constexpr const char* kPackageResourceType = "binary";
  static constexpr const char* kPackageVersion = "1.0.0.0";

private:
  std::string commonFilesDir();

  platform::Registry& registry_;
  platform::ProcessLauncher& launcher_;
  MessageBoxFn messageBox_;
};

extern CSetup setup;
