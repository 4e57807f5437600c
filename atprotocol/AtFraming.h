// Framing of what a modem says: bytes in, whole replies, unsolicited lines
// and stray lines out. Pure and single-threaded; the device feeds it under
// its own lock.
//
// Bytes are cut into lines at CR and LF; empty lines vanish. NUL and the
// other control characters except CR and LF are dropped wherever they come,
// and a line keeps at most kMaxLine characters (the rest of an overlong line
// is dropped, the line still counts). While a command is pending (Begin),
// each line is taken in this order:
//   1. the line an unsolicited code announced as its PDU (+CMT and the like);
//   2. the PDU line that follows an information line of the reply (+CMGR);
//   3. the echo of the command line itself: skipped;
//   4. a final result code: it ends the reply (the call-progress codes NO
//      CARRIER, BUSY, NO ANSWER and NO DIALTONE only for a command that
//      awaits them; for any other they are unsolicited: a call that ended);
//   5. an information line the command expects (its prefixes, or any line
//      that is no known unsolicited code for a command that takes any):
//      the reply;
//   6. a known unsolicited result code: handed out as such;
//   7. a ">" line with no prompt awaited: dropped;
//   8. anything else: a stray line.
// Without a pending command only 1, 6, 7 and 8 apply. The "> " prompt, when
// the pending command awaits one, ends that command's reply as soon as it is
// seen, with or without a line end; what follows it on the line is kept. A reply's text keeps each of its lines followed
// by CR LF, the final line included, up to kMaxReply characters.
#pragma once

#include "atprotocol/AtCodes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::at {

// What a pending command may answer besides its final result line.
struct AtExpect {
    std::vector<std::string> prefixes;  // its information lines ("+CSQ:"), compared without regard to case
    bool pduLines = false;              // each information line is followed by a PDU line (+CMGR, +CMGL)
    bool prompt = false;                // the "> " prompt answers it (AT+CMGS)
    bool callProgress = false;          // NO CARRIER, BUSY, NO ANSWER, NO DIALTONE end it (a dial)
    bool anyLine = false;               // any line but a known unsolicited code is its information (AT+CGMI)
    bool quietEnd = false;              // its information may come without a final result (old modems' AT+CPIN?)
};

struct AtReply {
    bool prompt = false;        // ended by the "> " prompt
    Final final = Final::None;  // else ended by this final result code
    bool quiet = false;         // else ended by quiet after its information (AtExpect::quietEnd)
    std::string text;           // the reply's lines, each followed by CR LF
};

struct UnsolicitedLine {
    const UnsolicitedCode* code;  // the table entry; never null
    std::string line;
    std::string pdu;  // for codes with a PDU line: that line, or empty when the next line was no PDU
};

// What one Feed produced, in the order it arrived within each list.
struct FramedOutput {
    std::optional<AtReply> reply;  // the pending command's reply, when it ended
    std::vector<UnsolicitedLine> unsolicited;
    std::vector<std::string> stray;
};

class AtFraming {
public:
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxReply = 256 * 1024;

    // A command is pending from now: echo is the command line as written
    // (its CR and Ctrl-Z are ignored), expect what it may answer. Replaces
    // any command still pending.
    void Begin(std::string_view echo, AtExpect expect);
    // The pending command is given up: its reply is never completed.
    void Abandon();
    bool Pending() const { return pending_; }
    // The pending command awaits a quiet end and its information has come.
    bool QuietEndDue() const { return pending_ && expect_.quietEnd && !reply_.empty(); }
    // Ends the pending command's reply with what came (quiet set); nullopt
    // when no reply is pending.
    std::optional<AtReply> EndQuietly();
    // Takes the next bytes the modem sent.
    FramedOutput Feed(std::string_view bytes);

private:
    void TakeLine(std::string line, FramedOutput& out);
    void EndReply(FramedOutput& out, bool prompt, Final final);
    bool ExpectedInformation(std::string_view line) const;
    void CheckPrompt(FramedOutput& out);

    std::string partial_;
    bool pending_ = false;
    std::string echo_;
    AtExpect expect_;
    std::string reply_;
    bool replyAwaitsPdu_ = false;
    std::optional<UnsolicitedLine> awaitingPdu_;
};

}  // namespace velmo::at
