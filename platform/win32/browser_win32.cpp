// The browser on Windows: the WebBrowser ActiveX control ({8856F961-340A-11D0-A96B-00C04FD705A2})
// in a small OLE container of our own. BrowserSite is the client site, the in-place site and the
// in-place frame, and the sink of DWebBrowserEvents2; it belongs to Win32Browser, so its reference
// count only answers COM's questions and never deletes it. Scripts run through the document's
// parent window (IHTMLDocument2 -> IHTMLWindow2::execScript).
#include "platform/browser.h"

#include <windows.h>

#include <cstring>

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ole2.h>
#include <olectl.h>

// COM interfaces have no virtual destructors by design: objects end through Release.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace platform {

namespace {

// A COM pointer that releases itself.
template <class T> class ComPtr {
public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

private:
  T* p_ = nullptr;
};

// A BSTR that frees itself.
class Bstr {
public:
  explicit Bstr(const std::u16string& text)
      : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

private:
  BSTR b_;
};

std::u16string fromBstr(BSTR b) {
  if (!b) return u"";
  return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

// The text of a VARIANT, looking through one VT_BYREF|VT_VARIANT.
std::u16string variantText(const VARIANT* v) {
  if (!v) return u"";
  if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  if (v && v->vt == VT_BSTR) return fromBstr(v->bstrVal);
  if (v && v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) return fromBstr(*v->pbstrVal);
  return u"";
}

// The post data: a reference to a variant that holds a one-dimensional byte array. Internet
// Explorer refers to the array's variant directly; Wine puts one more reference in between, so
// references are followed (a few levels at most). False when there is no array.
bool postDataBytes(const VARIANT* v, std::string* out) {
  if (!v || v->vt != (VT_BYREF | VT_VARIANT) || !v->pvarVal) return false;
  const VARIANT* inner = v->pvarVal;
  for (int depth = 0; depth < 3 && inner && inner->vt == (VT_BYREF | VT_VARIANT); ++depth)
    inner = inner->pvarVal;
  if (!inner || inner->vt == VT_EMPTY || !(inner->vt & VT_ARRAY)) return false;
  SAFEARRAY* array = (inner->vt & VT_BYREF) ? (inner->pparray ? *inner->pparray : nullptr) : inner->parray;
  if (!array || SafeArrayGetDim(array) != 1) return false;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return false;
  if (FAILED(SafeArrayLock(array))) return false;
  out->assign(static_cast<const char*>(array->pvData), upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0);
  SafeArrayUnlock(array);
  return true;
}

const wchar_t kDeferClass[] = L"FormwellBrowserDefer";
const UINT kDeferMessage = WM_APP + 1;

class Win32Browser;

class BrowserSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IDispatch {
public:
  explicit BrowserSite(Win32Browser* owner) : owner_(owner) {}
  virtual ~BrowserSite() = default;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
      *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
      *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame))
      *object = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_DWebBrowserEvents2))
      *object = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; } // owned by Win32Browser

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (for the in-place site and the frame alike)
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT position, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: no menus, toolbars or status line of ours.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the events of DWebBrowserEvents2.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
  Win32Browser* owner_;
  ULONG refs_ = 1;
};

class Win32Browser : public Browser {
public:
  Win32Browser(HWND parent, BrowserEvents* events) : parent_(parent), events_(events), site_(this) {}

  ~Win32Browser() override {
    if (keyHook_) UnhookWindowsHookEx(keyHook_);
    if (keyboardBrowser() == this) keyboardBrowser() = nullptr;
    active_.reset();
    if (cookie_ && connection_) connection_->Unadvise(cookie_);
    connection_.reset();
    web_.reset();
    inPlace_.reset();
    if (ole_) {
      ole_->Close(OLECLOSE_NOSAVE);
      ole_->SetClientSite(nullptr);
    }
    ole_.reset();
    if (deferWindow_) DestroyWindow(deferWindow_);
  }

  bool start() {
    HRESULT init = OleInitialize(nullptr); // S_FALSE: this thread had it already
    if (FAILED(init)) return false;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &Win32Browser::deferProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kDeferClass;
    RegisterClassW(&wc); // fails harmlessly when a second browser registers it again
    deferWindow_ = CreateWindowW(kDeferClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (deferWindow_) SetWindowLongPtrW(deferWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, ole_.outVoid())))
      return false;
    if (FAILED(ole_->SetClientSite(static_cast<IOleClientSite*>(&site_)))) return false;
    OleSetContainedObject(ole_.get(), TRUE);
    RECT rc;
    GetClientRect(parent_, &rc);
    if (FAILED(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(&site_), 0, parent_, &rc)))
      return false;
    if (FAILED(ole_->QueryInterface(IID_IWebBrowser2, web_.outVoid()))) return false;
    ole_->QueryInterface(IID_IOleInPlaceObject, inPlace_.outVoid());
    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(ole_->QueryInterface(IID_IConnectionPointContainer, points.outVoid())) &&
        SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, connection_.out())))
      connection_->Advise(static_cast<IDispatch*>(&site_), &cookie_);
    web_->put_Silent(VARIANT_FALSE);
    ole_->QueryInterface(IID_IOleInPlaceActiveObject, active_.outVoid());
    // The dialog's message loop (IsDialogMessage) would take Tab, Enter, Esc and the arrows for
    // itself; the control must see its keys first, as a framework's PreTranslateMessage lets it.
    keyboardBrowser() = this;
    keyHook_ = SetWindowsHookExW(WH_GETMESSAGE, &Win32Browser::onGetMessage, nullptr, GetCurrentThreadId());
    fitToParent();
    return true;
  }

  void navigate(const std::u16string& url) override {
    if (inEvent_ > 0 && deferWindow_) {
      // Carried out once the event has returned, as the Linux browser does.
      deferred_ = url;
      PostMessageW(deferWindow_, kDeferMessage, 0, 0);
      return;
    }
    Bstr address(url);
    VARIANT empty;
    VariantInit(&empty);
    web_->Navigate(address.get(), &empty, &empty, &empty, &empty);
  }

  bool post(const std::u16string& url, const std::string& body) override {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(body.size()));
    if (!array) return false;
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
      if (!body.empty()) std::memcpy(data, body.data(), body.size());
      SafeArrayUnaccessData(array);
    }
    VARIANT postData, headers, empty;
    VariantInit(&postData);
    VariantInit(&headers);
    VariantInit(&empty);
    postData.vt = VT_ARRAY | VT_UI1;
    postData.parray = array; // VariantClear destroys it
    Bstr headerText(u"Content-Type: application/x-www-form-urlencoded\r\n");
    headers.vt = VT_BSTR;
    headers.bstrVal = headerText.get();
    Bstr address(url);
    HRESULT hr = web_->Navigate(address.get(), &empty, &empty, &postData, &headers);
    VariantClear(&postData);
    return SUCCEEDED(hr);
  }

  void runScript(const std::u16string& script) override {
    ComPtr<IDispatch> documentDispatch;
    if (FAILED(web_->get_Document(documentDispatch.out())) || !documentDispatch) return;
    ComPtr<IHTMLDocument2> document;
    if (FAILED(documentDispatch->QueryInterface(IID_IHTMLDocument2, document.outVoid()))) return;
    ComPtr<IHTMLWindow2> window;
    if (FAILED(document->get_parentWindow(window.out())) || !window) return;
    Bstr code(script), language(u"javascript");
    VARIANT result;
    VariantInit(&result);
    window->execScript(code.get(), language.get(), &result);
    VariantClear(&result);
  }

  void fitToParent() override {
    RECT rc;
    GetClientRect(parent_, &rc);
    if (inPlace_) inPlace_->SetObjectRects(&rc, &rc);
  }

  void setPrintLayout(const PrintLayout&) override {} // the control reads the page setup itself

  HWND parent() const { return parent_; }

  void dispatch(DISPID id, DISPPARAMS* params) {
    if (!params) return;
    if (id == DISPID_BEFORENAVIGATE2 && params->cArgs == 7) {
      // The arguments arrive last first: Cancel, Headers, PostData, TargetFrameName, Flags, URL, pDisp.
      std::u16string url = variantText(&params->rgvarg[5]);
      std::string body;
      bool hasBody = postDataBytes(&params->rgvarg[2], &body);
      NavigationSource source;
      source.topLevel = isTopLevel(&params->rgvarg[6]);
      source.document = topDocument();
      bool cancel = false;
      ++inEvent_;
      events_->beforeNavigate(url, hasBody ? &body : nullptr, source, &cancel);
      --inEvent_;
      VARIANT& c = params->rgvarg[0];
      if (cancel && c.vt == (VT_BYREF | VT_BOOL) && c.pboolVal) *c.pboolVal = VARIANT_TRUE;
    } else if (id == DISPID_DOCUMENTCOMPLETE && params->cArgs == 2) {
      std::u16string url = variantText(&params->rgvarg[0]);
      ++inEvent_;
      events_->documentComplete(url);
      --inEvent_;
    }
  }

private:
  // Whether the object that navigates (pDisp) is the control itself rather than one of its
  // frames: COM identity is the IUnknown of each.
  bool isTopLevel(const VARIANT* v) const {
    IDispatch* navigating = nullptr;
    if (v && v->vt == VT_DISPATCH)
      navigating = v->pdispVal;
    else if (v && v->vt == (VT_BYREF | VT_DISPATCH) && v->ppdispVal)
      navigating = *v->ppdispVal;
    if (!navigating || !web_) return false;
    ComPtr<IUnknown> a, b;
    if (FAILED(navigating->QueryInterface(IID_IUnknown, a.outVoid())) ||
        FAILED(web_->QueryInterface(IID_IUnknown, b.outVoid())))
      return false;
    return a.get() == b.get();
  }

  // The address of the top-level document shown now (during BeforeNavigate2: the one that asks).
  std::u16string topDocument() const {
    BSTR location = nullptr;
    if (!web_ || FAILED(web_->get_LocationURL(&location))) return u"";
    std::u16string text = fromBstr(location);
    SysFreeString(location);
    return text;
  }

  static Win32Browser*& keyboardBrowser() {
    static Win32Browser* browser = nullptr; // the UI thread's browser that takes keys
    return browser;
  }

  static LRESULT CALLBACK onGetMessage(int code, WPARAM wp, LPARAM lp) {
    auto* msg = reinterpret_cast<MSG*>(lp);
    Win32Browser* self = keyboardBrowser();
    if (code == HC_ACTION && wp == PM_REMOVE && self && self->active_ && msg->message >= WM_KEYFIRST &&
        msg->message <= WM_KEYLAST && msg->hwnd && (msg->hwnd == self->parent_ || IsChild(self->parent_, msg->hwnd)) &&
        self->active_->TranslateAccelerator(msg) == S_OK)
      msg->message = WM_NULL; // the control has handled it
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static LRESULT CALLBACK deferProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    if (message == kDeferMessage) {
      auto* self = reinterpret_cast<Win32Browser*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (self && !self->deferred_.empty()) {
        std::u16string url;
        url.swap(self->deferred_);
        self->navigate(url);
      }
      return 0;
    }
    return DefWindowProcW(hwnd, message, wp, lp);
  }

  HWND parent_;
  BrowserEvents* events_;
  BrowserSite site_;
  ComPtr<IOleObject> ole_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
  HHOOK keyHook_ = nullptr;
  ComPtr<IWebBrowser2> web_;
  ComPtr<IConnectionPoint> connection_;
  DWORD cookie_ = 0;
  HWND deferWindow_ = nullptr;
  std::u16string deferred_;
  int inEvent_ = 0;
};

STDMETHODIMP BrowserSite::GetWindow(HWND* window) {
  *window = owner_->parent();
  return S_OK;
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT position,
                                           LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *doc = nullptr;
  GetClientRect(owner_->parent(), position);
  GetClientRect(owner_->parent(), clip);
  info->fMDIApp = FALSE;
  info->hwndFrame = GetAncestor(owner_->parent(), GA_ROOT);
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP BrowserSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  owner_->dispatch(id, params);
  return S_OK;
}

} // namespace

std::unique_ptr<Browser> createBrowser(void* parent, const std::string& /*servedFolder*/, BrowserEvents* events) {
  if (!parent || !events) return nullptr;
  auto browser = std::make_unique<Win32Browser>(static_cast<HWND>(parent), events);
  if (!browser->start()) return nullptr;
  return browser;
}

} // namespace platform
