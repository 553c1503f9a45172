// Starting the form workstation, formdesk, on the form the start dialog chose. formwell does not
// wait for it and passes it nothing but the "-AC" switch. Windows runs a command line (WinExec);
// Linux an argument vector (no shell). The launcher is handed in so tests can record what would
// have started.
#pragma once

#include <string>
#include <vector>

// What starts formdesk: the folder to make current, and the program with its arguments, both as
// a Windows command line and as an argument vector.
struct FormDeskCommand {
  std::string folder;            // the program folder, ending in a separator
  std::string program;           // folder + "formdesk.exe"
  std::vector<std::string> args; // {"-AC"} for the account-opening form, else none
  std::string commandLine;       // "\"<program>\"" plus " -AC" when chosen
};

// choice "Formwell" (exactly) selects the account-opening form; anything else the default form.
FormDeskCommand formDeskCommand(const std::string& choice, const std::string& programFolder);

class FormDeskLauncher {
public:
  virtual ~FormDeskLauncher() = default;
  virtual bool setCurrentFolder(const std::string& folder) = 0;
  // Starts the program, detached, shown normally; true when it started.
  virtual bool start(const FormDeskCommand& command) = 0;
};

// The real launcher: WinExec(commandLine, SW_SHOWNORMAL) on Windows, posix_spawn on Linux.
FormDeskLauncher& systemFormDeskLauncher();

// Makes the folder current and starts formdesk. The result is not examined by start-up: a missing
// formdesk fails silently.
bool launchFormDesk(const std::string& choice, const std::string& programFolder,
                    FormDeskLauncher& launcher = systemFormDeskLauncher());
