// Dialogs on Windows: the template is written into an in-memory DLGTEMPLATE and run with
// DialogBoxIndirectParamW, so the Win32 dialog manager does the layout (dialog units from the
// template's font), Enter and Esc (IsDialogMessage) and the modal loop. Calls posted from worker
// threads reach the UI thread through a hidden message-only window, whose messages the modal
// loop dispatches like any other.
#include <windows.h>

#include <commctrl.h>
#include <map>
#include <string>
#include <vector>

#include "../common/ui_backend.h"
#include "platform/codepage.h"
#include "platform/dialog.h"

namespace platform {

namespace {

const wchar_t kHostClass[] = L"FormwellHost";
const UINT kWakeMessage = WM_APP + 1;
HWND wakeWindow = nullptr;

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string u16(const wchar_t* s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : u""; }

// Appends the 16-bit words of a DLGTEMPLATE under construction.
struct TemplateWriter {
  std::vector<WORD> words;
  void word(WORD v) { words.push_back(v); }
  void dword(DWORD v) {
    word(LOWORD(v));
    word(HIWORD(v));
  }
  void text(const std::u16string& s) {
    for (char16_t c : s)
      word(static_cast<WORD>(c));
    word(0);
  }
  void align() {
    if (words.size() % 2) word(0);
  }
};

DWORD controlStyle(const ControlTemplate& t) {
  DWORD style = WS_CHILD;
  if (!(t.style & kControlHidden)) style |= WS_VISIBLE;
  if (t.style & kControlDisabled) style |= WS_DISABLED;
  if (t.style & kControlTabStop) style |= WS_TABSTOP;
  switch (t.kind) {
  case ControlKind::Static: style |= SS_LEFT | (t.style & 0xffff); break;
  case ControlKind::Picture: style |= SS_BITMAP; break;
  case ControlKind::Icon: style |= SS_ICON; break;
  case ControlKind::PushButton: style |= BS_PUSHBUTTON | WS_TABSTOP; break;
  case ControlKind::DefPushButton: style |= BS_DEFPUSHBUTTON | WS_TABSTOP; break;
  case ControlKind::Progress: break;
  case ControlKind::EtchedLine: style |= SS_ETCHEDHORZ; break;
  case ControlKind::Host: style |= WS_CLIPCHILDREN; break;
  }
  return style;
}

std::vector<WORD> buildTemplate(const DialogTemplate& t) {
  TemplateWriter out;
  DWORD style = WS_POPUP | DS_SETFONT | DS_CENTER | DS_3DLOOK | (t.style & ~kDialogVisible);
  out.dword(style);
  out.dword(0);
  out.word(static_cast<WORD>(t.controls.size()));
  out.word(0);
  out.word(0);
  out.word(static_cast<WORD>(t.cx));
  out.word(static_cast<WORD>(t.cy));
  out.word(0); // no menu
  out.word(0); // the dialog class
  out.text(utf8ToWide(t.caption ? t.caption : ""));
  out.word(static_cast<WORD>(t.fontPointSize));
  out.text(utf8ToWide(t.fontName && *t.fontName ? t.fontName : "MS Shell Dlg"));
  for (const ControlTemplate& c : t.controls) {
    out.align();
    out.dword(controlStyle(c));
    out.dword(0);
    out.word(static_cast<WORD>(c.x));
    out.word(static_cast<WORD>(c.y));
    out.word(static_cast<WORD>(c.cx));
    out.word(static_cast<WORD>(c.cy));
    out.word(static_cast<WORD>(c.id));
    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
      out.word(0xffff);
      out.word(0x0080);
      break;
    case ControlKind::Progress: out.text(u"msctls_progress32"); break;
    case ControlKind::Host: out.text(u16(kHostClass)); break;
    default:
      out.word(0xffff);
      out.word(0x0082);
      break;
    }
    if (c.kind == ControlKind::Picture || c.kind == ControlKind::Icon) {
      out.word(0xffff); // the picture by resource number
      out.word(static_cast<WORD>(c.resource));
    } else {
      out.text(utf8ToWide(c.text ? c.text : ""));
    }
    out.word(0); // no creation data
  }
  return out.words;
}

LRESULT CALLBACK wakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWakeMessage) {
    detail::runPostedCalls();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

struct Dialog::Impl {
  struct Control {
    ControlTemplate tmpl;
    HWND hwnd = nullptr;
    ControlHook* hook = nullptr;
    HFONT font = nullptr;   // the underline font made for it, owned
    HWND tooltip = nullptr; // destroyed with the dialog (owned window)
    std::u16string tipText; // the tool's text lives as long as the tool
  };

  Dialog* owner = nullptr;
  const DialogTemplate* tmpl = nullptr;
  int result = 0;
  std::shared_ptr<detail::UiChannel> channel;
  HWND hwnd = nullptr;
  bool inited = false;
  HICON bigIcon = nullptr, smallIcon = nullptr;
  DialogBaseUnits base;
  std::map<int, Control> controls;
  // The last focus hand-off of enableItem: the control disabled while it held the focus, and
  // the window the focus went to.
  HWND focusHandedFrom = nullptr, focusHandedTo = nullptr;

  Control* find(int id) {
    if (!hwnd) return nullptr;
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
  }
  const Control* find(int id) const { return const_cast<Impl*>(this)->find(id); }
  Control* findByHwnd(HWND h) {
    for (auto& e : controls)
      if (e.second.hwnd == h) return &e.second;
    return nullptr;
  }
  void dispatchCommand(int id) {
    if (id == kIdOk)
      owner->onOK();
    else if (id == kIdCancel)
      owner->onCancel();
    else
      owner->onCommand(id);
  }
  void cleanup() {
    for (auto& e : controls)
      if (e.second.font) DeleteObject(e.second.font);
    controls.clear();
    if (bigIcon) DestroyIcon(bigIcon);
    if (smallIcon) DestroyIcon(smallIcon);
    bigIcon = smallIcon = nullptr;
    hwnd = nullptr;
    inited = false;
    focusHandedFrom = focusHandedTo = nullptr;
  }
};

namespace {

// A hooked static's own messages: the pointer, the cursor.
LRESULT CALLBACK controlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* c = reinterpret_cast<Dialog::Impl::Control*>(data);
  switch (msg) {
  case WM_MOUSEMOVE: {
    LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
    if (c->hook) c->hook->onMouseMove(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
    return r;
  }
  case WM_SETCURSOR:
    if (c->hook) {
      if (HCURSOR cursor = static_cast<HCURSOR>(c->hook->cursor())) {
        SetCursor(cursor);
        return TRUE;
      }
    }
    break;
  case WM_NCDESTROY: RemoveWindowSubclass(hwnd, controlProc, 1); break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

INT_PTR CALLBACK dialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* impl = reinterpret_cast<Dialog::Impl*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (msg == WM_INITDIALOG) {
    impl = reinterpret_cast<Dialog::Impl*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    impl->hwnd = hwnd;
    RECT units = {0, 0, 4, 8};
    MapDialogRect(hwnd, &units);
    impl->base = DialogBaseUnits{units.right, units.bottom};
    int unnamed = 0;
    HWND child = GetWindow(hwnd, GW_CHILD);
    for (const ControlTemplate& t : impl->tmpl->controls) {
      Dialog::Impl::Control c;
      c.tmpl = t;
      // Named controls by id; unnamed ones by their place (children come in template order).
      c.hwnd = t.id == kIdStatic ? child : GetDlgItem(hwnd, t.id);
      impl->controls[t.id == kIdStatic ? -1000 - unnamed++ : t.id] = c;
      if (child) child = GetWindow(child, GW_HWNDNEXT);
    }
    BOOL focus = impl->owner->onInitDialog() ? TRUE : FALSE;
    impl->inited = true;
    RECT client;
    GetClientRect(hwnd, &client);
    impl->owner->onSize(client.right, client.bottom);
    return focus;
  }
  if (!impl || !impl->hwnd) return FALSE;
  switch (msg) {
  case WM_COMMAND: {
    int id = LOWORD(wp);
    int code = HIWORD(wp);
    HWND from = reinterpret_cast<HWND>(lp);
    if (from) {
      Dialog::Impl::Control* c = impl->findByHwnd(from);
      if (c && c->tmpl.kind == ControlKind::Static) {
        // STN_CLICKED from a static that reports clicks.
        if (code == STN_CLICKED && c->hook) c->hook->onClicked();
        return TRUE;
      }
      if (code != BN_CLICKED) return FALSE;
    }
    impl->dispatchCommand(id);
    return TRUE;
  }
  case WM_CLOSE: impl->owner->onClose(); return TRUE;
  case WM_SIZE:
    if (impl->inited) impl->owner->onSize(LOWORD(lp), HIWORD(lp));
    return FALSE;
  case WM_SYSCOMMAND:
    if (impl->owner->onSysCommand(static_cast<int>(wp))) {
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
      return TRUE;
    }
    return FALSE;
  case WM_CTLCOLORSTATIC: {
    Dialog::Impl::Control* c = impl->findByHwnd(reinterpret_cast<HWND>(lp));
    Colour colour = 0;
    if (c && c->hook && c->hook->textColour(&colour)) {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, colour);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    return FALSE;
  }
  case WM_PAINT:
    // Minimised: the window's icon, centred in the client area.
    if (IsIconic(hwnd) && impl->bigIcon) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
      RECT r;
      GetClientRect(hwnd, &r);
      int x = (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
      int y = (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
      DrawIcon(dc, x, y, impl->bigIcon);
      EndPaint(hwnd, &ps);
      return TRUE;
    }
    return FALSE;
  case WM_QUERYDRAGICON:
    if (impl->bigIcon) return reinterpret_cast<INT_PTR>(impl->bigIcon);
    return FALSE;
  }
  return FALSE;
}

void registerHostClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kHostClass;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&wc);
  done = true;
}

} // namespace

Dialog::Dialog(const DialogTemplate& t) : impl_(new Impl) {
  impl_->owner = this;
  impl_->tmpl = &t;
  impl_->channel = detail::openChannel();
}

Dialog::~Dialog() {
  detail::closeChannel(impl_->channel);
  if (impl_->hwnd) DestroyWindow(impl_->hwnd);
  impl_->cleanup();
}

int Dialog::doModal() {
  if (!initUiThread() || !isUiThread() || impl_->hwnd) return -1;
  if (!UiPoster(impl_->channel).isOpen()) impl_->channel = detail::openChannel();
  impl_->result = 0;
  std::vector<WORD> words = buildTemplate(*impl_->tmpl);
  INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                      nullptr, dialogProc, reinterpret_cast<LPARAM>(impl_.get()));
  detail::closeChannel(impl_->channel);
  impl_->cleanup();
  if (r == -1) return -1;
  impl_->result = static_cast<int>(r);
  return impl_->result;
}

void Dialog::endDialog(int result) {
  impl_->result = result;
  detail::closeChannel(impl_->channel);
  if (impl_->hwnd) EndDialog(impl_->hwnd, result);
}

int Dialog::result() const { return impl_->result; }
UiPoster Dialog::poster() const { return UiPoster(impl_->channel); }
const DialogTemplate& Dialog::dialogTemplate() const { return *impl_->tmpl; }

void Dialog::setWindowText(const std::string& ansiText) { setWindowText(ansiToWide(ansiText)); }
void Dialog::setWindowText(const std::u16string& text) {
  if (impl_->hwnd) SetWindowTextW(impl_->hwnd, w(text));
}
std::u16string Dialog::windowText() const {
  if (!impl_->hwnd) return {};
  int n = GetWindowTextLengthW(impl_->hwnd);
  std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
  GetWindowTextW(impl_->hwnd, buf.data(), n + 1);
  return u16(buf.data());
}

bool Dialog::setIcon(int id) {
  if (!impl_->hwnd) return false;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HICON big = static_cast<HICON>(
      LoadImageW(inst, MAKEINTRESOURCEW(id), IMAGE_ICON, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  HICON small = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(id), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
  if (!big && !small) return false;
  SendMessageW(impl_->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(impl_->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  if (impl_->bigIcon) DestroyIcon(impl_->bigIcon);
  if (impl_->smallIcon) DestroyIcon(impl_->smallIcon);
  impl_->bigIcon = big;
  impl_->smallIcon = small;
  return true;
}

bool Dialog::appendSystemMenuItem(int id, const std::u16string& text) {
  if (!impl_->hwnd) return false;
  HMENU menu = GetSystemMenu(impl_->hwnd, FALSE);
  if (!menu) return false;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  return AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), w(text)) != 0;
}

Size Dialog::clientSize() const {
  if (!impl_->hwnd) return {};
  RECT r;
  GetClientRect(impl_->hwnd, &r);
  return Size{r.right, r.bottom};
}

bool Dialog::isIconic() const { return impl_->hwnd && IsIconic(impl_->hwnd); }
DialogBaseUnits Dialog::baseUnits() const { return impl_->base; }

bool Dialog::hasItem(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && c->hwnd;
}

void Dialog::setItemText(int id, const std::string& ansiText) { setItemText(id, ansiToWide(ansiText)); }
void Dialog::setItemText(int id, const std::u16string& text) {
  if (Impl::Control* c = impl_->find(id)) SetWindowTextW(c->hwnd, w(text));
}

std::u16string Dialog::itemText(int id) const {
  const Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return {};
  int n = GetWindowTextLengthW(c->hwnd);
  std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
  GetWindowTextW(c->hwnd, buf.data(), n + 1);
  return u16(buf.data());
}

void Dialog::showItem(int id, bool show) {
  if (Impl::Control* c = impl_->find(id)) ShowWindow(c->hwnd, show ? SW_SHOW : SW_HIDE);
}
bool Dialog::isItemVisible(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && c->hwnd && (GetWindowLongW(c->hwnd, GWL_STYLE) & WS_VISIBLE);
}
void Dialog::enableItem(int id, bool enable) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  // A control disabled while it holds the keyboard focus leaves the dialog without any, and
  // then Esc and Enter reach nothing: hand the focus to the next control that can take it
  // first (the dialog manager's own way, so the default button follows).
  if (!enable && c->hwnd && impl_->hwnd && GetFocus() == c->hwnd) {
    HWND next = GetNextDlgTabItem(impl_->hwnd, c->hwnd, FALSE);
    if (next && next != c->hwnd)
      SendMessageW(impl_->hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    else
      SetFocus(impl_->hwnd);
    impl_->focusHandedFrom = c->hwnd;
    impl_->focusHandedTo = GetFocus();
  }
  EnableWindow(c->hwnd, enable);
  // Enabled again while the focus still rests where its disabling sent it, the control takes it
  // back: otherwise Enter would press the neighbour that only held it meanwhile (the update
  // dialog's exit button after a failed update, where Enter should try again). A focus that the
  // user moved stays where he put it.
  if (enable && c->hwnd && c->hwnd == impl_->focusHandedFrom) {
    if (GetFocus() == impl_->focusHandedTo)
      SendMessageW(impl_->hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c->hwnd), TRUE);
    impl_->focusHandedFrom = impl_->focusHandedTo = nullptr;
  }
}
bool Dialog::isItemEnabled(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && c->hwnd && IsWindowEnabled(c->hwnd);
}

Rect Dialog::itemRect(int id) const {
  const Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return {};
  RECT r;
  GetWindowRect(c->hwnd, &r);
  MapWindowPoints(nullptr, impl_->hwnd, reinterpret_cast<POINT*>(&r), 2);
  return Rect{r.left, r.top, r.right, r.bottom};
}

void Dialog::moveItem(int id, const Rect& rect, bool repaint) {
  if (Impl::Control* c = impl_->find(id))
    SetWindowPos(c->hwnd, nullptr, rect.left, rect.top, rect.width(), rect.height(),
                 SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

void Dialog::setProgressRange(int id, int low, int high) {
  if (Impl::Control* c = impl_->find(id)) SendMessageW(c->hwnd, PBM_SETRANGE32, low, high);
}
void Dialog::setProgressPos(int id, int pos) {
  if (Impl::Control* c = impl_->find(id)) SendMessageW(c->hwnd, PBM_SETPOS, pos, 0);
}
int Dialog::progressPos(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && c->hwnd ? static_cast<int>(SendMessageW(c->hwnd, PBM_GETPOS, 0, 0)) : 0;
}

uint32_t Dialog::itemStyle(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && c->hwnd ? static_cast<uint32_t>(GetWindowLongW(c->hwnd, GWL_STYLE)) : 0;
}
void Dialog::setItemStyle(int id, uint32_t style) {
  if (Impl::Control* c = impl_->find(id)) SetWindowLongW(c->hwnd, GWL_STYLE, static_cast<LONG>(style));
}

void Dialog::setItemUnderline(int id, bool underline) {
  Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return;
  HFONT current = reinterpret_cast<HFONT>(SendMessageW(c->hwnd, WM_GETFONT, 0, 0));
  LOGFONTW lf = {};
  if (!GetObjectW(current ? current : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf)) return;
  lf.lfUnderline = underline ? TRUE : FALSE;
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) return;
  SendMessageW(c->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (c->font) DeleteObject(c->font);
  c->font = font;
}

Size Dialog::measureItemText(int id) const {
  const Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return {};
  std::u16string text = itemText(id);
  HDC dc = GetDC(c->hwnd);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(c->hwnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE size = {};
  GetTextExtentPoint32W(dc, w(text), static_cast<int>(text.size()), &size);
  if (old) SelectObject(dc, old);
  ReleaseDC(c->hwnd, dc);
  return Size{size.cx, size.cy};
}

void Dialog::setItemTooltip(int id, const std::u16string& text) {
  Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return;
  if (c->tooltip) DestroyWindow(c->tooltip);
  c->tipText = text;
  c->tooltip =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, impl_->hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!c->tooltip) return;
  // The tool subclasses the control itself (TTF_SUBCLASS), so no relaying of mouse messages is
  // needed; the size is that of the version 4.70 structure, which every comctl32 takes.
  TOOLINFOW ti = {};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = TTF_SUBCLASS;
  ti.hwnd = c->hwnd;
  ti.uId = 1;
  GetClientRect(c->hwnd, &ti.rect);
  ti.lpszText = const_cast<wchar_t*>(w(c->tipText));
  SendMessageW(c->tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void Dialog::hookItem(int id, ControlHook* hook) {
  Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return;
  c->hook = hook;
  SetWindowSubclass(c->hwnd, controlProc, 1, reinterpret_cast<DWORD_PTR>(c));
}

void Dialog::redrawItem(int id) {
  Impl::Control* c = impl_->find(id);
  if (!c || !c->hwnd) return;
  // A transparent static paints over whatever lies below it: repaint that area of the dialog with
  // its children (the picture first, then the text), not the static alone.
  Rect r = itemRect(id);
  RECT area = {r.left, r.top, r.right, r.bottom};
  RedrawWindow(impl_->hwnd, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Dialog::captureMouse(int id) {
  if (Impl::Control* c = impl_->find(id)) SetCapture(c->hwnd);
}
void Dialog::releaseCapture() { ReleaseCapture(); }

void* Dialog::nativeHandle(int id) const {
  if (id == 0) return impl_->hwnd;
  const Impl::Control* c = impl_->find(id);
  return c ? c->hwnd : nullptr;
}

// --- process-wide ---

Colour systemHighlightColour() { return static_cast<Colour>(GetSysColor(COLOR_HIGHLIGHT)); }

Cursor loadCursorFromModule(const std::string& path, int id) {
  // As a data file: the module's code never runs; its cursor is copied before it is released.
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return nullptr;
  HCURSOR cursor = LoadCursorW(module, MAKEINTRESOURCEW(id));
  HCURSOR copy = cursor ? static_cast<HCURSOR>(CopyIcon(cursor)) : nullptr;
  FreeLibrary(module);
  return copy;
}

Cursor desktopHandCursor() { return nullptr; }

std::string windowsFolder() {
  char buf[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(buf, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return {};
  return std::string(buf, n);
}

namespace detail {

bool backendInitUi() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  registerHostClass();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = wakeProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"FormwellUiWake";
  RegisterClassW(&wc);
  wakeWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  return wakeWindow != nullptr;
}

void backendWakeUi() {
  if (wakeWindow) PostMessageW(wakeWindow, kWakeMessage, 0, 0);
}

int backendMessageBox(const std::u16string& text, const std::u16string& caption, MessageBoxButtons buttons,
                      MessageBoxIcon icon, Dialog* owner) {
  UINT type = buttons == MessageBoxButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
  case MessageBoxIcon::None: break;
  case MessageBoxIcon::Information: type |= MB_ICONINFORMATION; break;
  case MessageBoxIcon::Warning: type |= MB_ICONWARNING; break;
  case MessageBoxIcon::Error: type |= MB_ICONERROR; break;
  case MessageBoxIcon::Question: type |= MB_ICONQUESTION; break;
  }
  HWND parent = owner ? static_cast<HWND>(owner->nativeHandle(0)) : nullptr;
  return MessageBoxW(parent, w(text), w(caption), type);
}

} // namespace detail

} // namespace platform
