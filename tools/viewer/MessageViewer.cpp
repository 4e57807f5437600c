#include "tools/viewer/MessageViewer.h"

#include "interfaces/VelmoLib.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "messagefile/MessageRecord.h"
#include "messagefile/StatusWords.h"

#include <cstdio>

namespace velmo::viewer {

namespace {

enum : int {
    IDC_STATUS = 1000,
    IDC_DATE = 1001,
    IDC_FROM = 1002,
    IDC_TO = 1003,
    IDC_BODY = 1004,
    IDC_RETRIES = 1005,
    IDC_STATUSTEXT = 1008,
};

constexpr DWORD kReadOnly = ES_READONLY;
constexpr DWORD kMultiLine = ES_READONLY | ES_MULTILINE | WS_VSCROLL;

constexpr DialogControl kControls[] = {
    {IDOK, ControlKind::DefaultButton, "Close", 89, 170, 55, 15, 0},
    {-1, ControlKind::Icon, nullptr, 205, 5, 20, 20, 0},
    {-1, ControlKind::Label, "Status", 24, 6, 24, 9, 0},
    {IDC_STATUS, ControlKind::Edit, nullptr, 48, 6, 54, 12, kReadOnly | ES_CENTER},
    {-1, ControlKind::Label, "Retry attempts", 114, 6, 45, 9, 0},
    {IDC_RETRIES, ControlKind::Edit, nullptr, 162, 6, 27, 12, kReadOnly | ES_NUMBER | ES_RIGHT},
    {IDC_STATUSTEXT, ControlKind::Edit, nullptr, 48, 21, 141, 24, kMultiLine, "Status text"},
    {-1, ControlKind::Label, "Date / Time", 6, 54, 39, 9, 0},
    {IDC_DATE, ControlKind::Edit, nullptr, 48, 54, 78, 12, kReadOnly | ES_RIGHT},
    {-1, ControlKind::Label, "From", 27, 75, 18, 9, 0},
    {IDC_FROM, ControlKind::Edit, nullptr, 47, 75, 183, 12, kReadOnly},
    {-1, ControlKind::Label, "To", 33, 90, 12, 9, 0},
    {IDC_TO, ControlKind::Edit, nullptr, 47, 90, 183, 12, kReadOnly},
    {-1, ControlKind::Label, "Body", 27, 108, 18, 9, 0},
    {IDC_BODY, ControlKind::Edit, nullptr, 47, 108, 183, 57, kMultiLine},
};
constexpr DialogTemplate kDialog{"Velmo - Message Viewer", 237, 191, kControls};

struct State {
    std::string path;
    HBRUSH white = nullptr;
    bool read = false;
};

// Text as the 8-bit program shows it: what the ANSI code page cannot hold
// becomes its default character; the terminal takes UTF-8.
std::string Shown(const Bstr& text) { return Utf16ToUtf8(AnsiToUtf16(Utf16ToAnsi(text.view()))); }

void Fill(HWND dialog, const messagefile::MessageRecord& record)
{
    const SYSTEMTIME* when = messagefile::StatusDate(record);
    const char* word = messagefile::StatusWord(record.Status);
    if (word) {
        SetDlgItemTextA(dialog, IDC_STATUS, word);
        SYSTEMTIME local{};
        SystemTimeToTzSpecificLocalTime(nullptr, when, &local);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
                      local.wHour, local.wMinute, local.wSecond);
        SetDlgItemTextA(dialog, IDC_DATE, text);
    }
    SetDlgItemTextA(dialog, IDC_FROM, Shown(record.From).c_str());
    SetDlgItemTextA(dialog, IDC_TO, Shown(record.To).c_str());
    SetDlgItemTextA(dialog, IDC_BODY, Shown(record.Body).c_str());
    SetDlgItemInt(dialog, IDC_RETRIES, static_cast<UINT>(record.RetryCount), FALSE);
    if (!record.StatusText.IsNull())
        SetDlgItemTextA(dialog, IDC_STATUSTEXT, Shown(record.StatusText).c_str());
}

INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    static State* state = nullptr;
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<State*>(lParam);
        state->white = CreateSolidBrush(RGB(255, 255, 255));
        auto* record = new messagefile::MessageRecord();
        state->read = SUCCEEDED(record->LoadFromFileA(state->path));
        if (!state->read)
            MessageBoxA(dialog, "Error reading the specified file", "Velmo Viewer Error", MB_ICONERROR);
        else
            Fill(dialog, *record);
        record->Release();
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: return reinterpret_cast<INT_PTR>(state ? state->white : nullptr);
    case WM_COMMAND: {
        int id = static_cast<int>(wParam & 0xFFFF);
        if (id == IDOK || id == IDCANCEL) {
            if (state && state->white) {
                DeleteObject(state->white);
                state->white = nullptr;
            }
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    default: return FALSE;
    }
}

}  // namespace

std::string PathFromCommandLine(const std::string& commandLine)
{
    std::string path = commandLine;
    if (path.size() > 2) {
        if (path.front() == '"')
            path.erase(0, 1);
        if (!path.empty() && path.back() == '"')
            path.pop_back();
    }
    return path;
}

bool ShowMessage(const std::string& path)
{
    State state{path};
    // The dialog's result is always 0; what counts is whether the file was read.
    (void)DialogBoxParamA(nullptr, &kDialog, GetActiveWindow(), Proc, reinterpret_cast<LPARAM>(&state));
    return state.read;
}

}  // namespace velmo::viewer
