#include "sim/sim_log.h"

#include <cerrno>
#include <cstring>

namespace sim {

LogValue::LogValue(const char* v) : json(SimLog::quote(v)) {}

LogValue::LogValue(const std::vector<int>& v) : json("[")
{
    for (size_t i = 0; i < v.size(); ++i)
        json += (i ? "," : "") + std::to_string(v[i]);
    json += "]";
}

SimLog::~SimLog()
{
    if (file)
        std::fclose(file);
}

bool SimLog::open(const std::string& path, std::string* error)
{
    file = std::fopen(path.c_str(), "w");
    if (!file) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string SimLog::quote(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string SimLog::hex(const uint8_t* data, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

void SimLog::line(const std::string& text)
{
    if (file) {
        std::fputs(text.c_str(), file);
        std::fputc('\n', file);
        std::fflush(file);
    }
    if (echo)
        std::fprintf(stderr, "%s\n", text.c_str());
}

void SimLog::packet(uint8_t lead, unsigned sequence, const uint8_t* payload, size_t n,
                    unsigned speed)
{
    line("{\"lead\":" + quote(std::string(1, char(lead))) +
         ",\"seq\":" + std::to_string(sequence) + ",\"payload\":\"" + hex(payload, n) +
         "\",\"speed\":" + std::to_string(speed) + "}");
}

void SimLog::event(const char* name,
                   std::initializer_list<std::pair<const char*, LogValue>> fields)
{
    std::string text = "{\"event\":" + quote(name);
    for (const auto& field : fields)
        text += "," + quote(field.first) + ":" + field.second.json;
    line(text + "}");
}

void SimLog::violation(const std::string& what)
{
    event("violation", {{"what", what}});
    if (!echo)
        std::fprintf(stderr, "ferry88sim: violation: %s\n", what.c_str());
}

} // namespace sim
