// Serial ports with their Win32 meanings.
//
// CreateFileW/CreateFileA open "COM<n>:" (any case) as a serial port: the
// tty is the value "COM<n>" of HKLM\Software\Norvane\Velmo\Ports, else of
// HKLM\System\Platform\DosDevices, else /dev/ttyS<n-1> (under the system
// root, like every fixed path). The port is opened
// exclusively (TIOCEXCL and an flock; a port in use is
// ERROR_ACCESS_DENIED), in raw mode without flow control. Pseudo-terminals
// are valid ports.
//
// BuildCommDCBW reads the classic mode text ("96,n,8,1", "19200,e,7,2"; the
// two-digit baud abbreviations 11, 15, 30, 60, 12, 24, 48, 96, 19; parity
// n, e, o, m, s in either case) and the keyword form ("baud=9600 parity=n
// data=8 stop=1"); anything else fails with ERROR_INVALID_PARAMETER.
// SetCommState applies a DCB with termios.
//
// Reads and writes keep the Windows time-out meaning: a read returns when
// its buffer is full, when more than ReadIntervalTimeout passes between two
// bytes, or when ReadTotalTimeoutConstant + ReadTotalTimeoutMultiplier per
// byte asked for has passed (an idle read then succeeds with 0 bytes); a
// write gives up after WriteTotalTimeoutConstant + multiplier per byte.
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier both MAXDWORD with a
// constant between 0 and MAXDWORD: a read returns at once with the bytes
// that are there, waits for the first byte when none are, and succeeds with
// 0 bytes after the constant.
// velmo::ReadFileInterruptible is a read that a stop event ends early.
#pragma once

#include "platform/File.h"

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
};

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
constexpr LONG ERROR_OPERATION_ABORTED = 995;
constexpr DWORD MAXDWORD = 0xFFFFFFFF;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

VELMO_PLATFORM_API BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb);
VELMO_PLATFORM_API BOOL SetCommState(HANDLE port, const DCB* dcb);
VELMO_PLATFORM_API BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);

namespace velmo {
// ReadFile on a serial port that also ends, with ERROR_OPERATION_ABORTED,
// when stop (an event) is signalled; the bytes read so far are kept.
VELMO_PLATFORM_API BOOL ReadFileInterruptible(HANDLE port, void* buffer, DWORD size, DWORD* read, HANDLE stop);
// The tty path a "COM<n>:" name resolves to; an absolute path is its own;
// "" for any other name.
VELMO_PLATFORM_API std::string SerialDevicePath(const std::string& name);
// Opens a serial port named "COM<n>:" (as CreateFileW does) or by its
// device path ("/dev/ttyUSB2", "/dev/serial/by-id/usb-...-if00-port0"),
// for reading and writing, exclusively, in raw mode. INVALID_HANDLE_VALUE
// with GetLastError: ERROR_FILE_NOT_FOUND (no such device),
// ERROR_SHARING_VIOLATION (another program holds it), ERROR_ACCESS_DENIED
// (this user may not open it), ERROR_INVALID_FUNCTION (not a tty).
VELMO_PLATFORM_API HANDLE OpenSerialPort(const std::string& name);
}  // namespace velmo
