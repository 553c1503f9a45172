// CExplorer: the form workstation's browser control. It gives the dialog navigate, runScript and
// the two events, and keeps COM and WebKit out of sight (they live in the platform's browser).
// The browser sits in the dialog's host control 1000 and fills it. UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/browser.h"

class CExplorer : private platform::BrowserEvents {
public:
  using BeforeNavigateHandler = std::function<void(const std::u16string& url, const std::string* postData,
                                                   const platform::NavigationSource& source, bool* cancel)>;
  using DocumentCompleteHandler = std::function<void(const std::u16string& url)>;

  CExplorer() = default;
  ~CExplorer() override = default;
  CExplorer(const CExplorer&) = delete;
  CExplorer& operator=(const CExplorer&) = delete;

  // Creates the browser inside the host control's native window; servedFolder holds the pages.
  bool create(void* hostWindow, const std::u16string& servedFolder);
  bool exists() const { return browser_ != nullptr; }
  void destroy() { browser_.reset(); }

  void navigate(const std::u16string& url);
  void runScript(const std::u16string& script);
  // A form post started by the host itself (tests only; false where the browser cannot).
  bool post(const std::u16string& url, const std::string& body);
  // After the host control was moved or resized.
  void fitToHost();
  void setPrintLayout(const platform::PrintLayout& layout);

  void setBeforeNavigate(BeforeNavigateHandler handler) { beforeNavigate_ = std::move(handler); }
  void setDocumentComplete(DocumentCompleteHandler handler) { documentComplete_ = std::move(handler); }

private:
  void beforeNavigate(const std::u16string& url, const std::string* postData, const platform::NavigationSource& source,
                      bool* cancel) override;
  void documentComplete(const std::u16string& url) override;

  std::unique_ptr<platform::Browser> browser_;
  BeforeNavigateHandler beforeNavigate_;
  DocumentCompleteHandler documentComplete_;
};
