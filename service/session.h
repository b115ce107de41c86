#ifndef FILEHASH_SERVICE_SESSION_H
#define FILEHASH_SERVICE_SESSION_H

#include "service/httpsserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

class Session;

// What the sessions share with the listener that accepts them. Declared before the listener's
// event loops: sessions still queued in one when it is destroyed reach back to these.
struct SessionHost {
    explicit SessionHost(ServerOptions o) : options(std::move(o)) {}

    ServerOptions options;
    RequestHandler handler;
    DropLog drops;
    std::mutex mutex; // guards `sessions` (and the listener's TLS context)
    std::list<std::weak_ptr<Session>> sessions;
    std::atomic<bool> stopping{false};
};

// Raw bytes held for one connection: a whole header fits, and a chunk-size line of any length
// cannot grow past it.
constexpr std::size_t BufferLimit = 32 * 1024;

// One connection: TLS handshake, then requests one after another (keep-alive), each read
// within the deadline and against the limits.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket &&socket, SessionHost &core, const std::shared_ptr<ssl::context> &tls,
            std::string peer);

    ~Session();

    void setEntry(std::list<std::weak_ptr<Session>>::iterator entry) { m_entry = entry; }

    void start();

    // For a stop, from any thread: a connection being answered finishes, with the whole requests
    // already read behind it (see nextRequest()); one that was answered before closes lingering,
    // so that answers still on their way are not lost to a reset; any other closes at once.
    void stop();

    // When the connection last completed a request (read it whole), or opened.
    long long since() const { return m_since; }
    // Whether the connection may be closed to make room: no whole request of it is in hand.
    bool evictable() const { return m_phase & 1; }

    // Closes the connection if it is still evictable; from any thread. False when it is not, or
    // when another caller already claimed it.
    bool evict();

    // Whether the request being read or the answer being written is past its deadline, and closing
    // it for that; both from any thread.
    bool due() const;
    void expire();

private:
    std::chrono::seconds deadline() const { return std::chrono::seconds(m_core.options.timeout); }

    // The request or answer deadline from now on: the listener's sweep keeps it (see due()), as a
    // stream timer would for every read and write. The handshake and the lingering close, once per
    // connection, keep the stream's timer.
    void setDeadline();
    void clearDeadline() { m_deadline = 0; }

    // A new phase: a whole request in hand (not evictable), or waiting for the next one.
    void setEvictable(bool evictable);

    void handshake();

    // Acknowledges what was just read at once rather than after Linux's delayed-ACK wait: a
    // client that writes a request's header and body apart (Qt does) holds the body back until
    // the header is acknowledged, 40 ms later. The kernel clears it again, so it is set after
    // every read.
    void quickAck();

    void onHandshake(beast::error_code ec);

    // The next request on a kept-alive connection: it gets a deadline of its own, which is also
    // how long the connection may idle.
    void nextRequest();

    void newParser();

    // Feeds the parser what is buffered, reading nothing more; an error, not "need more".
    beast::error_code putBuffered();

    // The next request from what is buffered, reading nothing more: true when it is there whole.
    bool parseBuffered();

    void readHeader();

    static bool isHttpError(const beast::error_code &ec);

    // Whatever went wrong while reading: true when the session goes on with an answer.
    bool readFailed(const beast::error_code &ec, std::size_t received);

    // Whether the server closed the connection or stopped it (see stop()); a stopped one lingers.
    bool stopped();

    // Refuses a request whose framing is not plain: a body comes with Content-Length or with
    // chunked alone (RFC 9112 6.3: anything else cannot be told apart from the next request), and
    // an HTTP/1.1 request names its host once (3.2).
    bool refuseBadFraming();

    void onHeader(beast::error_code ec, std::size_t received);

    void readBody();

    void onBody(beast::error_code ec, std::size_t received);

    // Answers and closes: part of the request may still be on its way.
    void refuse(HttpAnswer answer);

    void respond(HttpAnswer answer, bool keepAlive, bool linger);

    // The line is logged once the answer is written, so that the log counts answers sent.
    void onWrite(beast::error_code ec, std::size_t);

    void lingerThenClose();

    // Reads and drops what the client still sends until it closes, the linger time is up, or
    // LingerLimit is read and the client has acknowledged every byte of the answers: a close with
    // unread input resets the connection, and the reset throws away answers not yet delivered.
    void drain();

    std::shared_ptr<ssl::context> m_tls;
    beast::ssl_stream<beast::tcp_stream> m_stream;
    SessionHost &m_core;
    std::string m_peer;
    beast::flat_buffer m_buffer{BufferLimit};
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<http::response<http::empty_body>> m_continue;
    std::string m_out; // the answer being written, head and body
    bool m_keepAlive = false;
    std::array<char, 16 * 1024> m_drain;
    std::size_t m_drained = 0;
    std::string m_line;    // the log line of the answer being written, without its outcome
    std::string m_outcome; // "200 pass"
    unsigned long m_requests = 0;
    bool m_linger = false;
    bool m_expired = false;               // closed by the sweep: the deadline passed
    std::atomic<long long> m_deadline{0}; // steady clock ticks; 0: none
    bool m_closed = false;                // closed by the server: what follows is no client's doing
    bool m_answering = false;             // a whole request is in hand: a stop lets it finish
    // A count of phases, shifted left, and whether the connection is evictable in this one (bit 0):
    // an eviction claims the phase it saw, and acts only if the connection is still in it.
    std::atomic<unsigned long> m_phase{1};
    std::atomic<long long> m_since;
    std::list<std::weak_ptr<Session>>::iterator m_entry;
};

#endif
