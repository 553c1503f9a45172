// The browser's page setup for printing, written to Internet Explorer's per-user values at every
// start: backgrounds on, 0.21654 inch (5.5 mm) margins, no header, a fixed footer. Windows's
// browser control reads them itself; on Linux the browser is handed the same margins.
#pragma once

#include "platform/browser.h"
#include "platform/registry.h"

void writePrintSetup(platform::Registry& registry);

// The layout the values in the registry describe (values that are missing or not numbers keep
// the browser's defaults).
platform::PrintLayout readPrintLayout(platform::Registry& registry);
