// Dialogs on Linux: a GTK 3 window per dialog that looks like the Win32 one. The controls sit on
// a GtkLayout at the pixel positions that the template's dialog units give with the template's
// font (measured with Pango the way Windows measures its dialog base units). Statics are labels
// inside input-only event boxes (for the hooks, the cursor and the tooltip); pictures and icons
// are images decoded from the program's compiled-in .bmp / .ico resources.
#include <gtk/gtk.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "../common/ui_backend.h"
#include "platform/codepage.h"
#include "platform/dialog.h"
#include "platform/resources.h"

namespace platform {

namespace {

std::string utf8(const std::u16string& text) { return wideToUtf8(text); }

// A picture or icon resource of the program, decoded; null when missing or undecodable.
GdkPixbuf* loadPixbuf(int id, const char* type) {
  const void* data = nullptr;
  size_t size = 0;
  if (!findResource(id, type, &data, &size) || size == 0) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GdkPixbuf* pixbuf = nullptr;
  if (gdk_pixbuf_loader_write(loader, static_cast<const guchar*>(data), size, nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf) g_object_ref(pixbuf);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_object_unref(loader);
  return pixbuf;
}

// The window title also as WM_NAME in UTF-8. GDK writes WM_NAME only in what the C locale can
// encode (nothing, for a Chinese title in the "C" locale the kit keeps), and tools that find
// windows by WM_NAME (xdotool search --name) would not see the window at all.
void setUtf8WmName(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (!gdkWindow) return;
  const char* title = gtk_window_get_title(GTK_WINDOW(window));
  if (!title) title = "";
  gdk_property_change(gdkWindow, gdk_atom_intern_static_string("WM_NAME"), gdk_atom_intern_static_string("UTF8_STRING"),
                      8, GDK_PROP_MODE_REPLACE, reinterpret_cast<const guchar*>(title),
                      static_cast<gint>(std::strlen(title)));
}

void watchTitle(GtkWidget* window) {
  g_signal_connect_after(window, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) { setUtf8WmName(w); }), nullptr);
  g_signal_connect_after(window, "notify::title",
                         G_CALLBACK(+[](GObject* w, GParamSpec*, gpointer) { setUtf8WmName(GTK_WIDGET(w)); }), nullptr);
}

std::string hexColour(Colour c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
  return buf;
}

} // namespace

struct Dialog::Impl {
  struct Control {
    ControlTemplate tmpl;
    GtkWidget* outer = nullptr; // what sits on the GtkFixed (event box, button, ...)
    GtkWidget* inner = nullptr; // the label of a static, the box of a host, else == outer
    Rect rect;
    uint32_t style = 0;
    bool underline = false;
    ControlHook* hook = nullptr;
    int low = 0, high = 100, pos = 0;
    std::string tooltip;
  };

  Dialog* owner = nullptr;
  const DialogTemplate* tmpl = nullptr;
  int result = 0;
  std::shared_ptr<detail::UiChannel> channel;
  GtkWidget* window = nullptr;
  GtkWidget* fixed = nullptr;
  GtkCssProvider* css = nullptr;
  GMainLoop* loop = nullptr;
  bool ended = false;
  bool iconic = false;
  DialogBaseUnits base;
  std::map<int, Control> controls;
  std::map<int, std::u16string> sysMenu; // appended system menu items, by id
  int lastWidth = -1, lastHeight = -1;
  // The last control disabled while it held the focus, and the window's focus after that (GTK
  // leaves the window without one).
  int focusHandedFrom = 0;
  GtkWidget* focusHandedTo = nullptr;

  Control* find(int id) {
    if (!window) return nullptr;
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
  }
  const Control* find(int id) const { return const_cast<Impl*>(this)->find(id); }

  std::string fontName() const { return tmpl->fontName && *tmpl->fontName ? tmpl->fontName : "Sans"; }

  void measureBaseUnits();
  void createControls();
  void applyLabelAttributes(Control& c);
  void dispatchCommand(int id);
  void build();
  void teardown();
};

// --- measuring ---

void Dialog::Impl::measureBaseUnits() {
  PangoContext* context = gtk_widget_create_pango_context(window);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, fontName().c_str());
  // The template's point size on a 96 dots-per-inch screen, as the Win32 dialog manager sizes it.
  pango_font_description_set_absolute_size(font, pointsToPixels(tmpl->fontPointSize) * PANGO_SCALE);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
  int tmHeight = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics)) +
                 PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  base.cx = averageCharWidth(width);
  base.cy = tmHeight > 0 ? tmHeight : height;
  g_object_unref(layout);
  pango_font_description_free(font);
  g_object_unref(context);
}

// --- building the window ---

namespace {

gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data);
gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data);
gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data);
void onFixedSize(GtkWidget*, GdkRectangle* allocation, gpointer data);
gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer data);
void onButtonClicked(GtkButton* button, gpointer data);

struct HookContext {
  Dialog::Impl* impl;
  int id;
};

gboolean onStaticMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  auto* ctx = static_cast<HookContext*>(data);
  auto it = ctx->impl->controls.find(ctx->id);
  if (it != ctx->impl->controls.end() && it->second.hook)
    it->second.hook->onMouseMove(static_cast<int>(event->x), static_cast<int>(event->y));
  return FALSE;
}

gboolean onStaticEnter(GtkWidget* widget, GdkEventCrossing*, gpointer data) {
  auto* ctx = static_cast<HookContext*>(data);
  auto it = ctx->impl->controls.find(ctx->id);
  if (it == ctx->impl->controls.end() || !it->second.hook) return FALSE;
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
  if (gdkWindow) gdk_window_set_cursor(gdkWindow, static_cast<GdkCursor*>(it->second.hook->cursor()));
  return FALSE;
}

gboolean onStaticLeave(GtkWidget*, GdkEventCrossing* event, gpointer data) {
  auto* ctx = static_cast<HookContext*>(data);
  // A crossing into a child of the box is no leave.
  if (event->detail == GDK_NOTIFY_INFERIOR) return FALSE;
  auto it = ctx->impl->controls.find(ctx->id);
  if (it != ctx->impl->controls.end() && it->second.hook) it->second.hook->onMouseMove(-1, -1);
  return FALSE;
}

gboolean onStaticRelease(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  auto* ctx = static_cast<HookContext*>(data);
  if (event->button != 1) return FALSE;
  auto it = ctx->impl->controls.find(ctx->id);
  if (it == ctx->impl->controls.end() || !(it->second.style & kStaticNotify)) return FALSE;
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  if (event->x < 0 || event->y < 0 || event->x >= a.width || event->y >= a.height) return FALSE;
  if (it->second.hook) it->second.hook->onClicked();
  return TRUE;
}

} // namespace

void Dialog::Impl::applyLabelAttributes(Control& c) {
  if (!GTK_IS_LABEL(c.inner)) return;
  PangoAttrList* attrs = pango_attr_list_new();
  if (c.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  Colour colour = 0;
  if (c.hook && c.hook->textColour(&colour)) {
    pango_attr_list_insert(attrs, pango_attr_foreground_new(static_cast<guint16>((colour & 0xff) * 257),
                                                            static_cast<guint16>(((colour >> 8) & 0xff) * 257),
                                                            static_cast<guint16>(((colour >> 16) & 0xff) * 257)));
  }
  gtk_label_set_attributes(GTK_LABEL(c.inner), attrs);
  pango_attr_list_unref(attrs);
}

void Dialog::Impl::createControls() {
  for (const ControlTemplate& t : tmpl->controls) {
    Control c;
    c.tmpl = t;
    c.style = t.style;
    c.rect = mapDialogRect(t.x, t.y, t.cx, t.cy, base);
    std::string text = t.text ? t.text : "";
    switch (t.kind) {
    case ControlKind::Static: {
      GtkWidget* label = gtk_label_new(text.c_str());
      gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
      gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
      float xalign = (t.style & kStaticCenter) ? 0.5f : (t.style & kStaticRight) ? 1.0f : 0.0f;
      gtk_label_set_xalign(GTK_LABEL(label), xalign);
      gtk_label_set_yalign(GTK_LABEL(label), (t.style & kStaticCenterImage) ? 0.5f : 0.0f);
      gtk_label_set_justify(GTK_LABEL(label), (t.style & kStaticCenter)  ? GTK_JUSTIFY_CENTER
                                              : (t.style & kStaticRight) ? GTK_JUSTIFY_RIGHT
                                                                         : GTK_JUSTIFY_LEFT);
      GtkWidget* box = gtk_event_box_new();
      gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
      gtk_widget_add_events(box, GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                     GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
      gtk_container_add(GTK_CONTAINER(box), label);
      auto* ctx = new HookContext{this, t.id};
      g_signal_connect(box, "motion-notify-event", G_CALLBACK(onStaticMotion), ctx);
      g_signal_connect(box, "enter-notify-event", G_CALLBACK(onStaticEnter), ctx);
      g_signal_connect(box, "leave-notify-event", G_CALLBACK(onStaticLeave), ctx);
      g_signal_connect(box, "button-release-event", G_CALLBACK(onStaticRelease), ctx);
      g_object_set_data_full(G_OBJECT(box), "formwell-hook", ctx,
                             [](gpointer p) { delete static_cast<HookContext*>(p); });
      c.outer = box;
      c.inner = label;
      break;
    }
    case ControlKind::Picture:
    case ControlKind::Icon: {
      GdkPixbuf* pixbuf = loadPixbuf(t.resource, t.kind == ControlKind::Picture ? "BITMAP" : "ICON");
      GtkWidget* image = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
      if (pixbuf) {
        // SS_BITMAP and SS_ICON size the control to the picture.
        c.rect.right = c.rect.left + gdk_pixbuf_get_width(pixbuf);
        c.rect.bottom = c.rect.top + gdk_pixbuf_get_height(pixbuf);
        g_object_unref(pixbuf);
      }
      gtk_widget_set_halign(image, GTK_ALIGN_START);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      c.outer = c.inner = image;
      break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      GtkWidget* button = gtk_button_new_with_label(text.c_str());
      gtk_widget_set_can_focus(button, TRUE);
      g_object_set_data(G_OBJECT(button), "formwell-id", GINT_TO_POINTER(t.id));
      g_signal_connect(button, "clicked", G_CALLBACK(onButtonClicked), this);
      if (t.kind == ControlKind::DefPushButton) gtk_widget_set_can_default(button, TRUE);
      c.outer = c.inner = button;
      break;
    }
    case ControlKind::Progress: {
      GtkWidget* bar = gtk_progress_bar_new();
      // The bar fills the control's height, as the Win32 progress bar does.
      GtkCssProvider* provider = gtk_css_provider_new();
      std::string barCss = "progressbar trough, progressbar progress { min-height: " +
                           std::to_string(c.rect.height() > 4 ? c.rect.height() - 4 : 1) + "px; }";
      gtk_css_provider_load_from_data(provider, barCss.c_str(), -1, nullptr);
      gtk_style_context_add_provider(gtk_widget_get_style_context(bar), GTK_STYLE_PROVIDER(provider),
                                     GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
      g_object_unref(provider);
      c.outer = c.inner = bar;
      break;
    }
    case ControlKind::EtchedLine: {
      GtkWidget* line = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
      c.outer = c.inner = line;
      // SS_ETCHEDHORZ draws a two-pixel line whatever the height given.
      c.rect.bottom = c.rect.top + 2;
      break;
    }
    case ControlKind::Host: {
      GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
      c.outer = c.inner = box;
      break;
    }
    }
    gtk_widget_set_size_request(c.outer, c.rect.width(), c.rect.height());
    gtk_layout_put(GTK_LAYOUT(fixed), c.outer, c.rect.left, c.rect.top);
    gtk_widget_set_sensitive(c.outer, !(t.style & kControlDisabled));
    if (t.style & kControlHidden) {
      gtk_widget_show_all(c.outer);
      gtk_widget_hide(c.outer);
    } else {
      gtk_widget_show_all(c.outer);
    }
    gtk_widget_set_no_show_all(c.outer, TRUE);
    controls[t.id == kIdStatic ? -1000 - static_cast<int>(controls.size()) : t.id] = c;
  }
}

void Dialog::Impl::build() {
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  watchTitle(window);
  gtk_window_set_title(GTK_WINDOW(window), tmpl->caption ? tmpl->caption : "");
  // No title bar in the template: a bare frame, as a Win32 popup with a modal frame looks.
  if (!(tmpl->style & kDialogCaption)) gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  if (!(tmpl->style & kDialogSysMenu)) gtk_window_set_deletable(GTK_WINDOW(window), FALSE);

  // The template's font for everything in this window, and controls as compact as Win32's.
  static int serial = 0;
  std::string name = "formwell-dialog-" + std::to_string(++serial);
  gtk_widget_set_name(window, name.c_str());
  std::string cssText = "#" + name + ", #" + name + " * { font-family: \"" + fontName() +
                        "\"; font-size: " + std::to_string(pointsToPixels(tmpl->fontPointSize)) +
                        "px; }\n"
                        "#" +
                        name +
                        " button { padding: 0 4px; min-height: 0; min-width: 0; }\n"
                        "#" +
                        name + " progressbar trough, #" + name +
                        " progressbar progress { border-radius: 0; }\n"
                        "#" +
                        name + " progressbar progress { background-color: " + hexColour(rgb(6, 176, 37)) +
                        "; background-image: none; border-color: " + hexColour(rgb(6, 176, 37)) + "; }\n";
  css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, cssText.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  measureBaseUnits();
  // A GtkLayout rather than a GtkFixed: its size is the client size alone, whatever its children
  // reach (formdesk's browser lies two pixels beyond every edge; a GtkFixed would grow the window
  // by those, and again after every resize).
  fixed = gtk_layout_new(nullptr, nullptr);
  Rect client = mapDialogRect(0, 0, tmpl->cx, tmpl->cy, base);
  gtk_widget_set_size_request(fixed, client.width(), client.height());
  gtk_layout_set_size(GTK_LAYOUT(fixed), static_cast<guint>(client.width()), static_cast<guint>(client.height()));
  gtk_container_add(GTK_CONTAINER(window), fixed);
  gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(window, "key-press-event", G_CALLBACK(onKeyPress), this);
  g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), this);
  g_signal_connect(window, "window-state-event", G_CALLBACK(onWindowState), this);
  g_signal_connect(window, "button-press-event", G_CALLBACK(onButtonPress), this);
  g_signal_connect(fixed, "size-allocate", G_CALLBACK(onFixedSize), this);
  createControls();
  gtk_widget_show(fixed);
}

void Dialog::Impl::teardown() {
  bool hadWindow = window != nullptr;
  if (window) {
    GtkWidget* w = window;
    window = nullptr;
    fixed = nullptr;
    controls.clear();
    focusHandedFrom = 0;
    focusHandedTo = nullptr;
    gtk_widget_destroy(w);
  }
  if (css) {
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css));
    g_object_unref(css);
    css = nullptr;
  }
  sysMenu.clear();
  lastWidth = lastHeight = -1;
  // Let the X server see the window go before the caller carries on (a test takes its picture).
  if (hadWindow)
    while (gtk_events_pending())
      gtk_main_iteration();
}

void Dialog::Impl::dispatchCommand(int id) {
  if (id == kIdOk)
    owner->onOK();
  else if (id == kIdCancel)
    owner->onCancel();
  else
    owner->onCommand(id);
}

namespace {

gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  if (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) return FALSE;
  // A component inside a host control (the browser) gets its keys first, as an ActiveX control's
  // TranslateAccelerator does in a Win32 dialog: Enter and Esc reach the page in it.
  if (GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(widget)))
    for (const auto& entry : impl->controls)
      if (entry.second.tmpl.kind == ControlKind::Host &&
          (focus == entry.second.inner || gtk_widget_is_ancestor(focus, entry.second.inner)))
        return FALSE;
  if (event->keyval == GDK_KEY_Escape) {
    impl->dispatchCommand(kIdCancel);
    return TRUE;
  }
  if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
    // As the Win32 dialog manager does: a focused push button is pressed; otherwise the default
    // push button's command, or IDOK when there is none.
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(widget));
    if (focus && GTK_IS_BUTTON(focus) && gtk_widget_is_sensitive(focus)) {
      gtk_button_clicked(GTK_BUTTON(focus));
      return TRUE;
    }
    int id = kIdOk;
    for (auto& entry : impl->controls)
      if (entry.second.tmpl.kind == ControlKind::DefPushButton) {
        id = entry.second.tmpl.id;
        if (!gtk_widget_is_sensitive(entry.second.outer)) return TRUE;
        break;
      }
    impl->dispatchCommand(id);
    return TRUE;
  }
  return FALSE;
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  impl->owner->onClose();
  return TRUE; // the window stays until the dialog ends itself
}

gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  bool iconic = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
  if (impl->iconic && !iconic && impl->window) {
    // Restored: tell the dialog its size again, as Windows does with WM_SIZE / SIZE_RESTORED.
    impl->iconic = false;
    Size s = impl->owner->clientSize();
    impl->owner->onSize(s.cx, s.cy);
  }
  impl->iconic = iconic;
  return FALSE;
}

void onFixedSize(GtkWidget*, GdkRectangle* allocation, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  if (allocation->width == impl->lastWidth && allocation->height == impl->lastHeight) return;
  impl->lastWidth = allocation->width;
  impl->lastHeight = allocation->height;
  impl->owner->onSize(allocation->width, allocation->height);
}

// The system menu: a right click on the window's background (or its title area, when the window
// manager passes it on) opens the items the dialog appended.
gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  if (event->button != 3 || impl->sysMenu.empty()) return FALSE;
  GtkWidget* menu = gtk_menu_new();
  for (auto& item : impl->sysMenu) {
    GtkWidget* mi = gtk_menu_item_new_with_label(utf8(item.second).c_str());
    g_object_set_data(G_OBJECT(mi), "formwell-id", GINT_TO_POINTER(item.first));
    g_signal_connect(mi, "activate", G_CALLBACK(+[](GtkMenuItem* m, gpointer d) {
                       auto* im = static_cast<Dialog::Impl*>(d);
                       int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(m), "formwell-id"));
                       im->owner->onSysCommand(id);
                     }),
                     impl);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), mi);
  }
  gtk_widget_show_all(menu);
  gtk_menu_attach_to_widget(GTK_MENU(menu), impl->window, nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent*>(event));
  return TRUE;
}

void onButtonClicked(GtkButton* button, gpointer data) {
  auto* impl = static_cast<Dialog::Impl*>(data);
  impl->dispatchCommand(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "formwell-id")));
}

} // namespace

// --- the dialog ---

Dialog::Dialog(const DialogTemplate& t) : impl_(new Impl) {
  impl_->owner = this;
  impl_->tmpl = &t;
  impl_->channel = detail::openChannel();
}

Dialog::~Dialog() {
  detail::closeChannel(impl_->channel);
  if (impl_->loop && g_main_loop_is_running(impl_->loop)) g_main_loop_quit(impl_->loop);
  impl_->teardown();
}

int Dialog::doModal() {
  if (!initUiThread() || !isUiThread() || impl_->window) return -1;
  if (!impl_->channel || !UiPoster(impl_->channel).isOpen()) impl_->channel = detail::openChannel();
  impl_->ended = false;
  impl_->result = 0;
  impl_->build();
  bool focusDefault = onInitDialog();
  if (!impl_->ended) {
    if (focusDefault) {
      for (auto& entry : impl_->controls) {
        GtkWidget* w = entry.second.outer;
        if (GTK_IS_BUTTON(w) && gtk_widget_get_visible(w) && gtk_widget_is_sensitive(w)) {
          gtk_widget_grab_focus(w);
          break;
        }
      }
    }
    gtk_widget_show(impl_->window);
    impl_->loop = g_main_loop_new(nullptr, FALSE);
    if (!impl_->ended) g_main_loop_run(impl_->loop);
    g_main_loop_unref(impl_->loop);
    impl_->loop = nullptr;
  }
  detail::closeChannel(impl_->channel);
  impl_->teardown();
  return impl_->result;
}

void Dialog::endDialog(int result) {
  impl_->result = result;
  impl_->ended = true;
  detail::closeChannel(impl_->channel);
  if (impl_->loop) g_main_loop_quit(impl_->loop);
}

int Dialog::result() const { return impl_->result; }
UiPoster Dialog::poster() const { return UiPoster(impl_->channel); }
const DialogTemplate& Dialog::dialogTemplate() const { return *impl_->tmpl; }

void Dialog::setWindowText(const std::string& ansiText) { setWindowText(ansiToWide(ansiText)); }
void Dialog::setWindowText(const std::u16string& text) {
  if (impl_->window) gtk_window_set_title(GTK_WINDOW(impl_->window), utf8(text).c_str());
}
std::u16string Dialog::windowText() const {
  if (!impl_->window) return {};
  const char* title = gtk_window_get_title(GTK_WINDOW(impl_->window));
  return utf8ToWide(title ? title : "");
}

bool Dialog::setIcon(int id) {
  if (!impl_->window) return false;
  GdkPixbuf* pixbuf = loadPixbuf(id, "ICON");
  if (!pixbuf) return false;
  gtk_window_set_icon(GTK_WINDOW(impl_->window), pixbuf);
  g_object_unref(pixbuf);
  return true;
}

bool Dialog::appendSystemMenuItem(int id, const std::u16string& text) {
  if (!impl_->window || !(impl_->tmpl->style & kDialogSysMenu)) return false;
  impl_->sysMenu[id] = text;
  return true;
}

Size Dialog::clientSize() const {
  if (!impl_->fixed) return {};
  GtkAllocation a;
  gtk_widget_get_allocation(impl_->fixed, &a);
  if (a.width <= 1 && a.height <= 1) {
    // Not allocated yet: the size the template asks for.
    Rect r = mapDialogRect(0, 0, impl_->tmpl->cx, impl_->tmpl->cy, impl_->base);
    return Size{r.width(), r.height()};
  }
  return Size{a.width, a.height};
}

bool Dialog::isIconic() const { return impl_->window && impl_->iconic; }
DialogBaseUnits Dialog::baseUnits() const { return impl_->base; }

bool Dialog::hasItem(int id) const { return impl_->find(id) != nullptr; }

void Dialog::setItemText(int id, const std::string& ansiText) { setItemText(id, ansiToWide(ansiText)); }
void Dialog::setItemText(int id, const std::u16string& text) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  std::string t = utf8(text);
  if (GTK_IS_LABEL(c->inner))
    gtk_label_set_text(GTK_LABEL(c->inner), t.c_str());
  else if (GTK_IS_BUTTON(c->inner))
    gtk_button_set_label(GTK_BUTTON(c->inner), t.c_str());
  impl_->applyLabelAttributes(*c);
}

std::u16string Dialog::itemText(int id) const {
  const Impl::Control* c = impl_->find(id);
  if (!c) return {};
  const char* t = nullptr;
  if (GTK_IS_LABEL(c->inner))
    t = gtk_label_get_text(GTK_LABEL(c->inner));
  else if (GTK_IS_BUTTON(c->inner))
    t = gtk_button_get_label(GTK_BUTTON(c->inner));
  return utf8ToWide(t ? t : "");
}

void Dialog::showItem(int id, bool show) {
  if (Impl::Control* c = impl_->find(id)) gtk_widget_set_visible(c->outer, show);
}
bool Dialog::isItemVisible(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && gtk_widget_get_visible(c->outer);
}
void Dialog::enableItem(int id, bool enable) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  GtkWindow* window = GTK_WINDOW(impl_->window);
  GtkWidget* focus = gtk_window_get_focus(window);
  bool hadFocus = focus && (focus == c->outer || gtk_widget_is_ancestor(focus, c->outer));
  gtk_widget_set_sensitive(c->outer, enable);
  if (!enable && hadFocus) {
    impl_->focusHandedFrom = id;
    impl_->focusHandedTo = gtk_window_get_focus(window);
  }
  // As on Windows: enabled again while the focus is still where its disabling left it, the
  // control takes it back, so that Enter presses it again (the update dialog's start button after
  // a failed update). A focus that the user moved stays where he put it.
  if (enable && id == impl_->focusHandedFrom) {
    if (gtk_window_get_focus(window) == impl_->focusHandedTo) gtk_widget_grab_focus(c->outer);
    impl_->focusHandedFrom = 0;
    impl_->focusHandedTo = nullptr;
  }
}
bool Dialog::isItemEnabled(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c && gtk_widget_get_sensitive(c->outer);
}

Rect Dialog::itemRect(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c ? c->rect : Rect{};
}

void Dialog::moveItem(int id, const Rect& rect, bool repaint) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  c->rect = rect;
  gtk_widget_set_size_request(c->outer, rect.width() > 0 ? rect.width() : 0, rect.height() > 0 ? rect.height() : 0);
  gtk_layout_move(GTK_LAYOUT(impl_->fixed), c->outer, rect.left, rect.top);
  if (repaint) gtk_widget_queue_draw(impl_->fixed);
}

void Dialog::setProgressRange(int id, int low, int high) {
  Impl::Control* c = impl_->find(id);
  if (!c || !GTK_IS_PROGRESS_BAR(c->inner)) return;
  c->low = low;
  c->high = high > low ? high : low + 1;
  setProgressPos(id, c->pos);
}

void Dialog::setProgressPos(int id, int pos) {
  Impl::Control* c = impl_->find(id);
  if (!c || !GTK_IS_PROGRESS_BAR(c->inner)) return;
  // PBM_SETPOS keeps the position inside the range.
  if (pos < c->low) pos = c->low;
  if (pos > c->high) pos = c->high;
  c->pos = pos;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(c->inner),
                                static_cast<double>(pos - c->low) / static_cast<double>(c->high - c->low));
}

int Dialog::progressPos(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c ? c->pos : 0;
}

uint32_t Dialog::itemStyle(int id) const {
  const Impl::Control* c = impl_->find(id);
  return c ? c->style : 0;
}
void Dialog::setItemStyle(int id, uint32_t style) {
  if (Impl::Control* c = impl_->find(id)) c->style = style;
}

void Dialog::setItemUnderline(int id, bool underline) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  c->underline = underline;
  impl_->applyLabelAttributes(*c);
}

Size Dialog::measureItemText(int id) const {
  const Impl::Control* c = impl_->find(id);
  if (!c || !GTK_IS_LABEL(c->inner)) return {};
  PangoLayout* layout = gtk_widget_create_pango_layout(c->inner, gtk_label_get_text(GTK_LABEL(c->inner)));
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return Size{w, h};
}

void Dialog::setItemTooltip(int id, const std::u16string& text) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  c->tooltip = utf8(text);
  gtk_widget_set_tooltip_text(c->outer, c->tooltip.c_str());
}

void Dialog::hookItem(int id, ControlHook* hook) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  c->hook = hook;
  impl_->applyLabelAttributes(*c);
}

void Dialog::redrawItem(int id) {
  Impl::Control* c = impl_->find(id);
  if (!c) return;
  impl_->applyLabelAttributes(*c);
  gtk_widget_queue_draw(c->outer);
}

// GTK reports the pointer leaving a control itself (onMouseMove(-1, -1)), so a hook that captures
// on entering to learn about the leave needs no grab here; a grab would also keep the pointer
// from the other controls.
void Dialog::captureMouse(int) {}
void Dialog::releaseCapture() {}

void* Dialog::nativeHandle(int id) const {
  if (id == 0) return impl_->window;
  const Impl::Control* c = impl_->find(id);
  return c ? c->inner : nullptr;
}

// --- process-wide ---

Colour systemHighlightColour() { return rgb(0, 120, 215); }

Cursor loadCursorFromModule(const std::string&, int) { return nullptr; }

Cursor desktopHandCursor() {
  if (!uiAvailable()) return nullptr;
  static GdkCursor* cursor = gdk_cursor_new_from_name(gdk_display_get_default(), "pointer"); // kept for the process
  return cursor;
}

std::string windowsFolder() { return {}; }

namespace detail {

bool backendInitUi() {
  // The kit reads its code page from the environment itself and parses numbers in the "C" locale;
  // GTK must not switch the process's C locale under it.
  gtk_disable_setlocale();
  errno = 0;
  if (gtk_init_check(nullptr, nullptr)) return true;
  int error = errno;
  const char* display = std::getenv("DISPLAY");
  std::fprintf(stderr, "cannot open the display %s (%s)\n", display ? display : "(none)",
               error ? std::strerror(error) : "no reason given");
  return false;
}

void backendWakeUi() {
  g_idle_add(
      [](gpointer) -> gboolean {
        runPostedCalls();
        return G_SOURCE_REMOVE;
      },
      nullptr);
}

int backendMessageBox(const std::u16string& text, const std::u16string& caption, MessageBoxButtons buttons,
                      MessageBoxIcon icon, Dialog* owner) {
  GtkMessageType type = GTK_MESSAGE_OTHER;
  switch (icon) {
  case MessageBoxIcon::None: type = GTK_MESSAGE_OTHER; break;
  case MessageBoxIcon::Information: type = GTK_MESSAGE_INFO; break;
  case MessageBoxIcon::Warning: type = GTK_MESSAGE_WARNING; break;
  case MessageBoxIcon::Error: type = GTK_MESSAGE_ERROR; break;
  case MessageBoxIcon::Question: type = GTK_MESSAGE_QUESTION; break;
  }
  GtkWindow* parent = owner ? static_cast<GtkWindow*>(owner->nativeHandle(0)) : nullptr;
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type,
                                          buttons == MessageBoxButtons::YesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK,
                                          "%s", utf8(text).c_str());
  watchTitle(box);
  gtk_window_set_title(GTK_WINDOW(box), utf8(caption).c_str());
  // The first button is the default, as in MessageBox: Enter answers Yes (or OK).
  int first = buttons == MessageBoxButtons::YesNo ? GTK_RESPONSE_YES : GTK_RESPONSE_OK;
  gtk_dialog_set_default_response(GTK_DIALOG(box), first);
  if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), first)) gtk_widget_grab_focus(button);
  int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  while (gtk_events_pending())
    gtk_main_iteration();
  // Esc and the close button answer neither Yes nor No (GTK_RESPONSE_DELETE_EVENT).
  if (buttons == MessageBoxButtons::YesNo)
    return response == GTK_RESPONSE_YES ? kIdYes : response == GTK_RESPONSE_NO ? kIdNo : kIdCancel;
  return kIdOk;
}

} // namespace detail

} // namespace platform
