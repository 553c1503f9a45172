#include "explorer.h"

#include "platform/codepage.h"

bool CExplorer::create(void* hostWindow, const std::u16string& servedFolder) {
  browser_ = platform::createBrowser(hostWindow, platform::wideToAnsi(servedFolder), this);
  return browser_ != nullptr;
}

void CExplorer::navigate(const std::u16string& url) {
  if (browser_) browser_->navigate(url);
}

void CExplorer::runScript(const std::u16string& script) {
  if (browser_) browser_->runScript(script);
}

bool CExplorer::post(const std::u16string& url, const std::string& body) {
  return browser_ && browser_->post(url, body);
}

void CExplorer::fitToHost() {
  if (browser_) browser_->fitToParent();
}

void CExplorer::setPrintLayout(const platform::PrintLayout& layout) {
  if (browser_) browser_->setPrintLayout(layout);
}

void CExplorer::beforeNavigate(const std::u16string& url, const std::string* postData,
                               const platform::NavigationSource& source, bool* cancel) {
  if (beforeNavigate_) beforeNavigate_(url, postData, source, cancel);
}

void CExplorer::documentComplete(const std::u16string& url) {
  if (documentComplete_) documentComplete_(url);
}
