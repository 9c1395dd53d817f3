#include "gui/platform/win32/CDropTarget.h"

namespace VSTGUI {

namespace {

HRESULT refuse(DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    *effect = DROPEFFECT_NONE;
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CDropTarget::QueryInterface(REFIID id, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDropTarget)) {
        *object = static_cast<IDropTarget*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CDropTarget::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE CDropTarget::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CDropTarget::DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) { return refuse(effect); }

HRESULT STDMETHODCALLTYPE CDropTarget::DragOver(DWORD, POINTL, DWORD* effect) { return refuse(effect); }

HRESULT STDMETHODCALLTYPE CDropTarget::DragLeave() { return S_OK; }

HRESULT STDMETHODCALLTYPE CDropTarget::Drop(IDataObject*, DWORD, POINTL, DWORD* effect) { return refuse(effect); }

}  // namespace VSTGUI
