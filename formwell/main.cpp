// The formwell program: its whole life is CFormwellApp::InitInstance (formwell_app.h); the
// process ends when it returns.
#include "formwell_app.h"
#include "version_check.h"

int main() {
  formwell::CFormwellApp app;
  app.InitInstance();
  // The end of start-up: a fetch that was given up must not be inside the network library while
  // the process tears it down.
  formwell::endNetworkActivity();
  return 0;
}
