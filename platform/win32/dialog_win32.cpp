// Stub until the backend lands.
#include "../common/ui_backend.h"
#include "platform/dialog.h"

namespace platform {

struct Dialog::Impl {
  const DialogTemplate* tmpl;
  int result = 0;
  std::shared_ptr<detail::UiChannel> channel;
};

Dialog::Dialog(const DialogTemplate& t) : impl_(new Impl{&t, 0, nullptr}) {}
Dialog::~Dialog() { detail::closeChannel(impl_->channel); }
int Dialog::doModal() { return -1; }
void Dialog::endDialog(int r) {
  impl_->result = r;
  detail::closeChannel(impl_->channel);
}
int Dialog::result() const { return impl_->result; }
UiPoster Dialog::poster() const { return UiPoster(impl_->channel); }
const DialogTemplate& Dialog::dialogTemplate() const { return *impl_->tmpl; }
void Dialog::setWindowText(const std::string&) {}
void Dialog::setWindowText(const std::u16string&) {}
std::u16string Dialog::windowText() const { return {}; }
bool Dialog::setIcon(int) { return false; }
bool Dialog::appendSystemMenuItem(int, const std::u16string&) { return false; }
Size Dialog::clientSize() const { return {}; }
bool Dialog::isIconic() const { return false; }
DialogBaseUnits Dialog::baseUnits() const { return {}; }
bool Dialog::hasItem(int) const { return false; }
void Dialog::setItemText(int, const std::string&) {}
void Dialog::setItemText(int, const std::u16string&) {}
std::u16string Dialog::itemText(int) const { return {}; }
void Dialog::showItem(int, bool) {}
bool Dialog::isItemVisible(int) const { return false; }
void Dialog::enableItem(int, bool) {}
bool Dialog::isItemEnabled(int) const { return false; }
Rect Dialog::itemRect(int) const { return {}; }
void Dialog::moveItem(int, const Rect&, bool) {}
void Dialog::setProgressRange(int, int, int) {}
void Dialog::setProgressPos(int, int) {}
int Dialog::progressPos(int) const { return 0; }
uint32_t Dialog::itemStyle(int) const { return 0; }
void Dialog::setItemStyle(int, uint32_t) {}
void Dialog::setItemUnderline(int, bool) {}
Size Dialog::measureItemText(int) const { return {}; }
void Dialog::setItemTooltip(int, const std::u16string&) {}
void Dialog::hookItem(int, ControlHook*) {}
void Dialog::redrawItem(int) {}
void Dialog::captureMouse(int) {}
void Dialog::releaseCapture() {}
void* Dialog::nativeHandle(int) const { return nullptr; }

Colour systemHighlightColour() { return rgb(0, 120, 215); }
Cursor loadCursorFromModule(const std::string&, int) { return nullptr; }
Cursor desktopHandCursor() { return nullptr; }
std::string windowsFolder() { return {}; }

namespace detail {
bool backendInitUi() { return false; }
void backendWakeUi() {}
int backendMessageBox(const std::u16string&, const std::u16string&, MessageBoxButtons, MessageBoxIcon, Dialog*) {
  return kIdOk;
}
} // namespace detail

} // namespace platform
