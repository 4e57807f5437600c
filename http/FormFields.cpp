#include "http/FormFields.h"

#include "platform/Guid.h"

#include <cctype>
#include <sstream>

namespace velmo::http {

namespace {

int Hex(char c) { return HexValue(static_cast<unsigned char>(c)); }

std::string Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<Fields> ParseFields(std::string_view text, std::size_t maxFields)
{
    Fields fields;
    while (!text.empty()) {
        std::size_t amp = text.find('&');
        std::string_view part = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (part.empty())
            continue;
        if (fields.size() == maxFields)
            return std::nullopt;
        std::size_t eq = part.find('=');
        fields.emplace_back(Decode(part.substr(0, eq)),
                            eq == std::string_view::npos ? std::string() : Decode(part.substr(eq + 1)));
    }
    return fields;
}

std::vector<std::string> Recipients(const Fields& fields, std::string_view name)
{
    std::vector<std::string> out;
    for (const auto& [key, all] : fields) {
        if (key != name)
            continue;
        std::stringstream values(all);
        for (std::string v; std::getline(values, v, ',');) {
            auto first = v.find_first_not_of(' ');
            if (first == std::string::npos)
                continue;
            bool plus = first > 0 && std::isdigit(static_cast<unsigned char>(v[first]));
            out.push_back((plus ? "+" : "") + v.substr(first, v.find_last_not_of(' ') - first + 1));
        }
    }
    return out;
}

bool HasField(const Fields& fields, std::string_view name)
{
    for (const auto& field : fields)
        if (field.first == name)
            return true;
    return false;
}

std::string FirstValue(const Fields& fields, std::string_view name)
{
    for (const auto& [key, value] : fields)
        if (key == name)
            return value;
    return {};
}

}  // namespace velmo::http
