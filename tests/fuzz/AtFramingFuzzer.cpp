// libFuzzer entry for the AT reply framing and the reply parsers: any byte
// string is what a modem might send. The first bytes choose the pending
// command (none, a plain command, one with information lines and PDUs, the
// prompt of AT+CMGS) and how the rest is cut into reads. Whatever comes, no
// line outgrows its limit, a reply ends only for a pending command and
// holds no control character, and the parsers read every reply safely.
#include "atprotocol/AtFraming.h"
#include "atprotocol/AtParse.h"

#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool Clean(const std::string& text)
{
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\r' && c != '\n') || u == 0x7F)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmo::at;
    if (size < 2)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const unsigned mode = data[0] % 4;
    const std::size_t chunk = 1 + data[1] % 64;

    AtFraming framing;
    bool pending = mode != 0;
    if (mode == 1)
        framing.Begin("AT+CMGD=1\r", {});
    else if (mode == 2)
        framing.Begin("AT+CMGL=4\r", {{"+CMGL:", "+CMGR:"}, true, false});
    else if (mode == 3)
        framing.Begin("AT+CMGS=20\r", {{}, false, true});

    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        FramedOutput out = framing.Feed(std::string_view(bytes).substr(at, chunk));
        if (out.reply) {
            Check(pending);
            pending = false;
            Check(out.reply->text.size() <= AtFraming::kMaxReply);
            Check(Clean(out.reply->text));
            Check(out.reply->prompt == (mode == 3) || out.reply->final != Final::None);
            for (const ListedMessage& m : ParseCmgl(out.reply->text))
                Check(!m.index.empty());
            (void)PduOfCmgr(out.reply->text);
            (void)ErrorCode(out.reply->text);
            (void)ParseOperator(out.reply->text);
            (void)ClassifySendResponse(out.reply->text);
        }
        for (const UnsolicitedLine& u : out.unsolicited) {
            Check(u.code != nullptr);
            Check(u.line.size() <= AtFraming::kMaxLine && Clean(u.line));
            int signal = ParseSignal(u.line);
            Check(signal >= 0 && (signal <= 31 || signal == 99));
            (void)ParseRegistration(u.line, false);
            (void)ParseCmti(u.line);
        }
        for (const std::string& s : out.stray)
            Check(!s.empty() && s.size() <= AtFraming::kMaxLine && Clean(s));
    }
    return 0;
}
