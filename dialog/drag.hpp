#pragma once
// A drag that no control accepts: it holds the mouse, shows the no-drop
// cursor once the mouse has moved far enough, and ends on release.

#include <windows.h>

namespace vexmira::dialog {

class DragTracker {
public:
    // Starts holding the mouse for source, pressed at screenPoint. sourceTracks:
    // the source's own procedure took the press too (the list box selecting
    // an item) and keeps seeing the mouse until the drag begins.
    void Arm(HWND source, POINT screenPoint, bool sourceTracks) noexcept;
    // A move while held: true when the move is the drag's alone, false when
    // the source should see it as well.
    bool Move(POINT screenPoint) noexcept;
    // Releases the mouse; true when the source should see the release, as it
    // saw the press.
    bool End() noexcept;
    // The system took the mouse away: the drag is over without a release.
    void Forget() noexcept;

    bool HeldBy(HWND window) const noexcept { return source_ != nullptr && source_ == window; }

private:
    HWND source_ = nullptr;
    POINT start_{};
    bool dragging_ = false;
    bool source_tracks_ = false;
};

}  // namespace vexmira::dialog
