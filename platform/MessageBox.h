// MessageBoxA for programs and modules without a window. With no terminal
// dialog showing, the box is one line on standard error,
// "<caption>: <text>", and the answer is IDOK.
#pragma once

#include "platform/Types.h"

using HWND = void*;
using UINT = unsigned int;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

VELMO_PLATFORM_API int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
