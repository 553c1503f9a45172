// The browser on Linux: a WebKitGTK 4.1 view. Pages below the served folder are loaded under the
// scheme "formdesk" ("formdesk://local" + the file's absolute path), answered by our own scheme
// handler, because only a scheme handler sees the body of a form post. A form post therefore goes:
// decide-policy (navigation action, method POST) lets it through and remembers it -> the scheme
// handler receives it with its body and answers with an empty page -> the response decision,
// which knows whether the post is the top-level document's or a frame's, raises before-navigate
// and is ignored, so the page stays as it was. Plain navigations raise before-navigate in
// decide-policy itself. Addresses reach the events as file:// addresses, and file:// addresses
// given to navigate are mapped onto the scheme, so the code above sees the same addresses as on
// Windows; WebKit itself never loads a file:// address (the served folder is all it shows).
#include "platform/browser.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "platform/codepage.h"

namespace platform {

namespace {

const char kScheme[] = "formdesk";
const char kSchemePrefix[] = "formdesk://local";

struct GCharPtr {
  explicit GCharPtr(char* text) : p(text) {}
  ~GCharPtr() { g_free(p); }
  GCharPtr(const GCharPtr&) = delete;
  GCharPtr& operator=(const GCharPtr&) = delete;
  char* p;
};

std::string contentType(const std::string& path) {
  static const struct {
    const char* ext;
    const char* type;
  } types[] = {{".html", "text/html"},        {".htm", "text/html"},   {".js", "application/javascript"},
               {".css", "text/css"},          {".png", "image/png"},   {".gif", "image/gif"},
               {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"}, {".svg", "image/svg+xml"},
               {".json", "application/json"}, {".txt", "text/plain"},  {".ico", "image/x-icon"}};
  for (const auto& t : types) {
    size_t n = std::strlen(t.ext);
    if (path.size() >= n && g_ascii_strcasecmp(path.c_str() + path.size() - n, t.ext) == 0) return t.type;
  }
  return "application/octet-stream";
}

class WebKitBrowser : public Browser {
public:
  WebKitBrowser(GtkWidget* parent, const std::string& servedFolder, BrowserEvents* events)
      : parent_(parent), events_(events) {
    char resolved[PATH_MAX];
    if (realpath(servedFolder.c_str(), resolved)) root_ = resolved;
    if (root_.empty() || root_.back() != '/') root_ += '/';

    context_ = webkit_web_context_new();
    webkit_web_context_register_uri_scheme(context_, kScheme, &WebKitBrowser::onSchemeRequest, this, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context_);
    webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);

    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
    g_object_ref_sink(view_);
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    // Form pages need no GPU; without one (a virtual display, a remote desktop) accelerated
    // compositing shows an empty view.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(&WebKitBrowser::onDecidePolicy), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(&WebKitBrowser::onLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(&WebKitBrowser::onLoadFailed), this);
    g_signal_connect(view_, "print", G_CALLBACK(&WebKitBrowser::onPrint), this);

    gtk_widget_set_hexpand(GTK_WIDGET(view_), TRUE);
    gtk_widget_set_vexpand(GTK_WIDGET(view_), TRUE);
    gtk_container_add(GTK_CONTAINER(parent_), GTK_WIDGET(view_));
    fitToParent();
    gtk_widget_show(GTK_WIDGET(view_));
  }

  ~WebKitBrowser() override {
    if (idle_) g_source_remove(idle_);
    if (postTimeout_) g_source_remove(postTimeout_);
    g_signal_handlers_disconnect_by_data(view_, this);
    gtk_widget_destroy(GTK_WIDGET(view_));
    g_object_unref(view_);
    g_object_unref(context_); // the view held its own reference; the scheme handler goes with it
  }

  void navigate(const std::u16string& url) override {
    if (inEvent_ > 0) {
      // As the Windows control does, a navigation asked for inside an event starts after it.
      deferred_ = url;
      hasDeferred_ = true;
      if (!idle_) idle_ = g_idle_add(&WebKitBrowser::onIdle, this);
      return;
    }
    webkit_web_view_load_uri(view_, toViewUri(wideToUtf8(url)).c_str());
  }

  bool post(const std::u16string&, const std::string&) override { return false; }

  void runScript(const std::u16string& script) override {
    if (inEvent_ > 0 || postLoadPending_) {
      // Run once the event is over and a cancelled post has been let go: WebKit stops the page's
      // loads when it drops that navigation, and would stop the loads the script starts.
      deferredScripts_.push_back(script);
      if (!postLoadPending_ && !idle_) idle_ = g_idle_add(&WebKitBrowser::onIdle, this);
      return;
    }
    if (!webkit_web_view_get_uri(view_)) return;
    std::string text = wideToUtf8(script);
    webkit_web_view_evaluate_javascript(view_, text.c_str(), static_cast<gssize>(text.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }

  void fitToParent() override {
    GtkAllocation a;
    gtk_widget_get_allocation(parent_, &a);
    if (a.width > 1 && a.height > 1) gtk_widget_set_size_request(GTK_WIDGET(view_), a.width, a.height);
    gtk_widget_queue_resize(GTK_WIDGET(view_));
  }

  void setPrintLayout(const PrintLayout& layout) override {
    print_ = layout;
    webkit_settings_set_print_backgrounds(webkit_web_view_get_settings(view_), layout.backgrounds);
  }

private:
  // file:///a/b -> formdesk://local/a/b when the file lies in the served folder.
  std::string toViewUri(const std::string& url) const {
    if (url.compare(0, 7, "file://") != 0) return url;
    std::string rest = url.substr(7);
    if (rest.compare(0, 9, "localhost") == 0) rest = rest.substr(9);
    GCharPtr path(g_uri_unescape_string(rest.c_str(), nullptr));
    if (!path.p || !insideRoot(path.p, false)) return url;
    GCharPtr escaped(g_uri_escape_string(path.p, "/", FALSE));
    return std::string(kSchemePrefix) + escaped.p;
  }

  // formdesk://local/a%20b -> file:///a b; anything else unchanged.
  static std::u16string toEventUrl(const char* uri) {
    if (!uri) return u"";
    size_t n = std::strlen(kSchemePrefix);
    if (std::strncmp(uri, kSchemePrefix, n) != 0) return utf8ToWide(uri);
    GCharPtr path(g_uri_unescape_string(uri + n, nullptr));
    return utf8ToWide(std::string("file://") + (path.p ? path.p : uri + n));
  }

  // Whether path names a file in the served folder; with mustExist the file's real path (symbolic
  // links followed) must lie there too.
  bool insideRoot(const char* path, bool mustExist) const {
    if (root_.size() < 2) return false;
    if (!mustExist) {
      std::string p = path;
      return p.compare(0, root_.size(), root_) == 0 && p.find("/../") == std::string::npos;
    }
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) return false;
    return std::strncmp(resolved, root_.c_str(), root_.size()) == 0;
  }

  void raiseBeforeNavigate(const char* uri, const std::string* body, bool topLevel, bool* cancel) {
    NavigationSource source;
    source.topLevel = topLevel;
    source.document = document_;
    ++inEvent_;
    events_->beforeNavigate(toEventUrl(uri), body, source, cancel);
    --inEvent_;
  }

  static std::string readBody(WebKitURISchemeRequest* request) {
    std::string body;
    GInputStream* stream = webkit_uri_scheme_request_get_http_body(request);
    if (!stream) return body;
    char buf[16384];
    for (;;) {
      gsize got = 0;
      if (!g_input_stream_read_all(stream, buf, sizeof buf, &got, nullptr, nullptr)) break;
      body.append(buf, got);
      if (got < sizeof buf) break;
    }
    g_object_unref(stream);
    return body;
  }

  static void finish(WebKitURISchemeRequest* request, GBytes* bytes, const std::string& type) {
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, g_bytes_get_size(bytes));
    webkit_uri_scheme_response_set_content_type(response, type.c_str());
    // The QR picture changes under the same name: nothing is kept in a cache.
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Cache-Control", "no-store");
    webkit_uri_scheme_response_set_http_headers(response, headers); // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
  }

  static void onSchemeRequest(WebKitURISchemeRequest* request, gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    auto pending = self->pendingPosts_.find(uri ? uri : "");
    if (pending != self->pendingPosts_.end()) {
      // A form post: its body waits for the response decision, which tells whose post it is. The
      // pages post only to the host, so the answer is an empty page that is never shown.
      self->pendingPosts_.erase(pending);
      Posted posted;
      posted.isPost = method && std::strcmp(method, "POST") == 0;
      if (posted.isPost) posted.body = readBody(request);
      self->posted_[uri] = std::move(posted);
      GBytes* empty = g_bytes_new_static("", 0);
      finish(request, empty, "text/html");
      g_bytes_unref(empty);
      return;
    }

    const char* rawPath = webkit_uri_scheme_request_get_path(request);
    GCharPtr path(g_uri_unescape_string(rawPath ? rawPath : "", nullptr));
    gchar* contents = nullptr;
    gsize size = 0;
    if (!path.p || !self->insideRoot(path.p, true) || !g_file_get_contents(path.p, &contents, &size, nullptr)) {
      GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not found");
      webkit_uri_scheme_request_finish_error(request, error);
      g_error_free(error);
      return;
    }
    GBytes* bytes = g_bytes_new_take(contents, size);
    finish(request, bytes, contentType(path.p));
    g_bytes_unref(bytes);
  }

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
      auto* rd = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      const char* uri = webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(rd));
      auto it = self->posted_.find(uri ? uri : "");
      if (it == self->posted_.end()) return FALSE; // the default: show it
      Posted posted = std::move(it->second);
      std::string uriCopy = it->first;
      self->posted_.erase(it);
      bool topLevel = webkit_response_policy_decision_is_main_frame_main_resource(rd);
      g_object_ref(decision);
      webkit_policy_decision_ignore(decision);
      if (topLevel) {
        // WebKit stops the page's loads when it drops the navigation, and would stop the loads
        // that scripts start now: they wait until it has let go.
        self->postLoadPending_ = true;
        // Should WebKit never report the dropped load as finished, the scripts run all the same.
        if (self->postTimeout_) g_source_remove(self->postTimeout_);
        self->postTimeout_ = g_timeout_add(3000, &WebKitBrowser::onPostTimeout, self);
      }
      bool cancel = false;
      self->raiseBeforeNavigate(uriCopy.c_str(), posted.isPost ? &posted.body : nullptr, topLevel, &cancel);
      g_object_unref(decision);
      return TRUE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
      webkit_policy_decision_ignore(decision); // the pages open no windows of their own
      return TRUE;
    }
    auto* nd = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nd);
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    WebKitNavigationType navigationType = webkit_navigation_action_get_navigation_type(action);
    if (uri && g_ascii_strncasecmp(uri, "file:", 5) == 0) {
      // Files are shown through the scheme only, which serves nothing outside the served folder.
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
    // The request here does not tell its method; a form submission's does, in the scheme handler.
    if (uri && g_str_has_prefix(uri, kSchemePrefix) &&
        (navigationType == WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED ||
         navigationType == WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED)) {
      // Its body is only to be had in the scheme handler, which raises the event.
      self->pendingPosts_.insert(uri);
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    bool cancel = false;
    std::string uriCopy = uri ? uri : "";
    g_object_ref(decision);
    // WebKit does not say here whether a frame navigates: the navigation counts as the page's.
    self->raiseBeforeNavigate(uriCopy.c_str(), nullptr, true, &cancel);
    if (cancel)
      webkit_policy_decision_ignore(decision);
    else
      webkit_policy_decision_use(decision);
    g_object_unref(decision);
    return TRUE;
  }

  static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    switch (event) {
    case WEBKIT_LOAD_STARTED: self->committed_ = self->failed_ = false; break;
    case WEBKIT_LOAD_COMMITTED:
      self->committed_ = true;
      // The top-level document now shown: where the page's later requests come from.
      self->document_ = toEventUrl(webkit_web_view_get_uri(view));
      break;
    case WEBKIT_LOAD_FINISHED:
      // A load that was cancelled or ignored before it showed anything completes no document.
      if (self->committed_ && !self->failed_) {
        self->committed_ = false;
        ++self->inEvent_;
        self->events_->documentComplete(toEventUrl(webkit_web_view_get_uri(view)));
        --self->inEvent_;
      }
      self->postLoadPending_ = false;
      if (!self->deferredScripts_.empty() && !self->idle_) self->idle_ = g_idle_add(&WebKitBrowser::onIdle, self);
      break;
    default: break;
    }
  }

  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError*, gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    // A failure after the commit still leaves a document; before it, the old page stays.
    if (event != WEBKIT_LOAD_COMMITTED || !self->committed_) self->failed_ = true;
    return FALSE;
  }

  static std::string printToFileFolder() {
    const gchar* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (documents && g_file_test(documents, G_FILE_TEST_IS_DIR)) return documents;
    return g_get_home_dir();
  }

  static gboolean onPrint(WebKitWebView*, WebKitPrintOperation* operation, gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    GtkPageSetup* setup = gtk_page_setup_new();
    GtkPrintSettings* settings = gtk_print_settings_new();
    if (!self->print_.paper.empty()) {
      // The desktop's default paper follows its locale (Letter in the United States); the form
      // is laid out for the paper it names, so the dialog starts with that one.
      GtkPaperSize* paper = gtk_paper_size_new(self->print_.paper.c_str());
      gtk_page_setup_set_paper_size(setup, paper);
      gtk_print_settings_set_paper_size(settings, paper);
      gtk_paper_size_free(paper);
    }
    // "Print to File" would write into the current folder, the program folder, when the user has no
    // Documents folder: it starts in Documents, or else in the home folder.
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_DIR, printToFileFolder().c_str());
    webkit_print_operation_set_print_settings(operation, settings);
    g_object_unref(settings);
    gtk_page_setup_set_top_margin(setup, self->print_.marginTopInch, GTK_UNIT_INCH);
    gtk_page_setup_set_bottom_margin(setup, self->print_.marginBottomInch, GTK_UNIT_INCH);
    gtk_page_setup_set_left_margin(setup, self->print_.marginLeftInch, GTK_UNIT_INCH);
    gtk_page_setup_set_right_margin(setup, self->print_.marginRightInch, GTK_UNIT_INCH);
    webkit_print_operation_set_page_setup(operation, setup);
    g_object_unref(setup);
    return FALSE; // the default handler shows the print dialog with this setup
  }

  static gboolean onPostTimeout(gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    self->postTimeout_ = 0;
    self->postLoadPending_ = false;
    if (!self->deferredScripts_.empty() && !self->idle_) self->idle_ = g_idle_add(&WebKitBrowser::onIdle, self);
    return G_SOURCE_REMOVE;
  }

  static gboolean onIdle(gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    self->idle_ = 0;
    if (!self->postLoadPending_) {
      std::vector<std::u16string> scripts;
      scripts.swap(self->deferredScripts_);
      for (const auto& script : scripts)
        self->runScript(script);
    }
    if (self->hasDeferred_) {
      self->hasDeferred_ = false;
      self->navigate(self->deferred_);
    }
    return G_SOURCE_REMOVE;
  }

  GtkWidget* parent_;
  BrowserEvents* events_;
  std::string root_;
  WebKitWebContext* context_ = nullptr;
  WebKitWebView* view_ = nullptr;
  int inEvent_ = 0;
  std::set<std::string> pendingPosts_;
  struct Posted {
    bool isPost = false;
    std::string body;
  };
  std::map<std::string, Posted> posted_; // answered form posts waiting for their response decision
  std::u16string document_;
  bool committed_ = false, failed_ = false;
  PrintLayout print_;
  std::u16string deferred_;
  bool hasDeferred_ = false;
  std::vector<std::u16string> deferredScripts_;
  bool postLoadPending_ = false; // a cancelled form post that WebKit has not yet let go
  guint postTimeout_ = 0;
  guint idle_ = 0;
};

} // namespace

std::unique_ptr<Browser> createBrowser(void* parent, const std::string& servedFolder, BrowserEvents* events) {
  if (!parent || !events || !GTK_IS_CONTAINER(parent)) return nullptr;
  return std::make_unique<WebKitBrowser>(GTK_WIDGET(parent), servedFolder, events);
}

} // namespace platform
