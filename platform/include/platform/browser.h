// The embedded web browser, as the form workstation's CExplorer uses it: navigate, run a script in
// the page, and two events, before-navigate (with the body of a form post) and document-complete.
// Windows hosts the WebBrowser ActiveX control in a small OLE container of our own; Linux shows a
// WebKitGTK view that serves the pages below one folder under a scheme of its own, so that form
// posts reach it with their bodies. Addresses reach the events the way the page wrote them
// resolved against the page: file:// addresses for files on disk on both platforms.
// A browser lives inside a parent window (the native handle of a dialog's host control) and is
// used from the UI thread only; the events arrive on that thread, while the page navigates.
#pragma once

#include <memory>
#include <string>

namespace platform {

// Where a navigation comes from, as far as the browser can tell: whether it is the top-level
// document's own (false for a frame's), and the address of the top-level document that was
// showing when it was asked for (empty before the first one; file:// for the served files).
// Linux: WebKitGTK tells a frame's form post apart, but not a frame's plain navigation, which is
// reported as top-level.
struct NavigationSource {
  bool topLevel = true;
  std::u16string document;
};

class BrowserEvents {
public:
  virtual ~BrowserEvents() = default;
  // Before every navigation, the first one included. postData is the body of a form post, or null
  // for a plain navigation. Setting *cancel keeps the page where it is. A form post always keeps
  // the page where it is on Linux (the pages post only to the host).
  virtual void beforeNavigate(const std::u16string& url, const std::string* postData, const NavigationSource& source,
                              bool* cancel) = 0;
  // A page (or frame) has finished loading.
  virtual void documentComplete(const std::u16string& url) = 0;
};

// How the page prints. Windows's control reads Internet Explorer's page setup from the registry
// itself and ignores this; Linux prints through GTK with these margins.
struct PrintLayout {
  double marginTopInch = 0.75, marginBottomInch = 0.75, marginLeftInch = 0.75, marginRightInch = 0.75;
  bool backgrounds = false;
  // The paper the print dialog starts with, as a PWG name ("iso_a4"); empty leaves the desktop's
  // default. Windows's control takes the printer's own paper.
  std::string paper;
};

class Browser {
public:
  virtual ~Browser() = default;
  // Starts a navigation (no flags, target frame, post data or headers). A navigation started
  // from inside an event is carried out after the event has returned.
  virtual void navigate(const std::u16string& url) = 0;
  // Posts body (application/x-www-form-urlencoded) to url, as a page's form does; the events see
  // it as a form post. For tests where no page can run (Wine has no HTML engine). False where the
  // browser cannot start such a navigation itself (WebKitGTK).
  virtual bool post(const std::u16string& url, const std::string& body) = 0;
  // Runs script text in the current page ("javascript"); the result is discarded. Nothing runs
  // when there is no page.
  virtual void runScript(const std::u16string& script) = 0;
  // Makes the browser fill its parent again after the parent was moved or resized.
  virtual void fitToParent() = 0;
  virtual void setPrintLayout(const PrintLayout& layout) = 0;
};

// Creates a browser inside parent (an HWND on Windows, a GtkContainer on Linux). servedFolder is
// the folder whose pages the browser shows (Linux serves nothing outside it; Windows needs no
// such limit). events must outlive the browser. Null when the browser cannot be created.
std::unique_ptr<Browser> createBrowser(void* parent, const std::string& servedFolder, BrowserEvents* events);

} // namespace platform
