#include "formwell_app.h"

#include <cctype>
#include <climits>
#include <cstdint>

namespace formwell {

namespace {

// The decimal reading of the leading digits, as the standard string-to-integer conversion
// reads them (leading blanks, an optional sign); 0 without digits. Saturates instead of
// overflowing, so that an absurd part cannot wrap round into a small one.
int64_t leadingValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    if (value < INT32_MAX) value = value * 10 + (text[i] - '0');
  if (value > INT32_MAX) value = INT32_MAX;
  return negative ? -value : value;
}

// The text between two positions, exclusive; empty when the end lies before the start (a
// missing dot, -1).
std::string piece(const std::string& text, long start, long end) {
  if (start < 0) start = 0;
  if (end < start || static_cast<size_t>(start) > text.size()) return "";
  return text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

long findFrom(const std::string& text, long from) {
  if (from < 0) return -1;
  size_t p = text.find('.', static_cast<size_t>(from));
  return p == std::string::npos ? -1 : static_cast<long>(p);
}

struct Dots {
  long d1, d2, d3;
};

// The first dot, the next one after it and the next after that; -1 for each that is absent
// (and for every one after an absent one).
Dots dots(const std::string& text) {
  Dots d;
  d.d1 = findFrom(text, 0);
  d.d2 = d.d1 < 0 ? -1 : findFrom(text, d.d1 + 1);
  d.d3 = d.d2 < 0 ? -1 : findFrom(text, d.d2 + 1);
  return d;
}

int64_t weight(const std::string& text, const Dots& d) {
  int64_t v0 = leadingValue(piece(text, 0, d.d1));
  int64_t v1 = leadingValue(piece(text, d.d1 + 1, d.d2));
  int64_t v2 = leadingValue(piece(text, d.d2 + 1, d.d3));
  int64_t v3 = text.empty() ? 0 : leadingValue(text.substr(text.size() - 1));
  return 1000 * v0 + 100 * v1 + 10 * v2 + v3;
}

} // namespace

int isUpdateNeeded(const std::string& installed, const std::string& server, int programFolderExists) {
  if (!programFolderExists) return 1;
  Dots a = dots(installed);
  if (a.d1 < 0 || a.d2 < 0) return 1;
  Dots b = dots(server);
  return weight(server, b) > weight(installed, a) ? 1 : 0;
}

bool CFormwellApp::InitInstance() {
  updateNeeded_ = 0;
  installFailed_ = false;
  steps_.loadTexts();
  steps_.applyProxySettings();
  steps_.startVersionCheck();
  // The user's choice and the network wait overlap: the check runs while the dialog is up.
  std::string choice = steps_.runStartDialog();
  while (!steps_.versionCheckDone())
    steps_.sleepMs(kVersionPollMs);

  // An installation that a crash, a kill or a power cut ended half way is completed from its
  // package before anything looks at the installed version or starts formdesk: the program
  // folder is never used half old, half new. When that fails, nothing else happens.
  if (!steps_.finishPendingInstall()) {
    installFailed_ = true;
    return false;
  }
  std::string installed = steps_.readInstalledVersion();
  std::string server = steps_.serverVersion();
  if (server == kCarriedVersion || (server.empty() && (installed.empty() || !steps_.programFolderExists()))) {
    if (!steps_.installCarriedPackage()) {
      installFailed_ = true;
      return false;
    }
  } else if (!server.empty()) {
    updateNeeded_ = isUpdateNeeded(installed, server, steps_.programFolderExists());
    if (updateNeeded_ && steps_.runUpdateDialog() == kIdOk) steps_.launchFormDesk(choice);
  }

  if (updateNeeded_)
    steps_.replaceSelf();
  else
    steps_.launchFormDesk(choice);
  return false;
}

} // namespace formwell
