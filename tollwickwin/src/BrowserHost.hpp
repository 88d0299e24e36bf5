// A minimal OLE container that embeds the web-browser control in a child window and shows one page in it.
#pragma once

#include "ComPointer.hpp"

#include <windows.h>

#include <exdisp.h>
#include <ole2.h>

#include <string>

namespace tollwick {

class BrowserHost final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    // Embeds the control so that it covers container. The host comes with one reference for the caller;
    // null when the control cannot be created.
    static BrowserHost* Create(HWND container);

    void Navigate(const std::wstring& url);
    // Fits the control to the container's client area after the container was resized.
    void FitToContainer();
    // Offers a keyboard message to the control first; true when the control used it.
    bool HandleKey(MSG* message);
    // Deactivates and unloads the control; the host keeps no reference to it afterwards.
    void Close();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override;
    STDMETHODIMP OnShowWindow(BOOL show) override;
    STDMETHODIMP RequestNewObjectLayout() override;

    // IOleWindow, shared by the site and the frame
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) override;
    STDMETHODIMP Scroll(SIZE extent) override;
    STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override;
    STDMETHODIMP DeactivateAndUndo() override;
    STDMETHODIMP OnPosRectChange(LPCRECT position) override;

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT border) override;
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) override;
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU menu, LPOLEMENUGROUPWIDTHS widths) override;
    STDMETHODIMP SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) override;
    STDMETHODIMP RemoveMenus(HMENU menu) override;
    STDMETHODIMP SetStatusText(LPCOLESTR text) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;
    STDMETHODIMP TranslateAccelerator(LPMSG message, WORD command) override;

private:
    explicit BrowserHost(HWND container) : container_(container) {}
    ~BrowserHost() = default;

    bool Embed();
    RECT ContainerArea() const;

    LONG references_ = 1;
    HWND container_;
    ComPointer<IOleObject> object_;
    ComPointer<IOleInPlaceObject> inPlaceObject_;
    ComPointer<IOleInPlaceActiveObject> activeObject_;
    ComPointer<IWebBrowser2> browser_;
};

} // namespace tollwick
