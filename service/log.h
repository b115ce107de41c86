#ifndef FILEHASH_SERVICE_LOG_H
#define FILEHASH_SERVICE_LOG_H

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

// Queues one line for standard error, written whole by a thread of its own, so that a log reader
// that is slow, stopped or gone never holds up the caller. When the queue is full the line is
// dropped, and a later line says how many were.
void logLine(std::string line);

// Where log lines go instead of stderr, at once on the caller's thread; an empty function restores
// stderr. For tests.
void setLogSink(std::function<void(const std::string &)> sink);

// Waits until the lines queued so far are written, or the deadline has passed: false then, and the
// rest is left behind so that a stuck log reader cannot hold up the process's exit.
bool flushLog(std::chrono::milliseconds deadline);

// Local time with milliseconds: "2026-12-06 12:34:56.789".
std::string timestamp();
void appendTimestamp(std::string *out);

// Appends client-controlled text for the log: printable ASCII only, at most max characters then
// "...".
void appendPrintable(std::string *out, std::string_view text, std::size_t max);

// Why the server dropped a connection without an answer (or with a refusal before closing).
enum class DropCause {
    Deadline,        // the handshake, headers and body did not arrive within the deadline
    HeaderLimit,     // the request header grew past its limit
    ConnectionLimit, // the cap on open connections was reached
    Evicted,         // the connection longest without a whole request made room for a new one
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
