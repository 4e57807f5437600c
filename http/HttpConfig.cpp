#include "http/HttpConfig.h"

#include <charconv>
#include <sstream>

namespace velmo::http {

namespace {

std::string Trim(const std::string& s)
{
    auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool Number(const std::string& text, long low, long high, long& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool Yes(const std::string& v, bool& out)
{
    if (v == "yes" || v == "true" || v == "on" || v == "1")
        out = true;
    else if (v == "no" || v == "false" || v == "off" || v == "0")
        out = false;
    else
        return false;
    return true;
}

std::vector<std::string> List(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!Trim(item).empty())
            items.push_back(Trim(item));
    return items;
}

// A setting that is a whole number within bounds.
struct NumberSetting {
    const char* name;
    long low, high;
    std::size_t HttpConfig::*field;
    const char* unit;  // what the number counts, for the error
};

constexpr NumberSetting kNumbers[] = {
    {"alert_max_length", 20, 40000, &HttpConfig::alertMaxLength, "characters"},
    {"alert_max_recipients", 1, 1000, &HttpConfig::alertMaxRecipients, "recipients"},
    {"alert_max_alerts", 1, 10000, &HttpConfig::alertMaxAlerts, "alerts"},
    {"max_body", 1024, 16 * 1024 * 1024, &HttpConfig::maxBody, "bytes"},
    {"max_header_bytes", 1024, 1024 * 1024, &HttpConfig::maxHeaderBytes, "bytes"},
    {"max_headers", 8, 1000, &HttpConfig::maxHeaders, "header lines"},
    {"header_timeout", 1, 600, &HttpConfig::headerTimeout, "seconds"},
    {"request_timeout", 1, 3600, &HttpConfig::requestTimeout, "seconds"},
    {"max_connections", 1, 65536, &HttpConfig::maxConnections, "connections"},
    {"max_connections_per_client", 1, 65536, &HttpConfig::maxClientConnections, "connections"},
    {"threads", 1, 256, &HttpConfig::threads, "threads"},
};

const NumberSetting* FindNumber(const std::string& name)
{
    for (const NumberSetting& setting : kNumbers)
        if (name == setting.name)
            return &setting;
    return nullptr;
}

}  // namespace

bool ParseListen(const std::string& text, HttpConfig& config)
{
    auto colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon);
    long port = 0;
    if (!Number(text.substr(colon + 1), 1, 65535, port))
        return false;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return false;  // an IPv6 address needs its brackets
    config.address = host.empty() ? "127.0.0.1" : host;
    config.port = static_cast<int>(port);
    return true;
}

std::optional<HttpConfig> ParseHttpConfig(const std::string& text, std::vector<std::string>& errors)
{
    HttpConfig config;
    std::stringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        auto hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        line = Trim(line);
        if (line.empty())
            continue;
        auto at = "line " + std::to_string(number) + ": ";
        auto eq = line.find('=');
        if (eq == std::string::npos) {
            errors.push_back(at + "\"" + line + "\" is not \"name = value\"");
            continue;
        }
        std::string name = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        long n = 0;
        if (name == "listen") {
            if (!ParseListen(value, config))
                errors.push_back(at + "listen is ADDRESS:PORT, [IPV6]:PORT or :PORT, not \"" + value + "\"");
        } else if (name == "tokens") {
            if (value.empty() || value[0] != '/')
                errors.push_back(at + "tokens is the absolute path of the token file");
            config.tokensFile = value;
        } else if (name == "metrics_without_token") {
            if (!Yes(value, config.openMetrics))
                errors.push_back(at + "metrics_without_token is yes or no");
        } else if (name == "alert_recipients") {
            config.alertRecipients = List(value);
        } else if (const NumberSetting* setting = FindNumber(name)) {
            if (Number(value, setting->low, setting->high, n))
                config.*setting->field = static_cast<std::size_t>(n);
            else
                errors.push_back(at + name + " is a number of " + setting->unit + " from " +
                                 std::to_string(setting->low) + " to " + std::to_string(setting->high));
        } else {
            errors.push_back(at + "unknown setting \"" + name + "\"");
        }
    }
    if (config.requestTimeout < config.headerTimeout)
        errors.push_back("request_timeout (" + std::to_string(config.requestTimeout) +
                         " s) is shorter than header_timeout (" + std::to_string(config.headerTimeout) + " s)");
    if (!errors.empty())
        return std::nullopt;
    return config;
}

}  // namespace velmo::http
