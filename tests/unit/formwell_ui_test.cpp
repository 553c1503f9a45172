// formwell's user-interface pieces: the text table, formdesk's command line, and the start
// dialog with its links in a real window (GTK under Xvfb, Win32 under Wine).
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "formdesk_launch.h"
#include "link_static.h"
#include "platform/codepage.h"
#include "platform/dialog.h"
#include "platform/ui_thread.h"
#include "start_dialog.h"
#include "text_table.h"

using namespace platform;

namespace {

std::string asUtf8(const std::string& ansi) { return wideToUtf8(ansiToWide(ansi)); }

// --- the text table ---

TEST(TextTable, FillsTheNamedEntriesFromTheirStrings) {
  std::map<int, std::u16string> strings = {
      {13, u"退出"}, {27, u"正在检查版本更新，请稍候..."}, {35, u"升级好了"}, {99, u"never read"}};
  loadTextTable([&](int id) { return strings.count(id) ? strings[id] : std::u16string(); });
  EXPECT_EQ(asUtf8(uiText[6]), "退出");
  // 18 and 19 show the same string.
  EXPECT_EQ(asUtf8(uiText[18]), "正在检查版本更新，请稍候...");
  EXPECT_EQ(uiText[19], uiText[18]);
  EXPECT_EQ(asUtf8(uiText[24]), "升级好了");
  // A string the resource lacks, and every entry not named, reads empty.
  EXPECT_EQ(uiText[7], "");
  for (int i : {0, 1, 5, 8, 13, 17, 20, 22, 23, 25, 59})
    EXPECT_EQ(uiText[i], "") << i;
}

TEST(TextTable, ComesFromTheProgramsStringTable) {
  loadTextTable();
  struct Case {
    int entry;
    const char* text;
  } cases[] = {
      {6, "退出"},
      {7, "Velor服务平台自助申请软件"},
      {14,
       "欢迎使用OrvantaVelor服务平台自助申请软件，我们检测到服务器上有比您正在使用的版本更新的版本，请点击 开始升级 "
       "按钮启动升级，然后运行助手。"},
      {15, "开始升级"},
      {16, "运行软件"},
      {18, "正在检查版本更新，请稍候..."},
      {19, "正在检查版本更新，请稍候..."},
      {21, "安装软件不成功，请重新升级!"},
      {24, "您的程序已经升级为最新版本!"},
  };
  int filled = 0;
  for (const std::string& t : uiText)
    filled += t.empty() ? 0 : 1;
  EXPECT_EQ(filled, 9);
  for (const Case& c : cases)
    EXPECT_EQ(asUtf8(uiText[c.entry]), c.text) << "entry " << c.entry;
}

// --- formdesk's command line ---

struct FakeLauncher : FormDeskLauncher {
  std::vector<std::string> calls;
  FormDeskCommand started;
  bool setCurrentFolder(const std::string& folder) override {
    calls.push_back("cd " + folder);
    return true;
  }
  bool start(const FormDeskCommand& command) override {
    calls.push_back("start");
    started = command;
    return false; // a missing formdesk: nobody looks
  }
};

TEST(LaunchFormDesk, QuotesThePathAndAddsTheSwitchForTheAccountOpeningFormOnly) {
  const std::string pf = "C:\\Program Files\\Common Files\\Formwell\\";
  struct Case {
    const char* choice;
    std::string folder;
    std::string commandLine;
    std::vector<std::string> args;
  } cases[] = {
      {"Formwell", pf, "\"" + pf + "formdesk.exe\" -AC", {"-AC"}},
      {"AccountHelper", pf, "\"" + pf + "formdesk.exe\"", {}},
      {"", pf, "\"" + pf + "formdesk.exe\"", {}},
      {"formwell", pf, "\"" + pf + "formdesk.exe\"", {}},  // case-sensitive
      {"Formwell ", pf, "\"" + pf + "formdesk.exe\"", {}}, // exact
      {"Formwell", "d:\\Velor服务平台自助申请软件", "\"d:\\Velor服务平台自助申请软件\\formdesk.exe\" -AC", {"-AC"}},
  };
  for (const Case& c : cases) {
    FakeLauncher launcher;
    launchFormDesk(c.choice, c.folder, launcher);
    ASSERT_EQ(launcher.calls.size(), 2u);
    // The folder becomes current before formdesk starts, so formdesk finds its files there.
    EXPECT_EQ(launcher.calls[0].substr(0, 3), "cd ");
    EXPECT_EQ(launcher.calls[1], "start");
    EXPECT_EQ(launcher.started.commandLine, c.commandLine) << c.choice;
    EXPECT_EQ(launcher.started.args, c.args) << c.choice;
    EXPECT_EQ(launcher.started.program, launcher.started.folder + "formdesk.exe");
  }
}

// --- links ---

TEST(LinkColours, FollowTheState) {
  CLinkStatic link;
  EXPECT_EQ(link.currentColour(), rgb(0, 0, 238)); // normal
  link.setVisited(true);
  EXPECT_EQ(link.currentColour(), rgb(85, 26, 139)); // visited
  link.setColours(rgb(82, 82, 234), rgb(1, 2, 3), rgb(255, 128, 0));
  EXPECT_EQ(link.currentColour(), rgb(1, 2, 3));
  link.setVisited(false);
  EXPECT_EQ(link.currentColour(), rgb(82, 82, 234));
}

TEST(LinkFit, ShrinksToTheTextByStyle) {
  const Rect r{10, 20, 110, 40}; // 100 x 20
  const Size text{40, 14};
  struct Case {
    uint32_t style;
    Rect expected;
  } cases[] = {
      {0, {10, 20, 50, 34}},
      {kStaticRight, {70, 20, 110, 34}},
      {kStaticCenter, {40, 20, 80, 34}},
      {kStaticCenterImage, {10, 23, 50, 37}},
      {kStaticCenter | kStaticCenterImage, {40, 23, 80, 37}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CLinkStatic::fitToText(r, text, c.style), c.expected) << c.style;
  // Odd spare space: integer halves, the extra pixel stays at the bottom / right.
  EXPECT_EQ(CLinkStatic::fitToText({0, 0, 11, 11}, {4, 4}, kStaticCenter | kStaticCenterImage), (Rect{3, 3, 8, 8}));
}

// The start dialog in a real window: each test runs its checks from onInitDialog and ends it.
class StartDialogProbe : public CStartDlg {
public:
  std::function<void(StartDialogProbe&)> probe;
  bool onInitDialog() override {
    CStartDlg::onInitDialog();
    probe(*this);
    if (result() == 0) endDialog(99);
    return true;
  }
};

class StartDialogWindow : public ::testing::Test {
protected:
  void SetUp() override {
    // Under a display that refuses us the window tests fail; only a run without any display skips them.
    if (!uiAvailable() && std::getenv("DISPLAY")) FAIL() << "cannot open the display " << std::getenv("DISPLAY");
    if (!uiAvailable()) GTEST_SKIP() << "no display";
  }
};

TEST_F(StartDialogWindow, LinksAreFittedToTheirTextsWithTooltipsAndClicks) {
  StartDialogProbe dlg;
  dlg.probe = [](StartDialogProbe& d) {
    DialogBaseUnits base = d.baseUnits();
    EXPECT_GT(base.cx, 3);
    EXPECT_GT(base.cy, 8);
    Size client = d.clientSize();
    EXPECT_EQ(client.cx, dialogUnitsToPixelsX(171, base));
    EXPECT_EQ(client.cy, dialogUnitsToPixelsY(85, base));
    for (int id : {CStartDlg::kNoAccountLink, CStartDlg::kHaveAccountLink}) {
      Rect r = d.itemRect(id);
      Size text = d.measureItemText(id);
      const ControlTemplate& t = d.dialogTemplate().controls[id == CStartDlg::kNoAccountLink ? 1 : 2];
      Rect placed = mapDialogRect(t.x, t.y, t.cx, t.cy, base);
      EXPECT_EQ(r.left, placed.left) << id;
      EXPECT_EQ(r.top, placed.top) << id;
      EXPECT_GT(text.cx, 0) << id;
      EXPECT_EQ(r.width(), text.cx) << id; // exactly as wide as its text in the link font
      EXPECT_EQ(r.height(), text.cy) << id;
      EXPECT_TRUE(d.itemStyle(id) & kStaticNotify) << id;
    }
    EXPECT_EQ(wideToUtf8(d.haveAccountLink().targetText), "已有单位账户");
    EXPECT_EQ(wideToUtf8(d.noAccountLink().targetText), "尚未开立账户");
    EXPECT_EQ(wideToUtf8(d.itemText(CStartDlg::kHaveAccountLink)), "已有单位账户");

    // Hover: orange while over, back to normal once the pointer leaves.
    CLinkStatic& link = d.haveAccountLink();
    EXPECT_EQ(link.currentColour(), rgb(82, 82, 234));
    link.onMouseMove(2, 2);
    EXPECT_TRUE(link.isOver());
    EXPECT_EQ(link.currentColour(), rgb(255, 128, 0));
    link.onMouseMove(3, 3); // still inside: nothing changes
    EXPECT_TRUE(link.isOver());
    Rect r = d.itemRect(CStartDlg::kHaveAccountLink);
    link.onMouseMove(r.width() + 5, 2);
    EXPECT_FALSE(link.isOver());
    EXPECT_EQ(link.currentColour(), rgb(82, 82, 234));

    // The click reaches the dialog by link name and leaves the link visited.
    link.onClicked();
    EXPECT_TRUE(link.isVisited());
    EXPECT_FALSE(d.noAccountLink().isVisited());
  };
  EXPECT_EQ(dlg.doModal(), kIdOk);
  EXPECT_EQ(dlg.choice, "AccountHelper");
}

TEST_F(StartDialogWindow, LinkOneZeroFiveEightChoosesTheAccountOpeningForm) {
  StartDialogProbe dlg;
  dlg.probe = [](StartDialogProbe& d) { d.noAccountLink().onClicked(); };
  EXPECT_EQ(dlg.doModal(), kIdOk);
  EXPECT_EQ(dlg.choice, "Formwell");
}

// A link on a plain dialog: default colours, hover in the system highlight colour, and a click
// with a name no dialog knows does nothing but mark it visited.
class PlainLinkDialog : public Dialog {
public:
  PlainLinkDialog() : Dialog(startDialogTemplate()) {}
  CLinkStatic link;
  bool onInitDialog() override {
    link.attach(*this, CStartDlg::kNoAccountLink);
    link.linkName = "SOMETHING_ELSE";
    EXPECT_EQ(link.currentColour(), rgb(0, 0, 238));
    link.onMouseMove(1, 1);
    EXPECT_EQ(link.currentColour(), systemHighlightColour());
    link.onMouseMove(-1, -1);
    link.onClicked();
    EXPECT_EQ(result(), 0); // not ended by the click
    EXPECT_EQ(link.currentColour(), rgb(85, 26, 139));
    endDialog(kIdCancel);
    return true;
  }
};

TEST_F(StartDialogWindow, UnknownLinkNamesOnlyMarkTheLinkVisited) {
  PlainLinkDialog dlg;
  EXPECT_EQ(dlg.doModal(), kIdCancel);
}

} // namespace

namespace {

// A dialog like formdesk's: a host control that follows the client area two pixels beyond each
// edge, and a progress bar that a worker thread moves through the dialog's poster.
const DialogTemplate kHostTemplate = {500,
                                      200,
                                      100,
                                      kDialogCaption | kDialogSysMenu | kDialogMinimizeBox,
                                      "host",
                                      "Arial",
                                      9,
                                      {
                                          {ControlKind::Host, 1000, 0, 0, 100, 60, "", kControlTabStop, 0},
                                          {ControlKind::Progress, 1003, 10, 70, 100, 10, "", kControlHidden, 0},
                                          {ControlKind::DefPushButton, 1001, 120, 70, 40, 14, "开始升级", 0, 0},
                                      }};

class HostDialog : public Dialog {
public:
  HostDialog() : Dialog(kHostTemplate) {}
  int sizes = 0;
  Size first, last;
  int progressSeen = -1;
  std::thread worker;
  bool onInitDialog() override {
    EXPECT_TRUE(setIcon(128));
    EXPECT_FALSE(setIcon(4242)); // no such icon
    EXPECT_TRUE(appendSystemMenuItem(16, u"关于 KDSK_F(&A)..."));
    setWindowText(u"自助开户软件 (版本 V1.0.0.3)");
    EXPECT_EQ(wideToUtf8(windowText()), "自助开户软件 (版本 V1.0.0.3)");
    EXPECT_FALSE(isItemVisible(1003));
    EXPECT_TRUE(isItemEnabled(1001));
    enableItem(1001, false);
    EXPECT_FALSE(isItemEnabled(1001));
    EXPECT_NE(nativeHandle(1000), nullptr);
    setProgressRange(1003, 0, 100);
    showItem(1003, true);
    EXPECT_TRUE(isItemVisible(1003));
    UiPoster p = poster();
    worker = std::thread([p, this] {
      for (int i = 0; i <= 100; i += 10)
        p.post([this, i] { setProgressPos(1003, i); });
      p.post([this] { progressSeen = progressPos(1003); });
      // Let the loop settle for a few rounds, then end.
      p.post([this] { settle(5); });
    });
    return true;
  }
  void settle(int rounds) {
    if (rounds == 0) {
      endDialog(kIdOk);
      return;
    }
    poster().post([this, rounds] { settle(rounds - 1); });
  }
  void onSize(int cx, int cy) override {
    if (sizes++ == 0) first = Size{cx, cy};
    last = Size{cx, cy};
    if (hasItem(1000)) moveItem(1000, Rect{-2, -2, cx + 2, cy + 2});
  }
};

TEST_F(StartDialogWindow, AHostBeyondTheEdgesDoesNotGrowTheWindowAndWorkerCallsArrive) {
  HostDialog dlg;
  EXPECT_EQ(dlg.doModal(), kIdOk);
  dlg.worker.join();
  EXPECT_GE(dlg.sizes, 1);
  EXPECT_LE(dlg.sizes, 3);
  EXPECT_EQ(dlg.last, dlg.first);
  EXPECT_EQ(dlg.progressSeen, 100);
  // After the end the poster is closed: a late worker call is dropped, not run on a dead window.
  EXPECT_FALSE(dlg.poster().post([] { ADD_FAILURE() << "ran after the end"; }));
}

#ifdef _WIN32
// A button disabled while it holds the keyboard focus hands it on first: left without focus, the
// dialog would hear no Esc (the update dialog after a click on its start button). Enabled again
// while the focus is still there, it takes the focus back, so that Enter presses it again (start,
// after a failed update); a focus moved meanwhile stays.
class ThreeButtons : public Dialog {
public:
  static const DialogTemplate& buttons() {
    static const DialogTemplate t = {77, 200, 60, kDialogCaption | kDialogSysMenu, "buttons", "Arial", 9,
                                     {{ControlKind::PushButton, 11, 5, 30, 40, 14, "start", kControlTabStop, 0},
                                      {ControlKind::PushButton, 12, 50, 30, 40, 14, "run", kControlTabStop, 0},
                                      {ControlKind::PushButton, 13, 95, 30, 40, 14, "exit", kControlTabStop, 0}}};
    return t;
  }
  ThreeButtons() : Dialog(buttons()) {}
  int focused = 0, disabled = 0, disabledBefore = 0, movedTo = 0, focusBefore = -1, focusAfter = -1,
      focusEnabled = -1;
  bool onInitDialog() override {
    if (disabledBefore) enableItem(disabledBefore, false);
    poster().post([this] {
      HWND self = FindWindowW(nullptr, L"buttons");
      SetFocus(GetDlgItem(self, focused));
      focusBefore = GetFocus() ? GetDlgCtrlID(GetFocus()) : 0;
      enableItem(disabled, false);
      focusAfter = GetFocus() ? GetDlgCtrlID(GetFocus()) : 0;
      if (movedTo) SetFocus(GetDlgItem(self, movedTo));
      enableItem(disabled, true);
      focusEnabled = GetFocus() ? GetDlgCtrlID(GetFocus()) : 0;
      endDialog(kIdOk);
    });
    return false;
  }
};

TEST_F(StartDialogWindow, AFocusedButtonThatIsDisabledHandsTheFocusOnAndTakesItBackWhenEnabled) {
  struct Case {
    int focused, disabledBefore, focusAfter, movedTo, focusEnabled;
  } cases[] = {{11, 12, 13, 0, 11}, {13, 0, 11, 0, 13}, {11, 0, 12, 13, 13}};
  for (const Case& c : cases) {
    ThreeButtons dlg;
    dlg.focused = dlg.disabled = c.focused;
    dlg.disabledBefore = c.disabledBefore;
    dlg.movedTo = c.movedTo;
    EXPECT_EQ(dlg.doModal(), kIdOk);
    ASSERT_EQ(dlg.focusBefore, c.focused);
    EXPECT_EQ(dlg.focusAfter, c.focusAfter) << c.focused;
    EXPECT_EQ(dlg.focusEnabled, c.focusEnabled) << c.focused << " moved to " << c.movedTo;
  }
}
#endif

} // namespace
