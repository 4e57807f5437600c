// The state of a running dialog, shared by the Win32 calls and the two back
// ends. Internal to the platform library. A dialog HWND points at a Dialog,
// a control HWND at one of its Controls; the tag tells them apart.
#pragma once

#include "platform/Dialog.h"

#include <string>
#include <vector>

namespace velmo::detail {

constexpr std::uint32_t kDialogTag = 0x474C4444;   // "DDLG"
constexpr std::uint32_t kControlTag = 0x4C544344;  // "DCTL"

struct Dialog;

struct Control {
    std::uint32_t tag = kControlTag;
    Dialog* owner = nullptr;
    const DialogControl* def = nullptr;
    std::string text;  // line ends as "\r\n", as Win32 edits keep them
    bool enabled = true;
    std::vector<std::string> items;  // drop-down list
    std::vector<LPARAM> itemData;
    int selected = -1;
    int scroll = 0;       // first line shown of a multi-line edit
    bool follow = false;  // text was appended: show its end, as the caret would
    bool Focusable() const;
};

struct Dialog {
    std::uint32_t tag = kDialogTag;
    const DialogTemplate* tmpl = nullptr;
    DLGPROC proc = nullptr;
    std::vector<Control> controls;
    int focus = -1;  // index into controls
    bool ended = false;
    INT_PTR result = 0;

    Control* Find(int id);
    INT_PTR Send(UINT message, WPARAM wParam, LPARAM lParam) { return proc(this, message, wParam, lParam); }
    void Command(int id) { Send(WM_COMMAND, static_cast<WPARAM>(id) | (static_cast<WPARAM>(BN_CLICKED) << 16), 0); }
    void MoveFocus(int step);
};

Dialog* AsDialog(HWND h);
Control* AsControl(HWND h);

// The colour of a brush a dialog procedure answered with; false for none.
bool BrushColor(INT_PTR brush, COLORREF* color);

// The terminal back end: initialises the dialog (WM_INITDIALOG with param)
// and runs it until it has ended.
void RunOnTerminal(Dialog& dialog, LPARAM param);
// A message box on the terminal while a dialog shows; false when none shows.
bool TerminalMessageBox(const char* text, const char* caption, int* answer);

}  // namespace velmo::detail
