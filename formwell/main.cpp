// The formwell program. Its start-up sequence (texts, proxy, start dialog, version check, update)
// comes later; for now it does the part that needs no server: when no package is installed, or
// the program folder is gone, it writes the carried package into the program folder and unpacks
// it there, as the start-up does when no update server answers.
#include <string>

#include "platform/files.h"
#include "setup.h"
#include "version_check.h"

namespace {

int startUp() {
  if (!setup.readInstalledVersion().empty() && setup.programFolderExists()) return 0;
  std::string folder = setup.programFolder();
  platform::makeSurePathExists(folder);
  std::string archive = folder + "tm.zip";
  setup.writeResourceToFile(archive, CSetup::kPackageResourceId, CSetup::kPackageResourceType);
  return setup.installPackage(archive, folder) ? 0 : 1;
}

} // namespace

int main() {
  int result = startUp();
  // The end of start-up: a fetch that was given up must not be inside the network library while
  // the process tears it down.
  formwell::endNetworkActivity();
  return result;
}
