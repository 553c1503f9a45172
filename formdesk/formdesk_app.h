// CKDSK_F_App, the form workstation's application object: it runs the main dialog modally and
// the program ends when the dialog has closed.
#pragma once

#include <string>

class CKDSK_F_App {
public:
  // The whole command line, program path included; "-AC" anywhere in it selects the
  // account-opening form. Returns the program's exit code.
  int run(const std::u16string& commandLine);
};
