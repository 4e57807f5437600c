#include "platform/MessageBox.h"

#include "platform/DialogModel.h"

#include <cstdio>

int MessageBoxA(HWND, const char* text, const char* caption, UINT)
{
    int answer = IDOK;
    if (velmo::detail::TerminalMessageBox(text ? text : "", caption ? caption : "Error", &answer))
        return answer;
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}
