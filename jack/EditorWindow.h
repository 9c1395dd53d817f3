// The standalone's own top-level X11 window, the parent the editor opens in.
// Main thread only.
#pragma once

#include <string>

struct _XDisplay;

namespace kovalith {
namespace jack {

class EditorWindow {
public:
    EditorWindow() = default;
    ~EditorWindow() { close(); }
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Opens an unmapped, fixed-size top-level window; false, with the reason in
    // `error`, when there is no X display.
    bool open(int width, int height, const std::string& title, std::string* error);
    // Shows the window (after the editor has opened inside it).
    void show();
    // A new fixed size, when the editor's scale changed; false without a window.
    bool resize(int width, int height);
    // The X11 window id, for the editor's open().
    void* parentHandle() const;
    // The X connection's descriptor, to wait on.
    int fd() const;
    // Handles the events that arrived; false once the user has closed the window.
    bool handleEvents();
    void close();

private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    unsigned long deleteAtom_ = 0;
    bool closeRequested_ = false;
    bool destroyed_ = false;
};

}  // namespace jack
}  // namespace kovalith
