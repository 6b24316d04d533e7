#include "dialog/drag.hpp"

#include <cstdlib>

namespace vexmira::dialog {

void DragTracker::Arm(HWND source, POINT screenPoint, bool sourceTracks) noexcept {
    source_ = source;
    start_ = screenPoint;
    dragging_ = false;
    source_tracks_ = sourceTracks;
    SetCapture(source);
}

bool DragTracker::Move(POINT screenPoint) noexcept {
    if (!dragging_ && (std::abs(screenPoint.x - start_.x) >= GetSystemMetrics(SM_CXDRAG) ||
                       std::abs(screenPoint.y - start_.y) >= GetSystemMetrics(SM_CYDRAG)))
        dragging_ = true;
    // Nothing accepts a drop anywhere.
    if (dragging_) SetCursor(LoadCursorA(nullptr, IDC_NO));
    return dragging_ || !source_tracks_;
}

bool DragTracker::End() noexcept {
    const HWND source = source_;
    const bool wasDragging = dragging_;
    const bool sourceTracks = source_tracks_;
    Forget();
    if (source != nullptr && GetCapture() == source) ReleaseCapture();
    if (wasDragging) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    return sourceTracks;
}

void DragTracker::Forget() noexcept {
    source_ = nullptr;
    dragging_ = false;
    source_tracks_ = false;
}

}  // namespace vexmira::dialog
