// Drives formdesk's command handling through the real Windows browser control where no page can
// run (Wine has no HTML engine): the probe posts SAVE and CREATE_PNG and goes to RESET itself,
// one step a second, logs every event the control raises, and hands the events to CPageCommands
// exactly as CKDSK_F_Dlg does.
//   browser_post_probe COMMON_FILES_FOLDER LOG_FILE
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "explorer.h"
#include "page_commands.h"
#include "platform/child_process.h"
#include "platform/codepage.h"
#include "platform/dialog.h"
#include "platform/file_info.h"

namespace {

const platform::DialogTemplate& probeTemplate() {
  static const platform::DialogTemplate t = [] {
    platform::DialogTemplate d;
    d.id = 1;
    d.cx = 300;
    d.cy = 200;
    d.style = platform::kDialogCaption | platform::kDialogSysMenu | platform::kDialogVisible;
    d.caption = "browser post probe";
    d.controls = {{platform::ControlKind::Host, 1000, 0, 0, 300, 200, "", 0, 0}};
    return d;
  }();
  return t;
}

class ProbeDlg : public platform::Dialog, private PageHost {
public:
  ProbeDlg(const std::u16string& commonFiles, std::FILE* log)
      : Dialog(probeTemplate()), log_(log), settings_(makeWorkstationSettings(u"probe", u"2010.7.19.1", commonFiles)),
        commands_(*this, settings_, platform::systemChildRunner()) {}

  bool onInitDialog() override {
    explorer_.setBeforeNavigate([this](const std::u16string& url, const std::string* postData,
                                       const platform::NavigationSource& source, bool* cancel) {
      commands_.beforeNavigate(url, postData, source, cancel);
      // The body's length and its bytes in hex: Wine's control may hand over other bytes.
      std::string hex;
      for (unsigned char c : postData ? *postData : std::string())
        hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
      std::fprintf(log_, "before %s top=%d from=%s post=%s%s cancel=%d saved=%lld\n", platform::wideToUtf8(url).c_str(),
                   source.topLevel ? 1 : 0, platform::wideToUtf8(source.document).c_str(),
                   postData ? std::to_string(postData->size()).c_str() : "none", postData ? (":" + hex).c_str() : "",
                   *cancel ? 1 : 0,
                   static_cast<long long>(platform::fileSize(platform::wideToAnsi(commands_.savePath()))));
      std::fflush(log_);
    });
    explorer_.setDocumentComplete([this](const std::u16string& url) {
      std::fprintf(log_, "complete %s\n", platform::wideToUtf8(url).c_str());
      std::fflush(log_);
    });
    std::fprintf(log_, "created %d\n", explorer_.create(nativeHandle(1000), settings_.packageFolder) ? 1 : 0);
    std::fflush(log_);
    platform::UiPoster poster = this->poster();
    std::u16string base = u"file://" + settings_.packageFolder;
    worker_ = std::thread([poster, base, this] {
      const char* steps[] = {"page", "save", "png", "reset", "end"};
      for (const char* step : steps) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::string s = step;
        poster.post([this, s, base] {
          if (s == "page")
            explorer_.navigate(base + u"index.html");
          else if (s == "save")
            std::fprintf(log_, "post SAVE %d\n", explorer_.post(base + u"SAVE", "CCC=%7B%22users%22%3A%5B%5D%7D"));
          else if (s == "png")
            std::fprintf(log_, "post CREATE_PNG %d\n",
                         explorer_.post(base + u"CREATE_PNG", "CCC_ID=0123456789abcdef0203012405"));
          else if (s == "reset")
            explorer_.navigate(base + u"RESET");
          else
            endDialog(platform::kIdOk);
          std::fflush(log_);
        });
      }
    });
    return true;
  }

  ~ProbeDlg() override {
    if (worker_.joinable()) worker_.join();
  }

private:
  void navigate(const std::u16string& url) override {
    std::fprintf(log_, "host navigate %s\n", platform::wideToUtf8(url).c_str());
    explorer_.navigate(url);
  }
  void runScript(const std::u16string& script) override { explorer_.runScript(script); }
  void runScriptLater(const std::u16string& script) override {
    poster().post([this, script] { explorer_.runScript(script); });
  }
  void endDialogWithCancel() override { endDialog(platform::kIdCancel); }
  void tellUser(const std::u16string&) override {}

  std::FILE* log_;
  WorkstationSettings settings_;
  CExplorer explorer_;
  CPageCommands commands_;
  std::thread worker_;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::FILE* log = std::fopen(argv[2], "w");
  if (!log) return 2;
  int result = 0;
  {
    ProbeDlg dialog(platform::ansiToWide(argv[1]), log);
    result = dialog.doModal();
  }
  std::fprintf(log, "ended %d\n", result);
  std::fclose(log);
  return result == platform::kIdOk ? 0 : 1;
}
