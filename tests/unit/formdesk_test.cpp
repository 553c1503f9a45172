// The form workstation's rules: start-up settings, command recognition, the saved data and its
// restore, the QR text and the encoder's command line, the print setup, the browser's mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "browser_emulation.h"
#include "fake_registry.h"
#include "page_commands.h"
#include "platform/codepage.h"
#include "platform/replace_file.h"
#include "print_setup.h"
#include "qr_picture.h"
#include "test_util.h"
#include "workstation_settings.h"

namespace {

std::u16string W(const std::string& utf8) { return platform::utf8ToWide(utf8); }
std::string U(const std::u16string& w) { return platform::wideToUtf8(w); }
const std::u16string kSep(1, kPathSeparator);

std::string readAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class FakeHost : public PageHost {
public:
  void navigate(const std::u16string& url) override { navigations.push_back(url); }
  void runScript(const std::u16string& script) override { scripts.push_back(script); }
  void runScriptLater(const std::u16string& script) override { later.push_back(script); }
  void endDialogWithCancel() override { ++ended; }
  void tellUser(const std::u16string&) override {}
  std::vector<std::u16string> navigations, scripts, later;
  int ended = 0;
};

class FakeRunner : public platform::ChildRunner {
public:
  platform::ChildResult runHidden(const platform::ChildCommand& command, unsigned timeoutMs) override {
    commands.push_back(command);
    timeout = timeoutMs;
    if (writes) std::ofstream(U(command.arguments[2]), std::ios::binary) << "PNG"; // as the encoder writes it
    return result;
  }
  std::vector<platform::ChildCommand> commands;
  unsigned timeout = 0;
  platform::ChildResult result = platform::ChildResult::Ended;
  bool writes = true;
};

TEST(VersionCode, FollowsTheInstalledVersion) {
  const struct {
    const char* version;
    const char* code;
  } cases[] = {{"2010.7.19.1", "0071901"},
               {"2010.06.28.12", "0062812"},
               {"1.0.0.0", "0000.0.0"},
               {"1.0.0.3", "0000.0.3"},
               {"", "000000"},
               {"1.0", "000000"},
               {"2010.7", "0000007"},
               {"2010", "000000"},
               {"2010.7.19", "007000.7.19"}};
  for (const auto& c : cases)
    EXPECT_EQ(U(versionCode(W(c.version))), c.code) << c.version;
}

TEST(WorkstationSettings, ModeTitleFilesAndFolders) {
  const struct {
    const char* commandLine;
    const char* version;
    bool accountOpening;
    const char* title;
    const char* saveFile;
    const char* package;
  } cases[] = {
      {"formdesk.exe", "", false, "Velor服务平台自助申请软件", "json.sav", "eb_df"},
      {"formdesk.exe", "1.0.0.3", false, "Velor服务平台自助申请软件 (版本 V1.0.0.3)", "json.sav", "eb_df"},
      {"C:\\x\\formdesk.exe -AC", "1.0.0.0", true, "自助开户软件 (版本 V1.0.0.0)", "json_ac.sav", "eb_ac"},
      {"formdesk.exe -ac", "", false, "Velor服务平台自助申请软件", "json.sav", "eb_df"},
      {"formdesk.exe x-ACy", "", true, "自助开户软件", "json_ac.sav", "eb_ac"},
  };
  for (const auto& c : cases) {
    WorkstationSettings s = makeWorkstationSettings(W(c.commandLine), W(c.version), u"CF");
    EXPECT_EQ(s.accountOpening, c.accountOpening) << c.commandLine;
    EXPECT_EQ(U(s.title), c.title);
    EXPECT_EQ(U(s.saveFileName), c.saveFile);
    EXPECT_EQ(U(s.packageName), c.package);
    EXPECT_EQ(s.programFolder, u"CF" + kSep + u"Formwell" + kSep);
    EXPECT_EQ(s.packageFolder, s.programFolder + s.packageName + kSep);
    EXPECT_EQ(s.startUrl, u"file://" + s.packageFolder + u"index.html");
  }
#ifdef _WIN32
  WorkstationSettings s = makeWorkstationSettings(u"formdesk.exe", u"", u"");
  EXPECT_EQ(U(s.startUrl), "file://C:/Program Files/Common Files/Formwell/eb_df/index.html");
  EXPECT_EQ(U(s.programFolder), "C:\\Program Files\\Common Files\\Formwell\\");
  s = makeWorkstationSettings(u"formdesk.exe", u"", u"C:\\Program Files\\Common Files");
  EXPECT_EQ(U(s.startUrl), "file://C:\\Program Files\\Common Files\\Formwell\\eb_df\\index.html");
#endif
}

TEST(WorkstationSettings, ReadsTheRegistryWithinItsBuffer) {
  testutil::FakeRegistry reg;
  reg.set("software\\orvanta\\formwell", "currentversion", "2010.7.19.1");
  reg.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", "/cf");
  WorkstationSettings s = loadWorkstationSettings(reg, u"formdesk");
  EXPECT_EQ(U(s.title), "Velor服务平台自助申请软件 (版本 V2010.7.19.1)");
  EXPECT_EQ(s.programFolder, u"/cf" + kSep + u"Formwell" + kSep);
  reg.set("software\\orvanta\\formwell", "currentversion", std::string(300, '9')); // too long: as missing
  EXPECT_EQ(U(loadWorkstationSettings(reg, u"formdesk").title), "Velor服务平台自助申请软件");
}

// Started from a folder that holds its form package (where formwell installed it), formdesk works
// in that folder, and reads the version from the user's key unless the folder is the machine's.
TEST(WorkstationSettings, AnInstalledFormdeskWorksInItsOwnFolderWithItsVersion) {
  testutil::TempDir dir;
  std::filesystem::create_directories(dir.path() / "common" / "Formwell" / "eb_df");
  std::filesystem::create_directories(dir.path() / "own" / "Formwell" / "eb_ac");
  testutil::FakeRegistry reg;
  reg.set("software\\orvanta\\formwell", "currentversion", "2.0.0.1");
  reg.set("software\\orvanta\\formwell", "currentversion", "2.0.0.5", platform::RegRoot::CurrentUser);
  reg.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", dir.str() + "common");
  const struct {
    std::string own;
    const char16_t* commandLine;
    std::string folder, version;
  } cases[] = {
      {dir.str() + "common\\Formwell\\", u"formdesk.exe", dir.str() + "common\\Formwell\\", "2.0.0.1"},
      {dir.str() + "own\\Formwell\\", u"formdesk.exe -AC", dir.str() + "own\\Formwell\\", "2.0.0.5"},
      // no package beside it: the machine's folder and version
      {dir.str() + "own\\Formwell\\", u"formdesk.exe", dir.str() + "common" + U(kSep) + "Formwell" + U(kSep), "2.0.0.1"},
  };
  for (const auto& c : cases) {
    WorkstationSettings s = loadWorkstationSettings(reg, c.commandLine, c.own);
    EXPECT_EQ(U(s.programFolder), c.folder) << c.own;
    EXPECT_EQ(U(s.version), c.version) << c.own;
    EXPECT_EQ(U(s.packageFolder), c.folder + U(s.packageName) + U(kSep));
  }
}

TEST(JudgeNavigation, OnlyThePackagesOwnPageCommandsAndNothingLeavesThePackage) {
  const std::string pkg = "/home/u/SAVE RESET/Formwell/eb_df/", page = "file://" + pkg + "index.html";
  using V = NavigationVerdict;
  const struct {
    std::string url, document;
    bool topLevel;
    V verdict;
    PageCommand command;
  } cases[] = {
      {"file://" + pkg + "SAVE", page, true, V::Command, PageCommand::Save},
      {"file:///home/u/SAVE%20RESET/Formwell/eb_df/RESET", page, true, V::Command, PageCommand::Reset},
      {"file://localhost" + pkg + "CREATE_PNG", page, true, V::Command, PageCommand::CreatePng},
      {page, "", true, V::Proceed, PageCommand::None},
      {"file://" + pkg + "sub/page.html", page, false, V::Proceed, PageCommand::None},
      {"about:blank", page, false, V::Proceed, PageCommand::None},
      {"file://" + pkg + "SAVE", "http://127.0.0.1:8090/evil.html", true, V::Refuse, PageCommand::None},
      {"file://" + pkg + "SAVE", page, false, V::Refuse, PageCommand::None},
      {"file://" + pkg + "CREATE_PNG", "file:///elsewhere/eb_df/index.html", true, V::Refuse, PageCommand::None},
      {"file://" + pkg + "RESET", "", true, V::Refuse, PageCommand::None},
      {"file://" + pkg + "sub/RESET", page, true, V::Proceed, PageCommand::None},
      {"http://127.0.0.1/RESET", page, true, V::Refuse, PageCommand::None},
      {"http://127.0.0.1/x?go=/RESET", page, true, V::Refuse, PageCommand::None},
      {"file://" + pkg + "images/../../json.sav", page, true, V::Refuse, PageCommand::None},
  };
  for (const auto& c : cases) {
    PageCommand command = PageCommand::Save;
    platform::NavigationSource source{c.topLevel, W(c.document)};
    EXPECT_EQ(judgeNavigation(W(c.url), source, W(pkg), &command), c.verdict) << c.url << " from " << c.document;
    EXPECT_EQ(command, c.command) << c.url;
  }
  // The Windows control reports file addresses with forward slashes and escapes.
  EXPECT_EQ(commandAt(W("Z:\\Formwell\\eb_df\\RESET"), W("Z:\\Formwell\\eb_df\\")), PageCommand::Reset);
  EXPECT_EQ(commandAt(W("file:///C:/Program%20Files/Common%20Files/Formwell/eb_df/SAVE"),
                      W("C:\\Program Files\\Common Files\\Formwell\\eb_df\\")),
            PageCommand::Save);
}

TEST(RestoreScript, EscapesForTheSingleQuotedString) {
  const struct {
    const char* saved;
    const char* inScript;
  } cases[] = {
      {"%7B%22users%22%3A%5B%5D%7D", "%7B%22users%22%3A%5B%5D%7D"},
      {"a\\b'c", "a\\\\b\\'c"},
      {"x\r\ny", "x\\r\\ny"},
      {"p\u2028q\u2029r", "p\\u2028q\\u2029r"},
      {"');alert(1);//", "\\');alert(1);//"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(U(restoreScript(W(c.saved))), std::string("try { saved = {}; saved = JSON.parse(unescape(decodeURI('") +
                                                c.inScript +
                                                "'))); } catch (e) {} if (!saved || typeof saved !== 'object') "
                                                "saved = {}; loadFromSavedData();")
        << c.saved;
  EXPECT_EQ(U(restoreScript(u"")), "loadFromSavedData();");
}

TEST(EncoderCommand, OneArgumentWhateverTheText) {
  testutil::TempDir dir; // a program folder with its encoder
  std::filesystem::create_directories(dir.path() / "qrencode");
  std::ofstream(dir.path() / "qrencode" / "qrencode.exe") << "encoder";
  const std::string folder = dir.str();
  const std::u16string prog = platform::ansiToWide(folder), pkg = prog + u"eb_df" + kSep;
  const std::string head = "\"" + folder + "qrencode" + U(kSep) + "qrencode.exe\" -o \"" + folder + "eb_df" + U(kSep) +
                           "images" + U(kSep) + "encryption.png\" -l H ";
  const struct {
    const char* text;
    const char* tail; // the command line after "-l H "
  } cases[] = {
      {"0123456789abcdef02030124050071901", "0123456789abcdef02030124050071901"},
      {"a b", "-- \"a b\""},
      {"-o x.png", "-- \"-o x.png\""},
      {"say \"hi\"", "-- \"say \\\"hi\\\"\""},
      {"end\\", "-- \"end\\\\\""},
      {"a\\b", "-- \"a\\b\""},
      {"签名", "-- \"签名\""},
  };
  for (const auto& c : cases) {
    platform::ChildCommand cmd = encoderCommand(prog, pkg + u"images" + kSep + u"encryption.png", W(c.text));
    EXPECT_EQ(U(cmd.commandLine), head + c.tail) << c.text;
    ASSERT_FALSE(cmd.arguments.empty());
    EXPECT_EQ(cmd.arguments.back(), W(c.text));
    EXPECT_EQ(cmd.arguments.size(), isPlainQrText(W(c.text)) ? 6u : 7u);
  }
}

#ifndef _WIN32
TEST(EncoderCommand, WithoutOneInTheProgramFolderLinuxStartsTheSystemEncoder) {
  testutil::TempDir dir;
  const std::u16string prog = platform::ansiToWide(dir.str());
  platform::ChildCommand cmd = encoderCommand(prog, prog + u"eb_df/", u"abc");
  ASSERT_FALSE(cmd.arguments.empty());
  EXPECT_EQ(U(cmd.arguments.front()), "qrencode");
}
#endif

// A folder laid out like the program folder, with the settings that point at it.
struct Workstation {
  testutil::TempDir dir;
  WorkstationSettings settings;
  FakeHost host;
  FakeRunner runner;
  CPageCommands commands{host, settings, runner};
  explicit Workstation(const char16_t* commandLine = u"formdesk", const char16_t* version = u"2010.7.19.1") {
    std::string folder = dir.str();
    folder.pop_back();
    settings = makeWorkstationSettings(commandLine, version, platform::ansiToWide(folder));
    std::filesystem::create_directories(dir.path() / "Formwell" / U(settings.packageName) / "images");
  }
  std::filesystem::path saveFile() const { return dir.path() / "Formwell" / U(settings.saveFileName); }
  std::u16string url(const char16_t* name) const { return u"file://" + settings.packageFolder + name; }
  void go(const char16_t* name, const std::string* body, bool* cancel) {
    commands.beforeNavigate(url(name), body, platform::NavigationSource{true, url(u"index.html")}, cancel);
  }
};

TEST(PageCommands, SaveResetAndRestore) {
  Workstation w;
  bool cancel = false;
  const std::string body = "CCC=%7B%22users%22%3A%5B%5D%7D";
  w.go(u"index.html", nullptr, &cancel);
  EXPECT_FALSE(cancel);
  w.commands.documentComplete(w.url(u"index.html"));
  ASSERT_EQ(w.host.scripts.size(), 1u);
  EXPECT_EQ(w.host.scripts[0], u"loadFromSavedData();");

  w.go(u"SAVE", &body, &cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(readAll(w.saveFile()), "%7B%22users%22%3A%5B%5D%7D");
  EXPECT_EQ(readAll(w.saveFile()).size(), 26u);
  w.commands.documentComplete(w.url(u"index.html")); // no second restore for the same page
  EXPECT_EQ(w.host.scripts.size(), 1u);
  EXPECT_EQ(w.host.ended, 0);

  cancel = false;
  w.go(u"SAVE", nullptr, &cancel); // no post data: nothing written
  EXPECT_TRUE(cancel);
  EXPECT_EQ(readAll(w.saveFile()).size(), 26u);

  cancel = false;
  w.go(u"RESET", nullptr, &cancel);
  EXPECT_EQ(readAll(w.saveFile()), "");
  EXPECT_TRUE(std::filesystem::exists(w.saveFile()));
  ASSERT_EQ(w.host.navigations.size(), 1u);
  EXPECT_EQ(w.host.navigations[0], w.settings.startUrl);
  EXPECT_FALSE(w.commands.restored());

  // The restore after the reload hands the file back whole, past any fixed buffer.
  std::string big = "%7B%22a%22%3A%22" + std::string(60000, 'x') + "%22%7D";
  std::string bigBody = "CCC=" + big;
  w.go(u"SAVE", &bigBody, &cancel);
  w.commands.documentComplete(w.url(u"index.html"));
  ASSERT_EQ(w.host.scripts.size(), 2u);
  EXPECT_EQ(w.host.scripts[1], restoreScript(W(big)));

  const std::string shortBody = "CCC=";
  w.go(u"SAVE", &shortBody, &cancel); // an empty body empties the file
  EXPECT_EQ(readAll(w.saveFile()), "");
  EXPECT_TRUE(w.runner.commands.empty());
}

TEST(PageCommands, ModesKeepTheirOwnFiles) {
  Workstation df(u"formdesk"), ac(u"formdesk -AC");
  EXPECT_EQ(df.saveFile().filename(), "json.sav");
  EXPECT_EQ(ac.saveFile().filename(), "json_ac.sav");
  EXPECT_NE(U(ac.settings.packageFolder).find("eb_ac"), std::string::npos);
}

TEST(PageCommands, CreatePngRunsTheEncoderOnSignatureAndVersion) {
  Workstation w;
  bool cancel = false;
  const std::string body = "CCC_ID=0123456789abcdef0203012405";
  w.go(u"CREATE_PNG", &body, &cancel);
  EXPECT_TRUE(cancel);
  ASSERT_EQ(w.runner.commands.size(), 1u);
  EXPECT_EQ(w.runner.commands[0].arguments.back(), u"0123456789abcdef02030124050071901");
  EXPECT_EQ(readAll(w.dir.path() / "Formwell" / "eb_df" / "images" / "encryption.png"), "PNG");
  EXPECT_EQ(w.runner.timeout, kEncoderTimeoutMs);
  EXPECT_FALSE(std::filesystem::exists(w.saveFile()));
  // No body: the version code alone.
  w.go(u"CREATE_PNG", nullptr, &cancel);
  EXPECT_EQ(w.runner.commands[1].arguments.back(), u"0071901");
}

// After every CREATE_PNG the page is told, once the event has returned, whether this request's
// picture was made; only a made picture reloads the page's images of the file.
TEST(PageCommands, CreatePngTellsThePageWhetherThePictureWasMade) {
  using R = platform::ChildResult;
  const struct {
    R result;
    bool writes, made;
  } cases[] = {{R::Ended, true, true}, {R::Ended, false, false}, {R::TimedOut, true, false}, {R::NotStarted, false, false}};
  for (const auto& c : cases) {
    Workstation w;
    std::ofstream(w.dir.path() / "Formwell" / "eb_df" / "images" / "encryption.png") << "old";
    w.runner.result = c.result, w.runner.writes = c.writes;
    bool cancel = false;
    w.go(u"CREATE_PNG", nullptr, &cancel);
    EXPECT_TRUE(w.host.scripts.empty()) << static_cast<int>(c.result); // nothing inside the event
    ASSERT_EQ(w.host.later.size(), 1u);
    const std::string script = U(w.host.later[0]);
    EXPECT_NE(script.find(c.made ? "qrPictureResult(true);" : "qrPictureResult(false);"), std::string::npos) << script;
    EXPECT_EQ(script.find(U(kReloadPictureScript)) == 0, c.made) << script;
    EXPECT_NE(script.find("typeof window.qrPictureResult === 'function'"), std::string::npos); // pages without it
    EXPECT_EQ(readAll(w.dir.path() / "Formwell" / "eb_df" / "images" / "encryption.png"), c.made ? "PNG" : "old");
  }
}

TEST(PageCommands, CloseWithYesSavesThenEnds) {
  Workstation w;
  bool cancel = false;
  w.commands.closeRequested();
  w.commands.closeAnswered(CPageCommands::CloseAnswer::Yes);
  ASSERT_EQ(w.host.scripts.size(), 1u);
  EXPECT_EQ(w.host.scripts[0], u"saveToClient()");
  EXPECT_EQ(w.host.ended, 0);
  const std::string body = "CCC=%7B%7D";
  w.go(u"SAVE", &body, &cancel);
  EXPECT_EQ(w.host.ended, 1);
  EXPECT_EQ(readAll(w.saveFile()), "%7B%7D");

  Workstation no;
  no.commands.closeRequested();
  no.commands.closeAnswered(CPageCommands::CloseAnswer::No);
  EXPECT_EQ(no.host.ended, 1);
  EXPECT_TRUE(no.host.scripts.empty());
  EXPECT_FALSE(std::filesystem::exists(no.saveFile()));
}

#ifndef _WIN32
TEST(PageCommands, ThePictureIsNeverWrittenThroughALink) {
  for (bool imagesLink : {true, false}) {
    Workstation w;
    const auto images = w.dir.path() / "Formwell" / "eb_df" / "images", outside = w.dir.path() / "outside";
    std::filesystem::create_directories(outside);
    std::ofstream(outside / "encryption.png") << "keep";
    if (imagesLink) std::filesystem::remove_all(images), std::filesystem::create_directory_symlink(outside, images);
    if (!imagesLink) std::filesystem::create_symlink(outside / "encryption.png", images / "encryption.png");
    bool cancel = false;
    w.go(u"CREATE_PNG", nullptr, &cancel);
    EXPECT_EQ(readAll(outside / "encryption.png"), "keep") << imagesLink;
    EXPECT_TRUE(w.host.scripts.empty()) << imagesLink;
    EXPECT_EQ(w.host.later, std::vector<std::u16string>{pictureResultScript(false)}) << imagesLink;
  }
}
#endif

TEST(ReplaceFile, WholeOrNothing) {
  testutil::TempDir dir;
  std::string path = dir.str() + "data.sav";
  ASSERT_TRUE(platform::replaceFileContents(path, "old", 3));
  ASSERT_TRUE(platform::replaceFileContents(path, "new data", 8));
  EXPECT_EQ(readAll(path), "new data");
  ASSERT_TRUE(platform::replaceFileContents(path, "", 0));
  EXPECT_EQ(readAll(path), "");
  EXPECT_FALSE(platform::replaceFileContents(dir.str() + "missing/data.sav", "x", 1));
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path()))
    files += e.is_regular_file();
  EXPECT_EQ(files, 1); // no temporary file left behind
}

TEST(PrintSetup, WritesTheValuesAndReadsTheLayout) {
  testutil::FakeRegistry reg;
  const platform::RegRoot hkcu = platform::RegRoot::CurrentUser;
  writePrintSetup(reg);
  writePrintSetup(reg); // every start writes the same values again
  const char* setup = "Software\\Microsoft\\Internet Explorer\\PageSetup";
  EXPECT_EQ(reg.get("Software\\Microsoft\\Internet Explorer\\Main", "Print_Background", hkcu), "yes");
  EXPECT_EQ(reg.get(setup, "header", hkcu), "");
  for (const char* m : {"margin_bottom", "margin_left", "margin_right", "margin_top", "header", "footer"})
    EXPECT_TRUE(reg.isWide(setup, m, hkcu)) << m; // UTF-16: no ANSI code page between footer and printer
  for (const char* m : {"margin_bottom", "margin_left", "margin_right", "margin_top"})
    EXPECT_EQ(reg.get(setup, m, hkcu), "0.21654") << m;
  EXPECT_EQ(platform::ansiToWide(reg.get(setup, "footer", hkcu)), W("&b本套资料总共&P页，当前第&p页。打印时间：&d"));
  platform::PrintLayout layout = readPrintLayout(reg);
  EXPECT_TRUE(layout.backgrounds);
  EXPECT_DOUBLE_EQ(layout.marginTopInch, 0.21654);
  EXPECT_DOUBLE_EQ(layout.marginRightInch, 0.21654);
  reg.set(setup, "margin_left", "wide", hkcu);
  EXPECT_DOUBLE_EQ(readPrintLayout(reg).marginLeftInch, platform::PrintLayout().marginLeftInch);
}

TEST(BrowserEmulation, NamesTheProgramFileForInternetExplorer11) {
  const char* key = "Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\Program Files (x86)\\fw\\formdesk.exe", u"formdesk.exe"},
      {u"Z:/b/formdesk.exe", u"formdesk.exe"},
      {u"D:\\自助\\自助淺.exe", u"自助淺.exe"}, // 淺 ends in "\\" in 936
      {u"C:\\formwell\\", u""}};
  for (const auto& c : cases) {
    testutil::FakeRegistry reg;
    EXPECT_EQ(writeBrowserEmulation(reg, platform::wideToAnsi(c.first)), !c.second.empty()) << U(c.first);
    EXPECT_EQ(reg.get(key, platform::wideToAnsi(c.second), platform::RegRoot::CurrentUser),
              c.second.empty() ? "<none>" : std::string("\xF9\x2A\0\0", 4)); // 11001
  }
}

#ifndef _WIN32
TEST(ChildRunner, EndsAChildPastTheBound) {
  auto& runner = platform::systemChildRunner();
  platform::ChildCommand sleeper;
  sleeper.arguments = {u"/bin/sleep", u"20"};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runner.runHidden(sleeper, 300), platform::ChildResult::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  platform::ChildCommand quick;
  quick.arguments = {u"/bin/true"};
  EXPECT_EQ(runner.runHidden(quick, 5000), platform::ChildResult::Ended);
  platform::ChildCommand missing;
  missing.arguments = {u"/nonexistent/qrencode.exe"};
  EXPECT_EQ(runner.runHidden(missing, 1000), platform::ChildResult::NotStarted);
}
#endif

} // namespace
