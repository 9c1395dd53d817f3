// The editor window's drag-and-drop registration: a target that accepts nothing.
#pragma once

#include <ole2.h>
#include <windows.h>

namespace VSTGUI {

// A COM object: created with one reference, deleted by the last Release. Every drag over
// the window is answered DROPEFFECT_NONE, so nothing can be dropped, while the window
// still answers OLE's calls correctly. Any thread (reference counting is atomic).
class CDropTarget : public IDropTarget {
public:
    CDropTarget() = default;
    CDropTarget(const CDropTarget&) = delete;
    CDropTarget& operator=(const CDropTarget&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL where, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL where, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL where, DWORD* effect) override;

private:
    virtual ~CDropTarget() = default;

    LONG references_ = 1;
};

}  // namespace VSTGUI
