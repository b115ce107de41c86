#ifndef FILEHASH_SERVICE_LOG_H
#define FILEHASH_SERVICE_LOG_H

#include <array>
#include <atomic>
#include <functional>
#include <string>

// Writes one line to stderr (or to the sink set below), whole even when several threads log at once.
void logLine(const std::string &line);

// Where log lines go instead of stderr; an empty function restores stderr. For tests.
void setLogSink(std::function<void(const std::string &)> sink);

// Local time with milliseconds: "2026-12-06 12:34:56.789".
std::string timestamp();

// Client-controlled text for the log: printable ASCII only, at most max characters then "...".
std::string printable(const std::string &text, std::size_t max);

// Why the server dropped a connection without an answer (or with a refusal before closing).
enum class DropCause {
    Deadline,        // the handshake, headers and body did not arrive within the deadline
    HeaderLimit,     // the request header grew past its limit
    ConnectionLimit, // the cap on open connections was reached
    Evicted,         // an idle connection made room for a new one at the cap
    Handshake,       // the TLS handshake failed
    Count
};

// Counts dropped connections per cause so that an attack costs at most one log line per second
// and cause, however many connections it makes. count() may be called from any thread.
class DropLog
{
public:
    void count(DropCause cause);
    // Logs one line per cause counted since the last flush, with the number; the server calls it
    // every second.
    void flush();

private:
    std::array<std::atomic<unsigned long>, static_cast<std::size_t>(DropCause::Count)> m_counts{};
};

#endif
