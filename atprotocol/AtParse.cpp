#include "atprotocol/AtParse.h"

#include <cctype>
#include <iterator>

namespace velmo::at {

namespace {

constexpr std::int32_t kFailed = 0;
constexpr std::int32_t kRetry = 1;
constexpr std::int32_t kOk = 2;
constexpr int kUnknownSignal = 99;

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

// The comma-separated fields after the first ':' of a line, blanks trimmed;
// quoted fields keep their commas.
std::vector<std::string> Fields(std::string_view line)
{
    std::vector<std::string> fields;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return fields;
    std::string current;
    bool quoted = false;
    for (char c : line.substr(colon + 1)) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            fields.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    fields.push_back(current);
    for (std::string& f : fields) {
        while (!f.empty() && (f.front() == ' ' || f.front() == '\t'))
            f.erase(f.begin());
        while (!f.empty() && (f.back() == ' ' || f.back() == '\t'))
            f.pop_back();
    }
    return fields;
}

}  // namespace

int ParseNumber(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return -1;
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

namespace {

int Number(std::string_view text) { return ParseNumber(text, 6); }

std::string Unquoted(std::string text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

}  // namespace

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

namespace {

std::optional<StoredNote> ParseStoredNote(std::string_view line, std::string_view code)
{
    if (!BeginsWith(line, code))
        return std::nullopt;
    std::vector<std::string> parts = Pieces(line.substr(code.size()), " :\",");
    if (parts.size() < 2)
        return std::nullopt;
    for (char& c : parts[0])
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return StoredNote{parts[0], parts[1]};
}

}  // namespace

std::optional<StoredNote> ParseCmti(std::string_view line) { return ParseStoredNote(line, "+CMTI"); }

std::optional<StoredNote> ParseCdsi(std::string_view line) { return ParseStoredNote(line, "+CDSI"); }

int ParseCmgsReference(std::string_view reply)
{
    std::string_view line = LineOf(reply, "+CMGS:");
    if (line.empty())
        return -1;
    std::vector<std::string> parts = Pieces(line.substr(6), " ,");
    int reference = parts.empty() ? -1 : ParseNumber(parts[0], 3);
    return reference <= 255 ? reference : -1;
}

std::vector<std::string> SplitLines(std::string_view text) { return Pieces(text, "\r\n"); }

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
            for (std::size_t i = 0;
                 i < first.size() && std::isdigit(static_cast<unsigned char>(first[i])) && code < 100000; ++i)
                code = code * 10 + (first[i] - '0');
        }
        bool retry = !parts.empty() && (code == 21 || code == 41 || code == 42 || code == 111 || code == 512 ||
                                        code == 513 || code == 515);
        return {true, retry ? kRetry : kFailed, true};
    }
    return {false, kFailed, false};
}

int ErrorCode(std::string_view reply)
{
    if (!BeginsWith(reply, "+CMS ERROR:") && !BeginsWith(reply, "+CME ERROR:"))
        return -1;
    std::vector<std::string> parts = Pieces(reply.substr(11), " \r\n");
    return parts.empty() ? -1 : Number(parts[0]);
}

std::string PduOfCmgr(std::string_view response)
{
    if (!BeginsWith(response, "+CMGR"))
        return {};
    std::vector<std::string> lines = SplitLines(response);
    return lines.size() > 1 ? lines[1] : std::string();
}

std::vector<ListedMessage> ParseCmgl(std::string_view reply)
{
    std::vector<ListedMessage> listed;
    std::vector<std::string> lines = SplitLines(reply);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!BeginsWith(lines[i], "+CMGL:"))
            continue;
        std::vector<std::string> fields = Fields(lines[i]);
        if (fields.empty() || fields[0].empty())
            continue;
        ListedMessage m{fields[0], fields.size() > 1 ? Number(fields[1]) : -1, {}};
        if (i + 1 < lines.size() && !BeginsWith(lines[i + 1], "+CMGL:") && !BeginsWith(lines[i + 1], "OK"))
            m.pdu = lines[++i];
        listed.push_back(std::move(m));
    }
    return listed;
}

int ParseSignal(std::string_view line)
{
    std::vector<std::string> fields = Fields(line);
    int value = fields.empty() ? -1 : Number(fields[0]);
    return value >= 0 && value <= 31 ? value : kUnknownSignal;
}

int ParseRegistration(std::string_view line, bool solicited)
{
    std::vector<std::string> fields = Fields(line);
    // A reply carries the mode first and the status second; a lone number
    // in a reply is the status of a modem that leaves the mode out.
    std::size_t at = solicited && fields.size() > 1 ? 1 : 0;
    if (fields.size() <= at)
        return -1;
    return Number(fields[at]);
}

std::string ParseOperator(std::string_view reply)
{
    for (const std::string& line : SplitLines(reply)) {
        if (!BeginsWith(line, "+COPS:"))
            continue;
        std::vector<std::string> fields = Fields(line);
        if (fields.size() > 2)
            return Unquoted(fields[2]);
    }
    return {};
}

std::string_view LineOf(std::string_view reply, std::string_view prefix)
{
    for (std::size_t start = 0; start < reply.size();) {
        std::size_t end = reply.find_first_of("\r\n", start);
        std::string_view line =
            reply.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (BeginsWith(line, prefix))
            return line;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return {};
}

std::string RegistrationWord(int status)
{
    static const char* const kWords[] = {"none",          "home",    "searching",       "denied",
                                         "unknown",       "roaming", "home (SMS only)", "roaming (SMS only)",
                                         "emergency only"};
    return status >= 0 && status < static_cast<int>(std::size(kWords)) ? kWords[status] : "unknown";
}

std::string ParseSimState(std::string_view reply)
{
    std::vector<std::string> lines = SplitLines(reply);
    for (const std::string& line : lines) {
        if (BeginsWith(line, "+CPIN:")) {
            std::string code = line.substr(6);
            code.erase(0, code.find_first_not_of(' '));
            code.erase(code.find_last_not_of(' ') + 1);
            if (BeginsWith(code, "READY"))
                return "ready";
            if (code.size() == 7 && BeginsWith(code, "SIM PIN"))
                return "PIN";
            if (code.size() == 7 && BeginsWith(code, "SIM PUK"))
                return "PUK";
            return code.empty() ? "unknown" : code.substr(0, 32);
        }
        if (BeginsWith(line, "+CME ERROR:")) {
            switch (ErrorCode(line)) {
            case 10: return "absent";
            case 11: return "PIN";
            case 12: return "PUK";
            case 13: return "failure";
            case 14: return "busy";
            default: break;
            }
            std::string upper;
            for (char c : line)
                upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (upper.find("NOT INSERTED") != std::string::npos)
                return "absent";
        }
    }
    return "unknown";
}

}  // namespace velmo::at
