// Modal dialogs for the terminal tools, with the Win32 vocabulary.
//
// A dialog is a template of controls placed in dialog units and a dialog
// procedure that receives WM_INITDIALOG, WM_COMMAND and WM_CTLCOLORSTATIC
// as on Windows. DialogBoxParamA runs it on one of two back ends:
//
// - the terminal (ncurses), when standard input and output are terminals:
//   a quarter of a cell across and an eighth down per dialog unit, scaled
//   down to fit; Tab and Shift-Tab move the focus, Enter presses the
//   default button (a new line in a multi-line edit with ES_WANTRETURN),
//   Esc is IDCANCEL, arrows choose in a drop-down list and scroll
//   multi-line edits; MessageBoxA then shows a framed box.
// - headless, otherwise: the same procedure runs without drawing. A driver
//   set with SetDialogDriver gets the dialog to inspect and press buttons
//   in (tests); without one the dialog's edit fields are written to
//   standard output (WriteDialogFields) and the dialog is cancelled.
//
// Differences from Win32: the template is passed as a pointer, not a
// resource name; there are no child windows beyond the template's controls
// and no message loop of the caller's. Text is UTF-8 throughout.
#pragma once

#include "platform/MessageBox.h"
#include "platform/Types.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

using HINSTANCE = void*;
using HBRUSH = void*;
using HDC = void*;
using HGDIOBJ = void*;
using COLORREF = DWORD;
using INT_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr int IDCANCEL = 2;
constexpr WORD BN_CLICKED = 0;

// Edit styles.
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_WANTRETURN = 0x1000;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_DISABLED = 0x08000000;

// Drop-down list messages.
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr INT_PTR CB_ERR = -1;
// Edit messages: EM_SETSEL with -1, -1 puts the caret at the end, where
// EM_REPLACESEL inserts its text.
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_REPLACESEL = 0x00C2;

constexpr COLORREF RGB(int r, int g, int b) { return static_cast<COLORREF>(r | (g << 8) | (b << 16)); }

namespace velmo {

enum class ControlKind : unsigned char { Button, DefaultButton, Label, Edit, Icon, DropDown };

struct DialogControl {
    int id;  // -1: no id (labels, icons)
    ControlKind kind;
    const char* text;  // button and label text
    int x, y, cx, cy;  // dialog units
    DWORD style;       // ES_* and WS_* bits
    // Edits without a label in front of them: the name the field has in
    // the headless listing.
    const char* name = nullptr;
};

struct DialogTemplate {
    const char* title;
    int cx, cy;
    std::span<const DialogControl> controls;
};

// Runs in headless dialogs instead of a person: inspect with
// GetDlgItemTextA, act with PressDialogButton or SetDlgItemTextA. When it
// returns and the dialog is still open, the dialog gets IDCANCEL.
using DialogDriver = std::function<void(HWND dialog)>;
VELMO_PLATFORM_API void SetDialogDriver(DialogDriver driver);
// Sends WM_COMMAND (BN_CLICKED) for the button as a click would.
VELMO_PLATFORM_API void PressDialogButton(HWND dialog, int id);
// The edit fields in template order: "<label>: <value>", the label being
// the label control just before the field (else the field's name); further
// lines of a value indented by two spaces.
VELMO_PLATFORM_API void WriteDialogFields(HWND dialog, std::ostream& out);
// True when dialogs draw on the terminal.
VELMO_PLATFORM_API bool DialogsUseTerminal();

}  // namespace velmo

VELMO_PLATFORM_API INT_PTR DialogBoxParamA(HINSTANCE instance, const velmo::DialogTemplate* dialog, HWND owner,
                                           DLGPROC proc, LPARAM param);
VELMO_PLATFORM_API BOOL EndDialog(HWND dialog, INT_PTR result);
VELMO_PLATFORM_API HWND GetDlgItem(HWND dialog, int id);
VELMO_PLATFORM_API BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
VELMO_PLATFORM_API UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size);
VELMO_PLATFORM_API BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
VELMO_PLATFORM_API HWND SetFocus(HWND control);
VELMO_PLATFORM_API BOOL EnableWindow(HWND control, BOOL enable);
VELMO_PLATFORM_API HWND GetActiveWindow();
VELMO_PLATFORM_API INT_PTR SendMessageA(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
VELMO_PLATFORM_API HBRUSH CreateSolidBrush(COLORREF color);
VELMO_PLATFORM_API BOOL DeleteObject(HGDIOBJ object);
