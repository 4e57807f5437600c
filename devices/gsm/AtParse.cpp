#include "devices/gsm/AtParse.h"

#include <cctype>

namespace velmo::gsm {

namespace {

constexpr std::int32_t kFailed = 0;
constexpr std::int32_t kRetry = 1;
constexpr std::int32_t kOk = 2;

// The pieces of text cut at any of the separators, without empty pieces.
std::vector<std::string> Pieces(std::string_view text, std::string_view separators)
{
    std::vector<std::string> pieces;
    std::string current;
    for (char c : text) {
        if (separators.find(c) != std::string_view::npos) {
            if (!current.empty())
                pieces.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        pieces.push_back(current);
    return pieces;
}

} // namespace

bool BeginsWith(std::string_view text, std::string_view prefix, std::size_t n)
{
    if (n == std::string_view::npos)
        n = prefix.size();
    if (n > prefix.size() || text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::vector<std::string> SplitLines(std::string_view text) { return Pieces(text, "\r\n"); }

SortedDelivery SortDelivery(std::string_view text)
{
    SortedDelivery out;
    std::vector<std::string> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (BeginsWith(line, "+CMTI")) {
            std::vector<std::string> parts = Pieces(std::string_view(line).substr(5), " :\",");
            if (parts.size() >= 2)
                out.notes.push_back({InboundNote::StoredIndex, parts[1]});
        } else if (BeginsWith(line, "+CMT")) {
            if (i + 1 < lines.size())
                out.notes.push_back({InboundNote::DirectPdu, lines[++i]});
        } else if (BeginsWith(line, "+CDS") || BeginsWith(line, "RING") || BeginsWith(line, "+CRING", 5) ||
                   BeginsWith(line, "NO CARRIER") || line[0] == '>') {
            continue;
        } else {
            out.response += line;
            out.response += "\r\n";
        }
    }
    return out;
}

bool EchoAccepted(std::string_view bytes) { return BeginsWith(bytes, "ATE0\r\r\nOK", 8) || BeginsWith(bytes, "\r\nOK"); }

SendOutcome ClassifySendResponse(std::string_view response)
{
    if (BeginsWith(response, "+CMGS"))
        return {true, kOk, false};
    if (BeginsWith(response, "ERROR"))
        return {true, kRetry, false};
    if (BeginsWith(response, "+CMS ERROR") || BeginsWith(response, "+CME ERROR")) {
        std::vector<std::string> parts = Pieces(response.substr(10), " :");
        long code = 0;
        if (!parts.empty()) {
            const std::string& first = parts[0];
            for (std::size_t i = 0; i < first.size() && std::isdigit(static_cast<unsigned char>(first[i])) && code < 100000; ++i)
                code = code * 10 + (first[i] - '0');
        }
        bool retry = !parts.empty() &&
                     (code == 21 || code == 41 || code == 42 || code == 111 || code == 512 || code == 513 || code == 515);
        return {true, retry ? kRetry : kFailed, true};
    }
    return {false, kFailed, false};
}

std::string PduOfCmgr(std::string_view response)
{
    if (!BeginsWith(response, "+CMGR"))
        return {};
    std::vector<std::string> lines = SplitLines(response);
    return lines.size() > 1 ? lines[1] : std::string();
}

} // namespace velmo::gsm
