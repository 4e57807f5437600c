#include "tools/velmo/CommandOptions.h"

#include <charconv>

namespace velmo::cli {

bool ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                  const std::set<std::string>& flagOptions, CommandOptions& out, std::string& error)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        auto eq = a.find('=');
        std::string name = a.substr(0, eq);
        if (valueOptions.count(name)) {
            if (eq != std::string::npos) {
                out.values[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.values[name] = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
        } else if (flagOptions.count(name)) {
            if (eq != std::string::npos) {
                error = name + " takes no value";
                return false;
            }
            out.flags.insert(name);
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

bool ParseCount(const std::string& text, unsigned long max, unsigned long& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value <= max;
}

}  // namespace velmo::cli
