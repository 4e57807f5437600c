// The Win32 dialog calls on the dialog model, and the headless back end.
#include "platform/DialogModel.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace velmo {

namespace {

DialogDriver& Driver()
{
    static DialogDriver driver;
    return driver;
}

struct Brush {
    std::uint32_t tag = 0x48535242;  // "BRSH"
    COLORREF color;
};

// Splits a field's text at "\r\n" or "\n".
std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += text[i];
        }
    }
    lines.push_back(line);
    return lines;
}

}  // namespace

namespace detail {

bool Control::Focusable() const
{
    if (!enabled)
        return false;
    switch (def->kind) {
    case ControlKind::Button:
    case ControlKind::DefaultButton:
    case ControlKind::DropDown: return true;
    case ControlKind::Edit: return !(def->style & ES_READONLY) || (def->style & ES_MULTILINE);
    default: return false;
    }
}

Control* Dialog::Find(int id)
{
    for (auto& c : controls)
        if (c.def->id == id && id != -1)
            return &c;
    return nullptr;
}

void Dialog::MoveFocus(int step)
{
    int n = static_cast<int>(controls.size());
    int base = focus >= 0 ? focus : (step > 0 ? -1 : n);
    for (int i = 1; i <= n; ++i) {
        int k = ((base + step * i) % n + n) % n;
        if (controls[k].Focusable()) {
            focus = k;
            return;
        }
    }
}

Dialog* AsDialog(HWND h)
{
    auto* d = static_cast<Dialog*>(h);
    return d && d->tag == kDialogTag ? d : nullptr;
}

Control* AsControl(HWND h)
{
    auto* c = static_cast<Control*>(h);
    return c && c->tag == kControlTag ? c : nullptr;
}

}  // namespace detail

void SetDialogDriver(DialogDriver driver) { Driver() = std::move(driver); }

void PressDialogButton(HWND dialog, int id)
{
    if (auto* d = detail::AsDialog(dialog); d && !d->ended)
        d->Command(id);
}

bool DialogsUseTerminal() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && std::getenv("TERM"); }

void WriteDialogFields(HWND dialog, std::ostream& out)
{
    auto* d = detail::AsDialog(dialog);
    if (!d)
        return;
    const char* label = nullptr;
    for (const auto& c : d->controls) {
        if (c.def->kind == ControlKind::Label) {
            label = c.def->text;
            continue;
        }
        if (c.def->kind != ControlKind::Edit) {
            label = nullptr;
            continue;
        }
        const char* name = label ? label : (c.def->name ? c.def->name : "");
        auto lines = LinesOf(c.text);
        out << name << ": " << lines[0] << "\n";
        for (std::size_t i = 1; i < lines.size(); ++i)
            out << "  " << lines[i] << "\n";
        label = nullptr;
    }
    out.flush();
}

}  // namespace velmo

using velmo::detail::AsControl;
using velmo::detail::AsDialog;

INT_PTR DialogBoxParamA(HINSTANCE, const velmo::DialogTemplate* tmpl, HWND, DLGPROC proc, LPARAM param)
{
    if (!tmpl || !proc)
        return -1;
    velmo::detail::Dialog d;
    d.tmpl = tmpl;
    d.proc = proc;
    d.controls.reserve(tmpl->controls.size());
    for (const auto& def : tmpl->controls) {
        velmo::detail::Control c;
        c.owner = &d;
        c.def = &def;
        c.enabled = !(def.style & WS_DISABLED);
        if (def.kind != velmo::ControlKind::Edit && def.text)
            c.text = def.text;
        d.controls.push_back(std::move(c));
    }
    d.MoveFocus(1);
    if (velmo::DialogsUseTerminal() && !velmo::Driver()) {
        velmo::detail::RunOnTerminal(d, param);
    } else {
        // A procedure that sets the focus itself returns FALSE, as on Windows.
        d.Send(WM_INITDIALOG, 0, param);
        if (!d.ended) {
            if (velmo::Driver())
                velmo::Driver()(&d);
            else
                velmo::WriteDialogFields(&d, std::cout);
        }
        if (!d.ended)
            d.Command(IDCANCEL);
    }
    return d.ended ? d.result : IDCANCEL;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    auto* d = AsDialog(dialog);
    if (!d)
        return FALSE;
    d->ended = true;
    d->result = result;
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    auto* d = AsDialog(dialog);
    return d ? d->Find(id) : nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text)
{
    auto* c = AsControl(GetDlgItem(dialog, id));
    if (!c)
        return FALSE;
    c->text = text ? text : "";
    c->scroll = 0;
    c->follow = false;
    return TRUE;
}

UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size)
{
    auto* c = AsControl(GetDlgItem(dialog, id));
    if (!c || !buffer || size <= 0)
        return 0;
    std::size_t n = std::min(c->text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, c->text.data(), n);
    buffer[n] = '\0';
    return static_cast<UINT>(n);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    char text[16];
    if (isSigned)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    else
        std::snprintf(text, sizeof text, "%u", value);
    return SetDlgItemTextA(dialog, id, text);
}

HWND SetFocus(HWND control)
{
    auto* c = AsControl(control);
    if (!c)
        return nullptr;
    velmo::detail::Dialog* d = c->owner;
    HWND previous = d->focus >= 0 ? &d->controls[static_cast<std::size_t>(d->focus)] : nullptr;
    d->focus = static_cast<int>(c - d->controls.data());
    return previous;
}

BOOL EnableWindow(HWND control, BOOL enable)
{
    auto* c = AsControl(control);
    if (!c)
        return FALSE;
    BOOL wasDisabled = !c->enabled;
    c->enabled = enable != FALSE;
    return wasDisabled;
}

HWND GetActiveWindow() { return nullptr; }

INT_PTR SendMessageA(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* c = AsControl(control);
    if (!c)
        return 0;
    auto count = static_cast<INT_PTR>(c->items.size());
    switch (message) {
    case CB_ADDSTRING:
        c->items.emplace_back(reinterpret_cast<const char*>(lParam));
        c->itemData.push_back(0);
        return count;
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return c->selected;
    case CB_SETCURSEL:
        if (static_cast<INT_PTR>(wParam) >= count) {
            c->selected = -1;
            return CB_ERR;
        }
        c->selected = static_cast<int>(wParam);
        return c->selected;
    case CB_RESETCONTENT:
        c->items.clear();
        c->itemData.clear();
        c->selected = -1;
        return 0;
    case CB_SETITEMDATA:
        if (static_cast<INT_PTR>(wParam) >= count)
            return CB_ERR;
        c->itemData[wParam] = lParam;
        return 0;
    case CB_GETITEMDATA: return static_cast<INT_PTR>(wParam) < count ? c->itemData[wParam] : CB_ERR;
    case CB_GETLBTEXT:
        if (static_cast<INT_PTR>(wParam) >= count)
            return CB_ERR;
        std::strcpy(reinterpret_cast<char*>(lParam), c->items[wParam].c_str());
        return static_cast<INT_PTR>(c->items[wParam].size());
    case EM_SETSEL: return 0;
    case EM_REPLACESEL:
        c->text += reinterpret_cast<const char*>(lParam);
        c->follow = true;
        return 0;
    default: return 0;
    }
}

HBRUSH CreateSolidBrush(COLORREF color) { return new velmo::Brush{0x48535242, color}; }

BOOL DeleteObject(HGDIOBJ object)
{
    auto* b = static_cast<velmo::Brush*>(object);
    if (!b || b->tag != 0x48535242)
        return FALSE;
    delete b;
    return TRUE;
}

namespace velmo::detail {
// The colour of a brush a dialog procedure answered with; false for none.
bool BrushColor(INT_PTR brush, COLORREF* color)
{
    auto* b = reinterpret_cast<Brush*>(brush);
    if (!b || b->tag != 0x48535242)
        return false;
    *color = b->color;
    return true;
}
}  // namespace velmo::detail
