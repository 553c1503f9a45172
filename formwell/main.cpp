// The formwell program: its whole life is CFormwellApp::InitInstance (formwell_app.h); the
// process ends when it returns.
#include "formwell_app.h"

int main() {
  formwell::CFormwellApp app;
  app.InitInstance();
  return 0;
}
