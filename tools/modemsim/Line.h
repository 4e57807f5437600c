// The simulator's end of the serial line: a pseudo-terminal, optionally
// linked at a fixed path, that can be pulled out and plugged in again as a
// USB modem is. The simulator keeps its own descriptor of the tty's slave
// side open, so a device that closes and reopens the port finds the line as
// it left it; closing the line closes both ends, so the device's reads fail.
#pragma once

#include <string>

namespace modemsim {

class Line {
public:
    explicit Line(std::string link) : link_(std::move(link)) {}
    ~Line() { Close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // A new pseudo-terminal, raw, linked at the link path; false and errno on failure.
    bool Open();
    // Both ends closed and the link removed (nothing happens when closed).
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    // The master side, -1 when closed.
    int fd() const { return master_; }
    const std::string& tty() const { return tty_; }
    // Writes all of text (nothing when closed).
    void Write(const std::string& text);
    // Reads and throws away whatever the device has sent so far.
    void Drain();
    // Discards what was written to the line and not read yet (a modem's
    // output to a port nobody reads is gone).
    void DropUnread();

private:
    std::string link_;
    std::string tty_;
    int master_ = -1;
    int keep_ = -1;
};

}  // namespace modemsim
