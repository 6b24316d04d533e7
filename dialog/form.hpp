#pragma once
// TForm1: the archive information dialog, and the dialog module's state.
// The window code only creates controls and moves values in and out; what to
// show is decided by the portable functions of support/ and archive/.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/compress.hpp"
#include "dialog/handles.hpp"
#include "dialog/layout.hpp"
#include "support/component.hpp"

namespace vexmira::dialog {

class Control;

class TForm1 : public support::Component {
public:
    // Creates the window hidden, with every control, on the calling thread.
    // Raises support::Exception when the system refuses a window or class.
    explicit TForm1(support::Component* owner = nullptr);
    ~TForm1() override;

    // Runs FormShow, shows the window and returns once it is closed. Returns
    // false at once, showing nothing, while the dialog is already showing or
    // when called from a thread other than the window's.
    bool ShowModal();
    bool Showing() const noexcept { return showing_.load(); }
    // Ends the modal run; the window hides when the run unwinds.
    void Close() noexcept { closing_ = true; }

    HWND Handle() const noexcept { return window_.get(); }
    HWND ControlHandle(std::size_t row) const noexcept;
    DWORD ThreadId() const noexcept { return thread_id_; }

    // Handlers, named after the control and the event.
    void FormShow();
    void showfiles();
    void Rip_ARC_Archive();
    void ListBox1Click();
    void FormKeyDown(WORD& key);
    void Button1Click();
    void Button2Click() { Close(); }
    void FormDestroy() noexcept;

    // showfiles' last step: EntryList's names, in order, into ListBox1.
    void FillListBox();

    archive::TCompress& Compress1;

private:
    friend class Control;

    void CreateControls();
    Control& CreateControl(std::size_t row);
    void CreateMethodButtons(Control& group);
    void CreateTooltips();
    void SetText(std::size_t row, const std::string& text);
    std::string Text(std::size_t row) const;
    void SetBackground(std::size_t row, COLORREF colour);
    void SelectMethodButton(int index);
    void PlaceOnFirstShow();

    // The modal run's filter: the key preview, then the tab order; true when
    // the message is done with.
    bool PreTranslate(MSG& message);
    bool MoveFocusByTab(bool backwards);
    std::vector<HWND> TabStops() const;

    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT FormMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Messages of the controls that react to anything: drags, colours, painting.
    LRESULT ControlMessage(Control& control, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ColourMessage(HDC dc, HWND child);
    void PaintContainer(Control& control);
    LRESULT PressListBox(Control& list, WPARAM wParam, LPARAM lParam);

    // A drag that no control accepts: it holds the mouse, shows the no-drop
    // cursor once the mouse has moved far enough, and ends on release.
    void ArmDrag(HWND source, POINT screenPoint);
    void TrackDrag(POINT screenPoint);
    void EndDrag();

    UniqueBrush sky_blue_;
    std::unique_ptr<WindowClass> form_class_;
    std::unique_ptr<WindowClass> panel_class_;
    std::unique_ptr<WindowClass> group_class_;
    UniqueFont system_font_;
    UniqueFont arial_font_;
    UniqueWindow window_;
    UniqueWindow tooltip_;
    std::vector<Control*> controls_;  // by layout row; owned as components
    std::vector<HWND> method_buttons_;
    DWORD thread_id_ = 0;

    std::atomic<bool> showing_{false};
    bool closing_ = false;
    bool placed_ = false;

    HWND drag_source_ = nullptr;
    POINT drag_start_{};
    bool dragging_ = false;
    bool drag_passes_to_list_ = false;  // the list box saw the press and tracks it too
};

// The dialog module's state; it lives as long as the library.
extern std::unique_ptr<TForm1> Form1;
extern std::string SourcePath;
extern std::unique_ptr<archive::EntryList> EntryList;
extern std::int64_t RipOffset;  // -1: nothing located by the last run

// The caption of every message box; the plug-in sets it empty at load.
extern std::string ApplicationTitle;

// The information message box: the text, one "OK", no icon, centred on the
// screen; returns once dismissed.
void ShowInformation(const std::string& text);
// The error report message box: the message with the full-stop rule and the
// error icon.
void ShowErrorReport(const std::string& message);

// What "About" shows.
extern const char* const kCreditText;

}  // namespace vexmira::dialog
