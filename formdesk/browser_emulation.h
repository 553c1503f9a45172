// The document mode of Windows's browser control for formdesk. Without a FEATURE_BROWSER_EMULATION
// value naming the program, the WebBrowser control shows every page in Internet Explorer 7's
// mode, in which the form pages do not work. formdesk sets it for the current user at start-up,
// before the control is first created (the control reads it then, once per process).
#pragma once

#include <string>

#include "platform/registry.h"

// Internet Explorer 11's own ("edge") mode, whatever a page's DOCTYPE says.
constexpr uint32_t kBrowserEmulationIe11 = 11001;

// Sets HKEY_CURRENT_USER ...\FeatureControl\FEATURE_BROWSER_EMULATION, value named after the file
// name part of modulePath (the program's path, ANSI code page; "formdesk.exe", as Windows matches
// it), to kBrowserEmulationIe11. False when the path has no file name or the value could not be
// written.
bool writeBrowserEmulation(platform::Registry& registry, const std::string& modulePath);
