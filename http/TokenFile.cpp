#include "http/TokenFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <filesystem>

namespace velmo::http {

namespace {

// Equal contents, in a time that depends only on the lengths.
bool SameBytes(std::string_view a, std::string_view b)
{
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return differ == 0;
}

}  // namespace

std::optional<TokenFile> TokenFile::Parse(const std::string& text, std::string& error)
{
    TokenFile file;
    std::stringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        std::stringstream words(line);
        std::string token;
        if (!(words >> token) || token[0] == '#')
            continue;
        if (token.size() < kMinTokenLength) {
            error = "line " + std::to_string(number) + " holds a token of " + std::to_string(token.size()) +
                    " characters: a token has at least " + std::to_string(kMinTokenLength);
            return std::nullopt;
        }
        file.tokens_.push_back(token);
    }
    return file;
}

std::optional<TokenFile> TokenFile::Load(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    std::error_code ec;
    std::filesystem::perms access = std::filesystem::status(path, ec).permissions();
    if (!in || ec) {
        error = path + " cannot be read";
        return std::nullopt;
    }
    using std::filesystem::perms;
    if ((access & (perms::group_all | perms::others_all)) != perms::none) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(access & perms::mask));
        error = path + " may be read by others (mode " + mode + "): make it readable by its owner only (chmod 600)";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto file = Parse(text.str(), error);
    if (!file)
        error = path + ": " + error;
    return file;
}

bool TokenFile::Accepts(std::string_view header) const
{
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size() || header.substr(0, kScheme.size()) != kScheme)
        return false;
    std::string_view given = header.substr(kScheme.size());
    bool accepted = false;
    for (const std::string& token : tokens_)
        accepted |= SameBytes(token, given);
    return accepted;
}

}  // namespace velmo::http
