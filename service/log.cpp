#include "service/log.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace
{

// Lines waiting for the writer at most, in number and in bytes: a burst fits, a log reader that
// stops reading costs no more than this, and answering never waits for it.
constexpr std::size_t QueueLines = 4096;
constexpr std::size_t QueueBytes = 1 << 20;
constexpr auto GatherTime = std::chrono::milliseconds(10);

// The queue in front of standard error and its one writer thread. Made once and never destroyed: at
// exit the writer may still be stuck in write(), and must find its state intact until the process
// is gone.
struct LogQueue {
    std::mutex mutex;
    std::condition_variable wake;    // the writer: lines are waiting
    std::condition_variable drained; // flushLog(): the writer has written all it was given
    std::function<void(const std::string &)> sink;
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    unsigned long dropped = 0; // lines dropped since the writer last took the queue
    bool writing = false;
    bool started = false;

    void run();
    bool halfFull() const { return lines.size() >= QueueLines / 2 || bytes >= QueueBytes / 2; }
};

LogQueue &queue()
{
    static LogQueue *const q = new LogQueue;
    return *q;
}

// Writes all of text to standard error, or gives up: a reader that went away (EPIPE, SIGPIPE being
// ignored) loses the log, not the service.
void writeAll(const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void LogQueue::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return !lines.empty() || dropped > 0; });
        // A moment to gather what follows: under load, one write for many lines instead of one each.
        wake.wait_for(lock, GatherTime, [this] { return halfFull(); });
        // Lines are dropped only while the queue is full, so those taken here all came before them.
        std::vector<std::string> taken;
        taken.swap(lines);
        const unsigned long lost = dropped;
        bytes = 0;
        dropped = 0;
        writing = true;
        lock.unlock();
        std::string text;
        for (const std::string &line : taken)
            text += line + '\n';
        if (lost > 0)
            text += timestamp() + ' ' + std::to_string(lost) + " log line" + (lost == 1 ? "" : "s") +
                    " dropped\n";
        writeAll(text);
        lock.lock();
        writing = false;
        drained.notify_all();
    }
}

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
        return "closed to make room at the cap";
    case DropCause::Handshake:
        return "TLS handshake failed";
    case DropCause::Count:
        break;
    }
    return "?";
}

} // namespace

void logLine(std::string line)
{
    LogQueue &q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.sink) {
        q.sink(line);
        return;
    }
    if (!q.started) {
        // Signals go to the other threads: the writer only writes.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        std::thread([&q] { q.run(); }).detach();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        q.started = true;
    }
    if (q.lines.size() >= QueueLines || q.bytes + line.size() > QueueBytes) {
        ++q.dropped;
        return;
    }
    const bool wasHalfFull = q.halfFull();
    q.bytes += line.size();
    q.lines.push_back(std::move(line));
    // The writer needs waking only for the first line it waits for, and to cut its gathering short
    // before the queue fills; a wake for every line would cost a system call per request.
    if (q.lines.size() == 1 || (q.halfFull() && !wasHalfFull))
        q.wake.notify_one();
}

void setLogSink(std::function<void(const std::string &)> sink)
{
    LogQueue &q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.sink = std::move(sink);
}

bool flushLog(std::chrono::milliseconds deadline)
{
    LogQueue &q = queue();
    std::unique_lock<std::mutex> lock(q.mutex);
    return q.drained.wait_for(lock, deadline,
                              [&q] { return q.lines.empty() && q.dropped == 0 && !q.writing; });
}

std::string timestamp()
{
    std::string out;
    appendTimestamp(&out);
    return out;
}

void appendTimestamp(std::string *out)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    // The date and time of day change once a second; formatting them (and the time zone lookup
    // behind localtime_r) every line costs more than the rest of the line.
    thread_local std::time_t formattedSecond = -1;
    thread_local char formatted[24];
    thread_local std::size_t formattedSize = 0;
    if (seconds != formattedSecond) {
        std::tm local{};
        localtime_r(&seconds, &local);
        formattedSize = std::strftime(formatted, sizeof formatted, "%Y-%m-%d %H:%M:%S", &local);
        formattedSecond = seconds;
    }
    const char fraction[] = {'.', char('0' + millis / 100), char('0' + millis / 10 % 10),
                             char('0' + millis % 10)};
    out->append(formatted, formattedSize);
    out->append(fraction, sizeof fraction);
}

void appendPrintable(std::string *out, std::string_view text, std::size_t max)
{
    static const char Hex[] = "0123456789abcdef";
    std::size_t written = 0; // of this text, escapes counted whole
    for (const char c : text) {
        if (written >= max) {
            out->append("...");
            return;
        }
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out->push_back(c);
            ++written;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            const char escaped[] = {'\\', 'x', Hex[byte >> 4], Hex[byte & 0xF]};
            out->append(escaped, sizeof escaped);
            written += sizeof escaped;
        }
    }
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
