#include "link_static.h"

#include "platform/dialog.h"

using platform::Colour;
using platform::Rect;
using platform::Size;

void CLinkStatic::attach(platform::Dialog& dialog, int id) {
  dialog_ = &dialog;
  id_ = id;
  // Statics report clicks only with SS_NOTIFY (and take the mouse only then on Windows).
  dialog.setItemStyle(id, dialog.itemStyle(id) | platform::kStaticNotify);
  std::u16string text = dialog.itemText(id);
  if (targetText.empty()) targetText = text;
  if (text.empty()) dialog.setItemText(id, targetText);
  dialog.setItemUnderline(id, underline);
  resizeToText();
  loadHandCursor();
  dialog.setItemTooltip(id, targetText);
  dialog.hookItem(id, this);
}

void CLinkStatic::setColours(Colour normal, Colour visited, Colour hover) {
  normal_ = normal;
  visitedColour_ = visited;
  hover_ = hover;
  redraw();
}

void CLinkStatic::setVisited(bool visited) {
  visited_ = visited;
  redraw();
}

Colour CLinkStatic::currentColour() const {
  if (over_) return hover_ == kSystemHighlight ? platform::systemHighlightColour() : hover_;
  return visited_ ? visitedColour_ : normal_;
}

bool CLinkStatic::textColour(Colour* colour) {
  *colour = currentColour();
  return true;
}

Rect CLinkStatic::fitToText(const Rect& rect, const Size& text, uint32_t style) {
  Rect r = rect;
  if (style & platform::kStaticCenterImage) {
    int spare = r.height() - text.cy;
    r.top += spare / 2;
    r.bottom -= spare / 2;
  } else {
    r.bottom = r.top + text.cy;
  }
  if (style & platform::kStaticCenter) {
    int spare = r.width() - text.cx;
    r.left += spare / 2;
    r.right -= spare / 2;
  } else if (style & platform::kStaticRight) {
    r.left = r.right - text.cx;
  } else {
    r.right = r.left + text.cx;
  }
  return r;
}

void CLinkStatic::resizeToText() {
  if (!adjustToFit || !dialog_ || !dialog_->hasItem(id_)) return;
  Rect fitted = fitToText(dialog_->itemRect(id_), dialog_->measureItemText(id_), dialog_->itemStyle(id_));
  dialog_->moveItem(id_, fitted);
}

void CLinkStatic::loadHandCursor() {
  if (cursor_) return;
  // Windows: the hand of the help program, where the system still has it; else the arrow.
  std::string windows = platform::windowsFolder();
  if (!windows.empty()) cursor_ = platform::loadCursorFromModule(windows + "\\winhlp32.exe", 106);
  // Linux: the desktop's own pointing hand.
  if (!cursor_) cursor_ = platform::desktopHandCursor();
}

void CLinkStatic::redraw() {
  if (dialog_ && dialog_->hasItem(id_)) dialog_->redrawItem(id_);
}

void CLinkStatic::onMouseMove(int x, int y) {
  if (!dialog_) return;
  Rect r = dialog_->itemRect(id_);
  Rect client{0, 0, r.width(), r.height()};
  if (!over_) {
    if (!client.contains(x, y)) return; // a leave report without an enter
    over_ = true;
    redraw();
    dialog_->captureMouse(id_);
  } else if (!client.contains(x, y)) {
    over_ = false;
    dialog_->releaseCapture();
    redraw();
  }
}

void CLinkStatic::onClicked() {
  if (!dialog_) return;
  if (linkName == "BTN_START") {
    dialog_->onOK();
  } else if (linkName == "BTN_START_ACCOUNT") {
    if (auto* parent = dynamic_cast<CLinkParent*>(dialog_)) parent->chooseExistingAccount();
  }
  // Any other name: no action; the link still shows itself visited.
  visited_ = true;
  redraw();
}
