// Dialogs: templates written once as data, and a dialog class in the style of the framework's
// CDialog that both backends build from them. Windows builds a Win32 dialog from an in-memory
// DLGTEMPLATE (DialogBoxIndirectParam); Linux builds a GTK 3 window that looks like it: the same
// controls at the same places, dialog units converted to pixels from the template's font the way
// Windows converts them, on fixed positions.
//
// A dialog class derives from Dialog, passes its template to the constructor and overrides the
// handlers it needs (onInitDialog, onOK, onCancel, onCommand, onClose, onSize, onSysCommand).
// Everything here runs on the UI thread (ui_thread.h) except poster(), whose UiPoster is how a
// worker reaches the dialog's controls. The dialog's window exists from the start of doModal()
// (onInitDialog is its first handler) until doModal() returns; control calls outside that time do
// nothing and answer empty values.
//
// Texts: template texts are UTF-8 (the source files' own encoding). At run time a text is either
// a std::string in the ANSI code page (the byte strings of formwell) or a std::u16string in
// UTF-16 (formdesk); both overloads exist wherever a text goes in or comes out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui_thread.h"

namespace platform {

// --- results and ids, numbered as on Windows ---
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr int kIdStatic = -1; // a control that code never addresses

// --- colours (COLORREF layout: 0x00BBGGRR) ---
using Colour = uint32_t;
constexpr Colour rgb(int r, int g, int b) {
  return static_cast<Colour>((r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16));
}
// The system highlight colour (COLOR_HIGHLIGHT on Windows; the theme's selection colour on
// Linux, RGB(0, 120, 215) when the theme gives none).
Colour systemHighlightColour();

// --- geometry ---
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
struct Size {
  int cx = 0, cy = 0;
  bool operator==(const Size& o) const { return cx == o.cx && cy == o.cy; }
};

// The dialog base units of a template's font: the average character width (of the 52 letters
// A-Z a-z, rounded) and the character height, in pixels. One horizontal dialog unit is cx/4
// pixels, one vertical unit cy/8 pixels (MapDialogRect).
struct DialogBaseUnits {
  int cx = 0, cy = 0;
};
// Windows' rounding: MulDiv(v, base, 4) and MulDiv(v, base, 8), halves away from zero.
int dialogUnitsToPixelsX(int x, const DialogBaseUnits& base);
int dialogUnitsToPixelsY(int y, const DialogBaseUnits& base);
// A rectangle given as x, y, width, height in dialog units, as pixels (left/top/right/bottom).
Rect mapDialogRect(int x, int y, int cx, int cy, const DialogBaseUnits& base);
// The average character width from the pixel width of the 52 letters, rounded as Windows does.
int averageCharWidth(int widthOf52Letters);
// The font's height in pixels for a point size on a 96 dots-per-inch screen (MulDiv(pt, 96, 72)).
int pointsToPixels(int points);

// --- templates ---
enum class ControlKind {
  Static,        // a text (SS_LEFT unless a kStatic* alignment is given)
  Picture,       // a static showing bitmap resource `resource` at its own size (SS_BITMAP)
  PushButton,    // BS_PUSHBUTTON
  DefPushButton, // BS_DEFPUSHBUTTON: the button Enter presses
  Progress,      // a progress bar, range 0..100 until setProgressRange
  EtchedLine,    // an etched horizontal line (SS_ETCHEDHORZ)
  Host,          // an empty child area whose native container a backend component fills
  Icon,          // a static showing icon resource `resource` (SS_ICON), e.g. in an About box
};

// Style bits of a control (the static ones are the Windows SS_* values, so CLinkStatic's tests
// of them read as on Windows).
constexpr uint32_t kStaticCenter = 0x1;            // SS_CENTER
constexpr uint32_t kStaticRight = 0x2;             // SS_RIGHT
constexpr uint32_t kStaticNotify = 0x100;          // SS_NOTIFY: the static reports clicks
constexpr uint32_t kStaticCenterImage = 0x200;     // SS_CENTERIMAGE: text centred vertically
constexpr uint32_t kControlHidden = 0x10000000u;   // not WS_VISIBLE at start
constexpr uint32_t kControlDisabled = 0x08000000u; // WS_DISABLED at start
constexpr uint32_t kControlTabStop = 0x00010000u;  // WS_TABSTOP

struct ControlTemplate {
  ControlKind kind = ControlKind::Static;
  int id = kIdStatic;
  int x = 0, y = 0, cx = 0, cy = 0; // dialog units
  const char* text = "";            // UTF-8
  uint32_t style = 0;               // kStatic*, kControl* bits
  int resource = 0;                 // Picture: the bitmap resource id; Icon: the icon resource id
};

// Window style bits of a template (the Windows WS_*/DS_* values).
constexpr uint32_t kDialogCaption = 0x00C00000u;     // WS_CAPTION: title bar
constexpr uint32_t kDialogSysMenu = 0x00080000u;     // WS_SYSMENU: close box and system menu
constexpr uint32_t kDialogMinimizeBox = 0x00020000u; // WS_MINIMIZEBOX
constexpr uint32_t kDialogModalFrame = 0x00000080u;  // DS_MODALFRAME
constexpr uint32_t kDialogCenter = 0x00000800u;      // DS_CENTER: centred on the screen
constexpr uint32_t kDialogVisible = 0x10000000u;     // WS_VISIBLE

struct DialogTemplate {
  int id = 0;                // the template's number (102, 158, ...), for messages and tests
  int cx = 0, cy = 0;        // client size in dialog units
  uint32_t style = 0;        // kDialog* bits; WS_POPUP always
  const char* caption = "";  // UTF-8; the window title until setWindowText
  const char* fontName = ""; // e.g. "Arial"; empty: the system's dialog font, 9 pt
  int fontPointSize = 9;
  std::vector<ControlTemplate> controls; // in tab and creation order
};

// --- cursors ---
// A cursor the process keeps until it ends (never released). Null: the default arrow.
using Cursor = void*;
// Cursor resource `id` of the module file at path (Windows: loaded as a data file and copied with
// CopyIcon; the module is released again). Null when the file or the cursor is missing, and
// always null on Linux, which has no module cursors.
Cursor loadCursorFromModule(const std::string& path, int id);
// The desktop's pointing-hand cursor on Linux (the "pointer" cursor of the theme); null on
// Windows, where code that wants a hand loads one itself.
Cursor desktopHandCursor();
// The Windows folder (GetWindowsDirectory, ANSI, no trailing separator); empty on Linux.
std::string windowsFolder();

// --- control events: what a custom control (CLinkStatic) gets from its static ---
// Attached with Dialog::hookItem; the dialog owns none of these objects, and a hook must stay
// alive until the dialog's window is gone (a member of the dialog class is).
class ControlHook {
public:
  virtual ~ControlHook() = default;
  // The pointer moved over the control or, while it holds the capture, anywhere: x, y in the
  // control's client pixels (outside its client rectangle once it has left). The GTK backend
  // also reports the pointer leaving as a move to (-1, -1).
  virtual void onMouseMove(int x, int y) { (void)x, (void)y; }
  // The cursor to show over the control; null leaves the default handling.
  virtual Cursor cursor() { return nullptr; }
  // The control was clicked (STN_CLICKED; needs kStaticNotify).
  virtual void onClicked() {}
  // Asked whenever the control paints: whether it sets its text colour, and which. A control
  // that sets one also gets a transparent background (WM_CTLCOLORSTATIC, NULL_BRUSH).
  virtual bool textColour(Colour* colour) {
    (void)colour;
    return false;
  }
};

// --- the dialog ---
class Dialog {
public:
  explicit Dialog(const DialogTemplate& dialogTemplate);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window from the template, runs onInitDialog, shows it and handles its messages
  // until endDialog; destroys the window and returns the end code. -1 when the window could not
  // be created (no display). A dialog runs once at a time; it may run again after it returned.
  int doModal();
  // Ends the modal run with this code after the current handler returns. The dialog's poster
  // closes at once.
  void endDialog(int result);
  // The end code of the last run (0 before any).
  int result() const;

  // A poster to this dialog for worker threads, valid for the current run (or, before doModal,
  // for the next one): it closes when that run ends.
  UiPoster poster() const;

  const DialogTemplate& dialogTemplate() const;

  // --- handlers (overridden by dialog classes) ---
  // After the window and its controls exist, before it is shown. Return true to let the platform
  // set the focus to the first control that takes it.
  virtual bool onInitDialog() { return true; }
  // Enter, or a click on a button with id kIdOk: ends with kIdOk.
  virtual void onOK() { endDialog(kIdOk); }
  // Esc, or a click on a button with id kIdCancel: ends with kIdCancel.
  virtual void onCancel() { endDialog(kIdCancel); }
  // A click on a push button (ids other than kIdOk and kIdCancel).
  virtual void onCommand(int id) { (void)id; }
  // The close box, Alt+F4 or the system menu's Close: by default as Esc (onCancel). A dialog that
  // must ask first (a save prompt) overrides it and ends itself when it is done.
  virtual void onClose() { onCancel(); }
  // The client area has this size in pixels (also once after onInitDialog, and after a restore
  // from the minimised state).
  virtual void onSize(int cx, int cy) { (void)cx, (void)cy; }
  // A system menu command (the id as Windows gives it, low four bits included). Return true when
  // handled; false lets the platform do the default (Close, Move, Minimise, ...).
  virtual bool onSysCommand(int id) {
    (void)id;
    return false;
  }

  // --- the window ---
  void setWindowText(const std::string& ansiText);
  void setWindowText(const std::u16string& text);
  std::u16string windowText() const;
  // Big and small icon from icon resource `id` of the program (Windows: ICON in the .rc; Linux:
  // the compiled-in .ico). While the window is minimised the backend shows that icon itself
  // (Windows: painted centred in the client area in WM_PAINT, and the drag icon; GTK: the
  // window manager's icon), so dialog classes need no painting of their own.
  bool setIcon(int id);
  // Appends a separator and then an item with command id and text to the system menu; false
  // when the window has no system menu. On GTK the system menu is a menu that the window's
  // context menu key or a right click on the title area opens; its items reach onSysCommand.
  bool appendSystemMenuItem(int id, const std::u16string& text);
  Size clientSize() const;
  bool isIconic() const;
  // The template's dialog base units as this backend measured them.
  DialogBaseUnits baseUnits() const;

  // --- controls, by id ---
  bool hasItem(int id) const;
  void setItemText(int id, const std::string& ansiText);
  void setItemText(int id, const std::u16string& text);
  std::u16string itemText(int id) const;
  void showItem(int id, bool show);
  bool isItemVisible(int id) const;
  void enableItem(int id, bool enable);
  bool isItemEnabled(int id) const;
  // Position and size in the dialog's client pixels.
  Rect itemRect(int id) const;
  void moveItem(int id, const Rect& rect, bool repaint = true);
  // Progress bars.
  void setProgressRange(int id, int low, int high);
  void setProgressPos(int id, int pos);
  int progressPos(int id) const;

  // --- what custom controls need (CLinkStatic) ---
  uint32_t itemStyle(int id) const;
  void setItemStyle(int id, uint32_t style);
  // Gives the control a copy of its current font with the underline attribute set or cleared.
  void setItemUnderline(int id, bool underline);
  // The pixel size of the control's text in its current font (GetTextExtentPoint32).
  Size measureItemText(int id) const;
  // A tooltip over the control's client area with this text (one tool, id 1); replaces an earlier one.
  void setItemTooltip(int id, const std::u16string& text);
  // Routes the control's events to hook (null detaches).
  void hookItem(int id, ControlHook* hook);
  // Repaints the control now, asking its hook for the colour again (RDW_INVALIDATE | RDW_ERASE |
  // RDW_UPDATENOW).
  void redrawItem(int id);
  // Mouse capture by a control: moves anywhere reach its hook until releaseCapture (Windows). GTK
  // needs no grab for what the links do with it: it reports the pointer leaving as a move to
  // (-1, -1), and these two calls do nothing there.
  void captureMouse(int id);
  void releaseCapture();

  // --- for backend-side components only (the browser control, tests) ---
  // The native container of a control: HWND on Windows, GtkWidget* on Linux (for a Host control
  // a GtkBox that the component packs its widget into, expanding; on Windows a plain child
  // window whose size the component follows). id 0 gives the dialog's own window. Null when
  // there is no such control or no window. System code never calls this.
  void* nativeHandle(int id) const;

  struct Impl; // the backend's window state (private to its .cpp)

private:
  std::unique_ptr<Impl> impl_;
};

} // namespace platform
