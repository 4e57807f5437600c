#include "atprotocol/AtFraming.h"

#include <cctype>

namespace velmo::at {

namespace {

bool Control(unsigned char c) { return (c < 0x20 && c != '\r' && c != '\n') || c == 0x7F; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool StartsNoCase(std::string_view line, std::string_view prefix)
{
    if (line.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// The command line as a modem would echo it: without CR, LF and controls.
std::string EchoText(std::string_view command)
{
    std::string out;
    for (char c : command)
        if (c != '\r' && c != '\n' && !Control(static_cast<unsigned char>(c)))
            out += c;
    return std::string(Trim(out));
}

}  // namespace

void AtFraming::Begin(std::string_view echo, AtExpect expect)
{
    pending_ = true;
    echo_ = EchoText(echo);
    expect_ = std::move(expect);
    reply_.clear();
    replyAwaitsPdu_ = false;
}

void AtFraming::Abandon()
{
    pending_ = false;
    reply_.clear();
    replyAwaitsPdu_ = false;
}

FramedOutput AtFraming::Feed(std::string_view bytes)
{
    FramedOutput out;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n') {
            if (!partial_.empty())
                TakeLine(std::move(partial_), out);
            partial_.clear();
            continue;
        }
        if (Control(u))
            continue;
        if (partial_.size() < kMaxLine)
            partial_ += c;
    }
    CheckPrompt(out);
    return out;
}

void AtFraming::CheckPrompt(FramedOutput& out)
{
    if (!pending_ || !expect_.prompt)
        return;
    std::string_view rest = Trim(partial_);
    if (rest.empty() || rest.front() != '>')
        return;
    rest.remove_prefix(1);
    partial_ = std::string(Trim(rest));
    EndReply(out, true, Final::None);
}

bool AtFraming::ExpectedInformation(std::string_view line) const
{
    for (const std::string& prefix : expect_.prefixes)
        if (StartsNoCase(line, prefix))
            return true;
    return false;
}

std::optional<AtReply> AtFraming::EndQuietly()
{
    if (!pending_)
        return std::nullopt;
    AtReply reply;
    reply.quiet = true;
    reply.text = std::move(reply_);
    Abandon();
    return reply;
}

void AtFraming::EndReply(FramedOutput& out, bool prompt, Final final)
{
    AtReply reply;
    reply.prompt = prompt;
    reply.final = final;
    reply.text = std::move(reply_);
    out.reply = std::move(reply);
    Abandon();
}

void AtFraming::TakeLine(std::string line, FramedOutput& out)
{
    if (Trim(line).empty())
        return;
    if (awaitingPdu_) {
        UnsolicitedLine note = std::move(*awaitingPdu_);
        awaitingPdu_.reset();
        if (IsHexLine(line)) {
            note.pdu = std::string(Trim(line));
            out.unsolicited.push_back(std::move(note));
            return;
        }
        out.unsolicited.push_back(std::move(note));  // announced without its PDU; this line is taken on its own
    }
    auto append = [&](std::string_view text) {
        if (reply_.size() + text.size() + 2 <= kMaxReply) {
            reply_ += text;
            reply_ += "\r\n";
        }
    };
    if (pending_) {
        if (expect_.prompt && Trim(line).front() == '>') {
            EndReply(out, true, Final::None);
            return;
        }
        if (replyAwaitsPdu_) {
            replyAwaitsPdu_ = false;
            if (MatchFinal(line) == Final::None) {
                append(line);
                return;
            }
        }
        if (!echo_.empty() && Trim(line) == echo_)
            return;
        Final final = MatchFinal(line);
        bool callProgress =
            final == Final::NoCarrier || final == Final::Busy || final == Final::NoAnswer || final == Final::NoDialtone;
        if (final != Final::None && (!callProgress || expect_.callProgress)) {
            append(line);
            EndReply(out, false, final);
            return;
        }
        if (ExpectedInformation(line) || (expect_.anyLine && !MatchUnsolicited(line))) {
            append(line);
            replyAwaitsPdu_ = expect_.pduLines;
            return;
        }
    }
    if (const UnsolicitedCode* code = MatchUnsolicited(line)) {
        UnsolicitedLine note{code, std::move(line), {}};
        if (code->pduFollows)
            awaitingPdu_ = std::move(note);
        else
            out.unsolicited.push_back(std::move(note));
        return;
    }
    if (Trim(line).front() == '>')
        return;
    out.stray.push_back(std::move(line));
}

}  // namespace velmo::at
