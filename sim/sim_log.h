#pragma once
// The simulator's log: one JSON object per line, flushed line by line so that
// a test can read it while the simulator runs.
//   {"lead":"!","seq":5,"payload":"0205ff","speed":19200}   a packet received
//   {"event":"violation","what":"..."}                       a broken rule
//   {"event":"fast-wait","purge":true,"speed":38400,"ms":3}  any other event
// Only received packets carry the key "lead".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace sim {

// One JSON value, already rendered.
struct LogValue {
    std::string json;

    LogValue(bool v) : json(v ? "true" : "false") {}
    LogValue(const char* v);
    LogValue(const std::string& v) : LogValue(v.c_str()) {}
    template <typename T, typename = std::enable_if_t<std::is_integral<T>::value>>
    LogValue(T v) : json(std::to_string(v))
    {
    }
    LogValue(const std::vector<int>& v);
};

class SimLog {
public:
    SimLog() = default;
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    bool open(const std::string& path, std::string* error);
    // Every line also goes to standard error.
    void setEcho(bool on) { echo = on; }

    void packet(uint8_t lead, unsigned sequence, const uint8_t* payload, size_t n,
                unsigned speed);
    void event(const char* name,
               std::initializer_list<std::pair<const char*, LogValue>> fields = {});
    // Violations also go to standard error, log or not.
    void violation(const std::string& what);

    static std::string quote(const std::string& text);
    static std::string hex(const uint8_t* data, size_t n);

private:
    void line(const std::string& text);

    std::FILE* file = nullptr;
    bool echo = false;
};

} // namespace sim
