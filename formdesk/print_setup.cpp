#include "print_setup.h"

#include <locale>
#include <sstream>

namespace {

const char kMainKey[] = "Software\\Microsoft\\Internet Explorer\\Main";
const char kPageSetupKey[] = "Software\\Microsoft\\Internet Explorer\\PageSetup";

// As UTF-16 (2 bytes a character, given without a terminator), so that the Chinese footer prints as it is on a
// Windows whose ANSI code page has no Chinese. Failures are ignored: the browser then prints with
// the settings it had.
void setText(platform::RegKey& key, const char* name, const std::u16string& text) { key.setWideString(name, text); }

} // namespace

void writePrintSetup(platform::Registry& registry) {
  {
    platform::RegKey main(registry);
    if (main.openOrCreate(platform::RegRoot::CurrentUser, kMainKey, platform::kKeyAllAccess))
      setText(main, "Print_Background", u"yes");
  }
  platform::RegKey setup(registry);
  if (!setup.openOrCreate(platform::RegRoot::CurrentUser, kPageSetupKey, platform::kKeyAllAccess)) return;
  setText(setup, "footer", u"&b本套资料总共&P页，当前第&p页。打印时间：&d");
  setText(setup, "header", u"");
  for (const char* name : {"margin_bottom", "margin_left", "margin_right", "margin_top"})
    setText(setup, name, u"0.21654");
}

platform::PrintLayout readPrintLayout(platform::Registry& registry) {
  platform::PrintLayout layout;
  layout.paper = "iso_a4"; // the application form is laid out for A4, the paper the bank files
  auto read = [&](const char* key, const char* name, std::string* out) {
    platform::RegKey k(registry);
    char buf[256];
    uint32_t got = 0;
    if (!k.openRead(platform::RegRoot::CurrentUser, key) || !k.query(name, buf, sizeof buf - 1, &got)) return false;
    out->assign(buf, got);
    return true;
  };
  std::string text;
  if (read(kMainKey, "Print_Background", &text)) layout.backgrounds = text.compare(0, 3, "yes") == 0;
  struct {
    const char* name;
    double* field;
  } margins[] = {{"margin_top", &layout.marginTopInch},
                 {"margin_bottom", &layout.marginBottomInch},
                 {"margin_left", &layout.marginLeftInch},
                 {"margin_right", &layout.marginRightInch}};
  for (auto& m : margins) {
    if (!read(kPageSetupKey, m.name, &text)) continue;
    std::istringstream in(text.c_str()); // the data may end in a terminator
    in.imbue(std::locale::classic());    // "0.21654" whatever the user's locale writes
    double v = -1;
    if (in >> v && v >= 0 && v < 10) *m.field = v;
  }
  return layout;
}
