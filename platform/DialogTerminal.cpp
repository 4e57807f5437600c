// The terminal back end of the dialogs: the template drawn with ncurses and
// the keys a person uses, turned into the dialog procedure's commands.
#include "platform/DialogModel.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <curses.h>

namespace velmo::detail {

namespace {

constexpr short kWhitePair = 1;

Dialog* gShowing = nullptr;

struct Frame {
    int top, left, rows, cols;
    double xUnit, yUnit;  // cells per dialog unit
};

// A quarter cell across per unit, widened where a label's text would not
// fit its box (labels keep their whole text), then scaled to the terminal.
Frame Layout(const DialogTemplate& t)
{
    double xUnit = 0.25, yUnit = 0.125;
    for (const auto& c : t.controls)
        if (c.kind == ControlKind::Label && c.text && c.cx > 0)
            xUnit = std::max(xUnit, (std::strlen(c.text) + 1.0) / c.cx);
    double scale = std::min({1.0, (COLS - 2) / (t.cx * xUnit), (LINES - 2) / (t.cy * yUnit)});
    xUnit *= scale;
    yUnit *= scale;
    int cols = static_cast<int>(std::lround(t.cx * xUnit)) + 2;
    int rows = static_cast<int>(std::lround(t.cy * yUnit)) + 2;
    return {std::max(0, (LINES - rows) / 2), std::max(0, (COLS - cols) / 2), rows, cols, xUnit, yUnit};
}

struct Cell {
    int row, col, rows, cols;
};

Cell Place(const Frame& f, const DialogControl& c)
{
    int col = f.left + 1 + static_cast<int>(std::lround(c.x * f.xUnit));
    int row = f.top + 1 + static_cast<int>(std::lround(c.y * f.yUnit));
    int cols = std::max(1, static_cast<int>(std::lround(c.cx * f.xUnit)));
    int rows = std::max(1, static_cast<int>(std::lround(c.cy * f.yUnit)));
    return {row, col, rows, cols};
}

// The lines of a field wrapped to a width.
std::vector<std::string> Wrapped(const std::string& text, int width)
{
    std::vector<std::string> out;
    std::string line;
    auto flush = [&] {
        out.push_back(line);
        line.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '\r')
            continue;
        if (ch == '\n') {
            flush();
            continue;
        }
        if (static_cast<int>(line.size()) >= width)
            flush();
        line += ch;
    }
    flush();
    return out;
}

void Box(int row, int col, int rows, int cols)
{
    mvaddch(row, col, ACS_ULCORNER);
    mvhline(row, col + 1, ACS_HLINE, cols - 2);
    mvaddch(row, col + cols - 1, ACS_URCORNER);
    for (int r = 1; r < rows - 1; ++r) {
        mvaddch(row + r, col, ACS_VLINE);
        mvaddch(row + r, col + cols - 1, ACS_VLINE);
    }
    mvaddch(row + rows - 1, col, ACS_LLCORNER);
    mvhline(row + rows - 1, col + 1, ACS_HLINE, cols - 2);
    mvaddch(row + rows - 1, col + cols - 1, ACS_LRCORNER);
}

bool WhiteField(Dialog& d, Control& c)
{
    COLORREF color = 0;
    INT_PTR brush =
        d.Send((c.def->style & ES_READONLY) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, 0, reinterpret_cast<LPARAM>(&c));
    return has_colors() && BrushColor(brush, &color) && color == RGB(255, 255, 255);
}

void DrawEdit(Dialog& d, Control& c, const Cell& at, bool focused)
{
    attr_t attr = WhiteField(d, c) ? COLOR_PAIR(kWhitePair) : A_UNDERLINE;
    if (focused && !(c.def->style & ES_READONLY))
        attr |= A_BOLD;
    if (!(c.def->style & ES_MULTILINE)) {
        std::string text = c.text.substr(0, std::min<std::size_t>(c.text.size(), at.cols));
        int pad = at.cols - static_cast<int>(text.size());
        int lead = (c.def->style & ES_RIGHT) ? pad : (c.def->style & ES_CENTER) ? pad / 2 : 0;
        attron(attr);
        mvhline(at.row, at.col, ' ', at.cols);
        mvaddstr(at.row, at.col + lead, text.c_str());
        attroff(attr);
        return;
    }
    int rows = std::max(3, at.rows), cols = std::max(4, at.cols);
    Box(at.row, at.col, rows, cols);
    if (focused)
        mvaddstr(at.row, at.col + 1, "*");
    auto lines = Wrapped(c.text, cols - 2);
    int inner = rows - 2;
    if (c.follow)
        c.scroll = static_cast<int>(lines.size()) - inner;
    c.scroll = std::clamp(c.scroll, 0, std::max(0, static_cast<int>(lines.size()) - inner));
    attron(attr);
    for (int r = 0; r < inner; ++r) {
        mvhline(at.row + 1 + r, at.col + 1, ' ', cols - 2);
        std::size_t k = static_cast<std::size_t>(c.scroll + r);
        if (k < lines.size())
            mvaddstr(at.row + 1 + r, at.col + 1, lines[k].c_str());
    }
    attroff(attr);
}

void Draw(Dialog& d)
{
    erase();
    Frame f = Layout(*d.tmpl);
    Box(f.top, f.left, f.rows, f.cols);
    std::string title = std::string(" ") + (d.tmpl->title ? d.tmpl->title : "") + " ";
    mvaddstr(f.top, f.left + std::max(1, (f.cols - static_cast<int>(title.size())) / 2), title.c_str());
    for (std::size_t i = 0; i < d.controls.size(); ++i) {
        Control& c = d.controls[i];
        Cell at = Place(f, *c.def);
        bool focused = static_cast<int>(i) == d.focus;
        switch (c.def->kind) {
        case ControlKind::Label: mvaddstr(at.row, at.col, c.text.c_str()); break;
        case ControlKind::Icon: mvaddstr(at.row, at.col, "(i)"); break;
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            std::string face = "[ " + c.text + " ]";
            if (static_cast<int>(face.size()) > at.cols)
                face = "[" + c.text + "]";
            attr_t attr = (focused ? A_REVERSE : A_NORMAL) | (c.def->kind == ControlKind::DefaultButton ? A_BOLD : 0) |
                          (c.enabled ? 0 : A_DIM);
            attron(attr);
            mvaddstr(at.row, at.col + std::max(0, (at.cols - static_cast<int>(face.size())) / 2), face.c_str());
            attroff(attr);
            break;
        }
        case ControlKind::DropDown: {
            std::string item = c.selected >= 0 && c.selected < static_cast<int>(c.items.size())
                                   ? c.items[static_cast<std::size_t>(c.selected)]
                                   : std::string();
            item.resize(static_cast<std::size_t>(std::max(1, at.cols - 3)), ' ');
            attron(focused ? A_REVERSE : A_UNDERLINE);
            mvaddstr(at.row, at.col, ("[" + item + "v]").c_str());
            attroff(focused ? A_REVERSE : A_UNDERLINE);
            break;
        }
        case ControlKind::Edit: DrawEdit(d, c, at, focused); break;
        }
    }
    refresh();
}

int DefaultButton(Dialog& d)
{
    for (auto& c : d.controls)
        if (c.def->kind == ControlKind::DefaultButton && c.enabled)
            return c.def->id;
    return IDOK;
}

void RemoveLastCharacter(std::string& text)
{
    if (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
        return;
    }
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
        text.pop_back();
    if (!text.empty())
        text.pop_back();
}

void HandleKey(Dialog& d, int key)
{
    Control* focused = d.focus >= 0 ? &d.controls[static_cast<std::size_t>(d.focus)] : nullptr;
    bool editable = focused && focused->def->kind == ControlKind::Edit && !(focused->def->style & ES_READONLY);
    bool multiline = focused && focused->def->kind == ControlKind::Edit && (focused->def->style & ES_MULTILINE);
    bool button =
        focused && (focused->def->kind == ControlKind::Button || focused->def->kind == ControlKind::DefaultButton);
    switch (key) {
    case '\t': d.MoveFocus(1); return;
    case KEY_BTAB: d.MoveFocus(-1); return;
    case 27: d.Command(IDCANCEL); return;
    case '\n':
    case '\r':
    case KEY_ENTER:
        if (editable && multiline && (focused->def->style & ES_WANTRETURN)) {
            focused->text += "\r\n";
            focused->follow = true;
        } else
            d.Command(button ? focused->def->id : DefaultButton(d));
        return;
    case ' ':
        if (button) {
            d.Command(focused->def->id);
            return;
        }
        break;
    case KEY_UP:
    case KEY_DOWN: {
        int step = key == KEY_UP ? -1 : 1;
        if (focused && focused->def->kind == ControlKind::DropDown && !focused->items.empty())
            focused->selected = std::clamp(focused->selected + step, 0, static_cast<int>(focused->items.size()) - 1);
        else if (multiline) {
            focused->follow = false;
            focused->scroll = std::max(0, focused->scroll + step);
        }
        return;
    }
    case KEY_BACKSPACE:
    case 127:
    case 8:
        if (editable)
            RemoveLastCharacter(focused->text);
        return;
    default: break;
    }
    if (editable && key >= 32 && key < 256) {
        if ((focused->def->style & ES_NUMBER) && (key < '0' || key > '9'))
            return;
        focused->text += static_cast<char>(key);
        focused->follow = true;
    }
}

}  // namespace

void RunOnTerminal(Dialog& d, LPARAM param)
{
    std::setlocale(LC_ALL, "");
    initscr();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(kWhitePair, COLOR_BLACK, COLOR_WHITE);
    }
    Dialog* outer = gShowing;
    gShowing = &d;
    // Message boxes of the initialisation already show on the terminal.
    d.Send(WM_INITDIALOG, 0, param);
    while (!d.ended) {
        Draw(d);
        int key = getch();
        if (key == ERR)
            break;
        HandleKey(d, key);
    }
    gShowing = outer;
    endwin();
}

bool TerminalMessageBox(const char* text, const char* caption, int* answer)
{
    if (!gShowing)
        return false;
    std::vector<std::string> lines = Wrapped(text, std::max(10, COLS - 8));
    int width = static_cast<int>(std::strlen(caption)) + 4;
    for (const auto& l : lines)
        width = std::max(width, static_cast<int>(l.size()) + 4);
    int rows = static_cast<int>(lines.size()) + 4;
    int top = std::max(0, (LINES - rows) / 2), left = std::max(0, (COLS - width) / 2);
    while (true) {
        Draw(*gShowing);
        for (int r = 0; r < rows; ++r)
            mvhline(top + r, left, ' ', width);
        Box(top, left, rows, width);
        mvaddstr(top, left + 2, caption);
        for (std::size_t i = 0; i < lines.size(); ++i)
            mvaddstr(top + 1 + static_cast<int>(i), left + 2, lines[i].c_str());
        attron(A_REVERSE);
        mvaddstr(top + rows - 2, left + (width - 6) / 2, "[ OK ]");
        attroff(A_REVERSE);
        refresh();
        int key = getch();
        if (key == '\n' || key == '\r' || key == KEY_ENTER || key == ' ' || key == 27 || key == ERR)
            break;
    }
    *answer = IDOK;
    return true;
}

}  // namespace velmo::detail
