// The bearer tokens velmo-http accepts, from a file only its user may
// read: one token per line (its first word; the rest of the line, a name
// for people, is ignored), "#" comments and blank lines skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::http {

inline constexpr std::size_t kMinTokenLength = 16;

class TokenFile {
public:
    // The tokens of the file at path. nullopt with the reason in error when
    // it cannot be read, when its group or others have any access to it
    // (as ssh refuses such a key), or when it holds a token shorter than
    // kMinTokenLength. A file with no token is allowed: every request is
    // refused then.
    static std::optional<TokenFile> Load(const std::string& path, std::string& error);
    // The tokens of text, without the file checks (for tests and Load).
    static std::optional<TokenFile> Parse(const std::string& text, std::string& error);

    // Whether header is "Bearer <a token of the file>". The comparison
    // takes the same time wherever a token differs.
    bool Accepts(std::string_view header) const;
    std::size_t Count() const { return tokens_.size(); }

private:
    std::vector<std::string> tokens_;
};

}  // namespace velmo::http
