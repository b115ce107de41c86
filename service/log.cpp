#include "service/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace
{

std::mutex g_logMutex;
std::function<void(const std::string &)> g_sink;

const char *causeText(DropCause cause)
{
    switch (cause) {
    case DropCause::Deadline:
        return "request deadline passed";
    case DropCause::HeaderLimit:
        return "request header over the limit";
    case DropCause::ConnectionLimit:
        return "connection limit reached";
    case DropCause::Evicted:
        return "idle, closed to make room";
    case DropCause::Handshake:
        return "TLS handshake failed";
    case DropCause::Count:
        break;
    }
    return "?";
}

} // namespace

void logLine(const std::string &line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_sink) {
        g_sink(line);
        return;
    }
    // One write per line: stderr is unbuffered, and a line is logged for every request.
    const std::string whole = line + '\n';
    std::fwrite(whole.data(), 1, whole.size(), stderr);
}

void setLogSink(std::function<void(const std::string &)> sink)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_sink = std::move(sink);
}

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[40];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(buffer + n, sizeof buffer - n, ".%03d", static_cast<int>(millis));
    return buffer;
}

std::string printable(const std::string &text, std::size_t max)
{
    std::string out;
    for (const char c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return out;
}

void DropLog::count(DropCause cause)
{
    ++m_counts[static_cast<std::size_t>(cause)];
}

void DropLog::flush()
{
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        const unsigned long n = m_counts[i].exchange(0);
        if (n > 0)
            logLine(timestamp() + " dropped " + std::to_string(n) + " connection" + (n == 1 ? "" : "s") +
                    ": " + causeText(static_cast<DropCause>(i)));
    }
}
