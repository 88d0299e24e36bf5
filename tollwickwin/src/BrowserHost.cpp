#include "BrowserHost.hpp"

#include "BString.hpp"

namespace tollwick {

namespace {

// The web-browser control and its automation interface.
constexpr CLSID kWebBrowserClass = {
    0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
constexpr IID kWebBrowser2Interface = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

} // namespace

BrowserHost* BrowserHost::Create(HWND container) {
    auto* host = new BrowserHost(container);
    if (!host->Embed()) {
        host->Close();
        host->Release();
        return nullptr;
    }
    return host;
}

bool BrowserHost::Embed() {
    if (FAILED(CoCreateInstance(kWebBrowserClass, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                object_.PutVoid())))
        return false;
    if (FAILED(object_->SetClientSite(static_cast<IOleClientSite*>(this))))
        return false;
    OleSetContainedObject(object_.Get(), TRUE);
    RECT area = ContainerArea();
    if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                               container_, &area)))
        return false;
    object_->QueryInterface(IID_IOleInPlaceObject, inPlaceObject_.PutVoid());
    object_->QueryInterface(IID_IOleInPlaceActiveObject, activeObject_.PutVoid());
    if (FAILED(object_->QueryInterface(kWebBrowser2Interface, browser_.PutVoid())))
        return false;
    // Script errors of a page would otherwise open dialog boxes of their own.
    browser_->put_Silent(VARIANT_TRUE);
    return true;
}

void BrowserHost::Navigate(const std::wstring& url) {
    if (!browser_)
        return;
    const BString address(url);
    VARIANT empty;
    VariantInit(&empty);
    browser_->Navigate(address.Get(), &empty, &empty, &empty, &empty);
}

void BrowserHost::FitToContainer() {
    if (!inPlaceObject_)
        return;
    RECT area = ContainerArea();
    inPlaceObject_->SetObjectRects(&area, &area);
}

bool BrowserHost::HandleKey(MSG* message) {
    return activeObject_ && activeObject_->TranslateAccelerator(message) == S_OK;
}

void BrowserHost::Close() {
    browser_.Reset();
    activeObject_.Reset();
    if (inPlaceObject_)
        inPlaceObject_->InPlaceDeactivate();
    inPlaceObject_.Reset();
    if (object_) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        OleSetContainedObject(object_.Get(), FALSE);
    }
    object_.Reset();
}

RECT BrowserHost::ContainerArea() const {
    RECT area = {0, 0, 0, 0};
    GetClientRect(container_, &area);
    return area;
}

STDMETHODIMP BrowserHost::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
        *object = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame)) {
        *object = static_cast<IOleInPlaceFrame*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) BrowserHost::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) BrowserHost::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP BrowserHost::SaveObject() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::GetContainer(IOleContainer** container) {
    if (container != nullptr)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP BrowserHost::ShowObject() {
    return S_OK;
}

STDMETHODIMP BrowserHost::OnShowWindow(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserHost::RequestNewObjectLayout() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = container_;
    return S_OK;
}

STDMETHODIMP BrowserHost::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::CanInPlaceActivate() {
    return S_OK;
}

STDMETHODIMP BrowserHost::OnInPlaceActivate() {
    return S_OK;
}

STDMETHODIMP BrowserHost::OnUIActivate() {
    return S_OK;
}

STDMETHODIMP BrowserHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                           LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
        frameInfo == nullptr)
        return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    *position = ContainerArea();
    *clip = *position;
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = GetAncestor(container_, GA_ROOT);
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP BrowserHost::Scroll(SIZE) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::OnUIDeactivate(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserHost::OnInPlaceDeactivate() {
    return S_OK;
}

STDMETHODIMP BrowserHost::DiscardUndoState() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::DeactivateAndUndo() {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::OnPosRectChange(LPCRECT position) {
    if (inPlaceObject_ && position != nullptr)
        inPlaceObject_->SetObjectRects(position, position);
    return S_OK;
}

STDMETHODIMP BrowserHost::GetBorder(LPRECT) {
    return INPLACE_E_NOTOOLSPACE;
}

STDMETHODIMP BrowserHost::RequestBorderSpace(LPCBORDERWIDTHS) {
    return INPLACE_E_NOTOOLSPACE;
}

STDMETHODIMP BrowserHost::SetBorderSpace(LPCBORDERWIDTHS) {
    return S_OK;
}

STDMETHODIMP BrowserHost::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP BrowserHost::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::SetMenu(HMENU, HOLEMENU, HWND) {
    return S_OK;
}

STDMETHODIMP BrowserHost::RemoveMenus(HMENU) {
    return E_NOTIMPL;
}

STDMETHODIMP BrowserHost::SetStatusText(LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP BrowserHost::EnableModeless(BOOL) {
    return S_OK;
}

STDMETHODIMP BrowserHost::TranslateAccelerator(LPMSG, WORD) {
    return S_FALSE;
}

} // namespace tollwick
