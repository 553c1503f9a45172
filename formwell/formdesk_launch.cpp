#include "formdesk_launch.h"

#include "platform/program_start.h"

FormDeskCommand formDeskCommand(const std::string& choice, const std::string& programFolder) {
  FormDeskCommand c;
  c.folder = programFolder;
  if (!c.folder.empty() && c.folder.back() != '\\' && c.folder.back() != '/') c.folder += '\\';
  c.program = c.folder + "formdesk.exe";
  // The path is quoted: unquoted, a folder under "C:\Program Files" would let the system start a
  // planted "C:\Program.exe" with the rest as its arguments. A path cannot hold a quote on Windows.
  c.commandLine = "\"" + c.program + "\"";
  if (choice == "Formwell") {
    c.args.push_back("-AC");
    c.commandLine += " -AC";
  }
  return c;
}

namespace {

class SystemFormDeskLauncher : public FormDeskLauncher {
public:
  bool setCurrentFolder(const std::string& folder) override { return platform::setCurrentFolder(folder); }
  bool start(const FormDeskCommand& command) override {
#ifdef _WIN32
    return platform::startCommandLine(command.commandLine);
#else
    return platform::startProgram(command.program, command.args);
#endif
  }
};

} // namespace

FormDeskLauncher& systemFormDeskLauncher() {
  static SystemFormDeskLauncher launcher;
  return launcher;
}

bool launchFormDesk(const std::string& choice, const std::string& programFolder, FormDeskLauncher& launcher) {
  FormDeskCommand command = formDeskCommand(choice, programFolder);
  launcher.setCurrentFolder(command.folder);
  return launcher.start(command);
}
