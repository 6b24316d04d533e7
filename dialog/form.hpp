#pragma once
// TForm1: the archive information dialog's window, and the dialog module's
// state. What the dialog shows and what a click means is decided by the form
// model (form/); this window realises it with its controls.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/compress.hpp"
#include "dialog/handles.hpp"
#include "form/form_model.hpp"
#include "support/component.hpp"

namespace vexmira::dialog {

class Controls;

class TForm1 : public support::Component, private form::View {
public:
    // Creates the window hidden, with every control, on the calling thread.
    // Raises support::Exception when the system refuses a window or class.
    explicit TForm1(support::Component* owner = nullptr);
    ~TForm1() override;

    // Runs FormShow, shows the window and returns once it is closed. The one
    // guard of the dialog: while it is showing already, or on a thread other
    // than the window's, it declines at once, returning false, and neither
    // prepare runs nor anything of the running dialog is touched. prepare
    // runs when the run goes ahead, before FormShow.
    bool ShowModal(const std::function<void()>& prepare = {});
    // Ends the modal run; the window hides when the run unwinds.
    void Close() noexcept override;

    HWND Handle() const noexcept { return window_.get(); }
    HWND ControlHandle(std::size_t row) const noexcept;
    DWORD ThreadId() const noexcept { return thread_id_; }

    // For a library unloaded on a thread other than the window's, where no
    // window can be destroyed: the windows stay, hidden, with procedures that
    // are not in this module, and their classes stay registered. Destroying
    // the form afterwards releases only memory and handles of its own.
    void Abandon() noexcept;

    // Handlers, named after the control and the event (see form::FormModel).
    void FormShow() { model_.FormShow(); }
    void showfiles() { model_.showfiles(); }
    void Rip_ARC_Archive() { model_.Rip_ARC_Archive(); }
    void ListBox1Click() { model_.ListBox1Click(); }
    void FormKeyDown(std::uint16_t& key) { model_.FormKeyDown(key); }
    void Button1Click() { model_.Button1Click(); }
    void Button2Click() { model_.Button2Click(); }
    void FormDestroy() noexcept { model_.FormDestroy(); }

    archive::TCompress& Compress1;

private:
    // form::View
    void ClearList() override;
    void FillList(const archive::EntryList& entries) override;
    std::int64_t FocusedIndex() const override;
    void SetText(std::size_t row, const std::string& text) override;
    void SetBackground(std::size_t row, form::Colour colour) override;
    void SelectMethodButton(int index) override;
    void SetProgressRange(std::int32_t maximum) override;
    void SetProgressPosition(std::int32_t position) override;
    void ShowInformation(const std::string& text) override;
    void ShowErrorReport(const std::string& message) override;
    void DropStayOnTop() override;

    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT FormMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The modal run's filter: the key preview, then the tab order; true when
    // the message is done with.
    bool PreTranslate(MSG& message);
    void PlaceOnFirstShow();

    UniqueBrush sky_blue_;
    std::unique_ptr<WindowClass> form_class_;
    UniqueWindow window_;
    Controls* controls_ = nullptr;  // owned as a component
    form::FormModel model_;
    DWORD thread_id_ = 0;

    bool showing_ = false;
    bool closing_ = false;
    bool placed_ = false;
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

}  // namespace vexmira::dialog
