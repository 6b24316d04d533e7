#pragma once
// The dialog's controls as windows: created from the layout table, the
// containers painted here, the standard controls that react to the mouse
// subclassed, and each control's colours handed out to the system.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog/drag.hpp"
#include "dialog/handles.hpp"
#include "form/layout.hpp"
#include "support/component.hpp"

namespace vexmira::dialog {

class Control;

// A background: a system colour by its index (it follows the system's
// scheme), or else a fixed colour.
struct Backdrop {
    int SystemColour = -1;
    COLORREF Fixed = 0;
    COLORREF Colour() const noexcept;
};

class Controls : public support::Component {
public:
    // Creates every row of the layout inside form, with the tooltips; each
    // control is a component owned by this one. Raises support::Exception
    // when the system refuses a window or a class.
    Controls(support::Component* owner, HWND form);
    ~Controls() override;

    HWND Handle(std::size_t row) const noexcept;
    HWND MethodButton(std::size_t index) const noexcept;
    HFONT SystemFont() const noexcept { return system_font_.get(); }

    void SetText(std::size_t row, const std::string& text);
    void SetBackground(std::size_t row, form::Colour colour);
    void SelectMethodButton(int index);

    // The brush that paints it: the system's for its colours, else one of
    // ours, made the first time a colour is asked for and kept.
    HBRUSH BrushFor(const Backdrop& backdrop);
    // The form's answer to WM_CTLCOLOR* from child.
    LRESULT ColourMessage(HDC dc, HWND child);
    // The Tab stops in the layout's order that can take the focus now; for
    // CMethod its checked button.
    std::vector<HWND> TabStops() const;
    // True when window is one of CMethod's buttons.
    bool IsMethodButton(HWND window) const noexcept;
    // Ends a drag the modal run leaves behind.
    void EndDrag() noexcept { drag_.End(); }

    // For an unload on a thread other than the windows': the windows stay,
    // hidden, with procedures that are not in this module, and are forgotten.
    void Abandon() noexcept;

private:
    friend class Control;

    Control& Create(std::size_t row);
    void DestroyWindows() noexcept;
    void CreateMethodButtons(Control& group);
    void CreateTooltips();

    // Messages of the controls that react to anything: drags, colours, painting.
    LRESULT Message(Control& control, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Press(Control& control, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(Control& control);

    HWND form_;
    std::unique_ptr<WindowClass> panel_class_;
    std::unique_ptr<WindowClass> group_class_;
    UniqueFont system_font_;
    UniqueFont arial_font_;
    UniqueWindow tooltip_;
    std::vector<Control*> controls_;  // by layout row
    std::vector<HWND> method_buttons_;
    std::vector<std::pair<COLORREF, UniqueBrush>> brushes_;  // the colours the model has set
    DragTracker drag_;
};

}  // namespace vexmira::dialog
