// The options of velmo's commands: "--name value", "--name=value" or a
// bare "--flag", anywhere among the positional arguments; "--" ends them.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace velmo::cli {

struct CommandOptions {
    std::map<std::string, std::string> values;  // by option name, "--host" say
    std::set<std::string> flags;
    std::vector<std::string> positional;

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::string Value(const std::string& name, const std::string& otherwise = {}) const
    {
        auto it = values.find(name);
        return it == values.end() ? otherwise : it->second;
    }
};

// False with error set for an unknown option, a value option without its
// value, or a flag given a value.
bool ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                  const std::set<std::string>& flagOptions, CommandOptions& out, std::string& error);

// A whole non-negative decimal number up to max; false otherwise.
bool ParseCount(const std::string& text, unsigned long max, unsigned long& value);

}  // namespace velmo::cli
