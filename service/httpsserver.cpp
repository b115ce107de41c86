#include "service/httpsserver.h"

#include "service/tlscontext.h"

#include "core/protocol.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <csignal>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

namespace
{

// Raw bytes held for one connection: a whole header fits, and a chunk-size line of any length
// cannot grow past it.
constexpr std::size_t BufferLimit = 32 * 1024;
// After a refusal the client may still be sending: read and drop this much for this long, so that
// it gets the answer rather than a reset.
constexpr auto LingerTime = std::chrono::seconds(2);
constexpr std::size_t LingerLimit = 1024 * 1024;
constexpr auto TlsShutdownTime = std::chrono::seconds(1);
// How long requests in hand may take to finish once the server is told to stop.
constexpr auto StopGrace = std::chrono::seconds(2);
constexpr auto AcceptRetry = std::chrono::milliseconds(50);

long long nowTicks()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

class Session;

} // namespace

struct HttpsServer::Core {
    explicit Core(ServerOptions o) : options(std::move(o)) {}

    // Declared before the event loop: sessions still queued in it when it is destroyed reach
    // back to these.
    ServerOptions options;
    RequestHandler handler;
    DropLog drops;
    std::mutex mutex;
    std::list<std::weak_ptr<Session>> sessions;
    std::atomic<bool> stopping{false};
    std::shared_ptr<ssl::context> tls; // for new handshakes; each session keeps the one it began with

    // The acceptor, the timers and the signals have a loop of their own, so that nothing a
    // connection does can hold up accepting, refusing at the cap or stopping. Each of the `threads`
    // threads runs an event loop of its own, as nginx runs a worker per processor: connections are
    // dealt to the loops in turn and stay on theirs, so that threads do not contend for one queue.
    // The loops are declared first so that they outlive `ioc`: an accept still pending there
    // holds a socket that belongs to one of them.
    std::vector<std::unique_ptr<net::io_context>> loops;
    std::size_t nextLoop = 0;
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer flushTimer{ioc};
    net::steady_timer stopTimer{ioc};
    std::optional<net::signal_set> signals;
    HttpsServer *owner = nullptr;
    unsigned short port = 0;

    net::io_context &dealLoop();
    void accept();
    void admit(tcp::socket socket);
    void flushLater();
    void stopNow();
    void awaitSignal();
    std::shared_ptr<ssl::context> loadTls(std::string *error) const;
    void waitForSessions(std::chrono::steady_clock::time_point deadline);
};

namespace
{

// One connection: TLS handshake, then requests one after another (keep-alive), each read
// within the deadline and against the limits.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket &&socket, HttpsServer::Core &core, const std::shared_ptr<ssl::context> &tls,
            std::string peer)
        : m_tls(tls)
        , m_stream(std::move(socket), *m_tls)
        , m_core(core)
        , m_peer(std::move(peer))
        , m_since(nowTicks())
    {
    }

    ~Session()
    {
        std::lock_guard<std::mutex> lock(m_core.mutex);
        m_core.sessions.erase(m_entry);
    }

    void setEntry(std::list<std::weak_ptr<Session>>::iterator entry) { m_entry = entry; }

    void start()
    {
        net::dispatch(m_stream.get_executor(), [self = shared_from_this()] {
            // A handshake needs one round trip: it gets less time than a request.
            const int seconds = std::min(self->m_core.options.handshakeTimeout, self->m_core.options.timeout);
            beast::get_lowest_layer(self->m_stream).expires_after(std::chrono::seconds(seconds));
            self->handshake();
        });
    }

    // For a stop, from any thread: a connection being answered finishes, with the whole requests
    // already read behind it (see nextRequest()); one that was answered before closes lingering,
    // so that answers still on their way are not lost to a reset; any other closes at once.
    void stop()
    {
        net::post(m_stream.get_executor(), [self = shared_from_this()] {
            if (self->m_answering || self->m_closed)
                return;
            self->m_closed = true;
            if (self->m_requests == 0)
                beast::get_lowest_layer(self->m_stream).close();
            else
                beast::get_lowest_layer(self->m_stream).cancel(); // the read's handler lingers
        });
    }

    // When the connection last completed a request (read it whole), or opened.
    long long since() const { return m_since; }
    // Whether the connection may be closed to make room: no whole request of it is in hand.
    bool evictable() const { return m_phase & 1; }

    // Closes the connection if it is still evictable; from any thread. False when it is not, or
    // when another caller already claimed it.
    bool evict()
    {
        unsigned long phase = m_phase;
        if (!(phase & 1) || !m_phase.compare_exchange_strong(phase, phase & ~1ul))
            return false;
        net::post(m_stream.get_executor(), [self = shared_from_this(), epoch = phase >> 1] {
            // Unless a whole request came meanwhile: that one is answered.
            if (self->m_phase >> 1 == epoch) {
                self->m_closed = true;
                beast::get_lowest_layer(self->m_stream).close();
            }
        });
        return true;
    }

private:
    std::chrono::seconds deadline() const { return std::chrono::seconds(m_core.options.timeout); }

    // A new phase: a whole request in hand (not evictable), or waiting for the next one.
    void setEvictable(bool evictable)
    {
        if (!evictable)
            m_since = nowTicks();
        unsigned long phase = m_phase;
        while (!m_phase.compare_exchange_weak(phase, (((phase >> 1) + 1) << 1) | (evictable ? 1 : 0))) {
        }
    }

    void handshake()
    {
        m_stream.async_handshake(ssl::stream_base::server,
                                 beast::bind_front_handler(&Session::onHandshake, shared_from_this()));
    }

    // Acknowledges what was just read at once rather than after Linux's delayed-ACK wait: a
    // client that writes a request's header and body apart (Qt does) holds the body back until
    // the header is acknowledged, 40 ms later. The kernel clears it again, so it is set after
    // every read.
    void quickAck()
    {
#ifdef TCP_QUICKACK
        const int on = 1;
        ::setsockopt(beast::get_lowest_layer(m_stream).socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK,
                     &on, sizeof on);
#endif
    }

    void onHandshake(beast::error_code ec)
    {
        quickAck();
        if (ec) {
            if (!m_closed)
                m_core.drops.count(ec == beast::error::timeout ? DropCause::Deadline : DropCause::Handshake);
            return;
        }
        beast::get_lowest_layer(m_stream).expires_after(deadline());
        readHeader();
    }

    // The next request on a kept-alive connection: it gets a deadline of its own, which is also
    // how long the connection may idle.
    void nextRequest()
    {
        m_answering = false;
        setEvictable(true);
        if (m_core.stopping) {
            // Requests already read whole are answered; nothing more is read.
            if (parseBuffered() && !refuseBadFraming())
                onBody({}, 0);
            else
                lingerThenClose();
            return;
        }
        beast::get_lowest_layer(m_stream).expires_after(deadline());
        readHeader();
    }

    void newParser()
    {
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(HeaderLimit));
        m_parser->body_limit(BodyLimit);
    }

    // The next request from what is buffered, reading nothing more: true when it is there whole.
    bool parseBuffered()
    {
        newParser();
        beast::error_code ec;
        while (!ec && !m_parser->is_done() && m_buffer.size() > 0)
            m_buffer.consume(m_parser->put(m_buffer.data(), ec));
        return !ec && m_parser->is_done();
    }

    void readHeader()
    {
        newParser();
        if (m_core.stopping) {
            m_closed = true;
            beast::get_lowest_layer(m_stream).close();
            return;
        }
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                beast::bind_front_handler(&Session::onHeader, shared_from_this()));
    }

    static bool isHttpError(const beast::error_code &ec)
    {
        return ec.category() == beast::error_code(http::error::bad_method).category();
    }

    // Whatever went wrong while reading: true when the session goes on with an answer.
    bool readFailed(const beast::error_code &ec, std::size_t received)
    {
        if (stopped())
            return false;
        if (ec == beast::error::timeout) {
            // Silence after an answer is a kept-alive connection idling out: not an attack.
            if (m_requests == 0 || m_parser->got_some() || m_buffer.size() > 0)
                m_core.drops.count(DropCause::Deadline);
            return false;
        }
        if (ec == http::error::body_limit) {
            refuse(isVerifyPost() ? tooLarge() : notFound());
            return true;
        }
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            m_core.drops.count(DropCause::HeaderLimit);
            refuse({400, "text/plain; charset=utf-8", "request header over 8 KiB\n", {}, "header too large"});
            return true;
        }
        // A client that closes between requests is done; a malformed request gets its 400.
        if (isHttpError(ec) && ec != http::error::end_of_stream && (received > 0 || m_parser->got_some())) {
            refuse({400, "text/plain; charset=utf-8", "bad request\n", {}, "bad request"});
            return true;
        }
        return false;
    }

    bool isVerifyPost() const
    {
        const auto &req = m_parser->get();
        const std::string target(req.target());
        return req.method_string() == "POST" && target.substr(0, target.find('?')) == protocol::VerifyPath;
    }

    // Whether the server closed the connection or stopped it (see stop()); a stopped one lingers.
    bool stopped()
    {
        if (m_closed && beast::get_lowest_layer(m_stream).socket().is_open())
            lingerThenClose();
        return m_closed;
    }

    // Refuses a request whose framing is not plain: a body comes with Content-Length or with
    // chunked alone (RFC 9112 6.3: anything else cannot be told apart from the next request), and
    // an HTTP/1.1 request names its host once (3.2).
    bool refuseBadFraming()
    {
        const auto &req = m_parser->get();
        const auto codings = req.count(http::field::transfer_encoding);
        if (codings > 1 ||
            (codings == 1 && !beast::iequals(req[http::field::transfer_encoding], "chunked"))) {
            refuse({400,
                    "text/plain; charset=utf-8",
                    "Transfer-Encoding other than chunked\n",
                    {},
                    "bad Transfer-Encoding"});
            return true;
        }
        if (req.version() >= 11 && req.count(http::field::host) != 1) {
            refuse({400, "text/plain; charset=utf-8", "no Host, or more than one\n", {}, "bad Host"});
            return true;
        }
        return false;
    }

    void onHeader(beast::error_code ec, std::size_t received)
    {
        quickAck();
        if (!ec && stopped())
            return;
        if (ec) {
            readFailed(ec, received);
            return;
        }
        if (refuseBadFraming())
            return;
        const auto &req = m_parser->get();
        if (beast::iequals(req[http::field::expect], "100-continue")) {
            m_continue.emplace(http::status::continue_, req.version());
            http::async_write(m_stream, *m_continue,
                              [self = shared_from_this()](beast::error_code ec2, std::size_t) {
                                  if (!ec2)
                                      self->readBody();
                              });
            return;
        }
        readBody();
    }

    void readBody()
    {
        http::async_read(m_stream, m_buffer, *m_parser,
                         beast::bind_front_handler(&Session::onBody, shared_from_this()));
    }

    void onBody(beast::error_code ec, std::size_t received)
    {
        quickAck();
        if (ec) {
            readFailed(ec, received);
            return;
        }
        m_answering = true;
        setEvictable(false);
        const auto &req = m_parser->get();
        HttpAnswer answer =
            m_core.handler(std::string(req.method_string()), std::string(req.target()), req.body());
        // Once stopping, the connection is kept only for whole requests already buffered.
        respond(std::move(answer), m_parser->keep_alive() && (!m_core.stopping || m_buffer.size() > 0),
                false);
    }

    // Answers and closes: part of the request may still be on its way.
    void refuse(HttpAnswer answer)
    {
        m_answering = true;
        setEvictable(false);
        respond(std::move(answer), false, true);
    }

    void respond(HttpAnswer answer, bool keepAlive, bool linger)
    {
        const auto &req = m_parser->get();
        const std::string method(req.method_string());
        const std::string target(req.target());
        std::string line = timestamp() + ' ' + m_peer + ' ' + (method.empty() ? "-" : printable(method, 16)) +
                           ' ' + (target.empty() ? "-" : printable(target.substr(0, target.find('?')), 100));
        if (!answer.order.empty())
            line += " order=" + printable(answer.order, 40);
        m_line = std::move(line);
        m_outcome = std::to_string(answer.status);
        if (!answer.outcome.empty())
            m_outcome += ' ' + answer.outcome;

        m_response.emplace(static_cast<http::status>(answer.status), req.version() ? req.version() : 11);
        m_response->set(http::field::content_type, answer.contentType);
        m_response->body() = std::move(answer.body);
        m_response->keep_alive(keepAlive);
        m_response->prepare_payload();
        m_linger = linger;
        ++m_requests;
        // A client that does not read its answer is bounded like one that does not send.
        beast::get_lowest_layer(m_stream).expires_after(deadline());
        http::async_write(m_stream, *m_response,
                          beast::bind_front_handler(&Session::onWrite, shared_from_this()));
    }

    // The line is logged once the answer is written, so that the log counts answers sent.
    void onWrite(beast::error_code ec, std::size_t)
    {
        if (ec) {
            logLine(m_line + " answer not sent (" + m_outcome + "): " + ec.message());
            return;
        }
        logLine(m_line + " -> " + m_outcome);
        if (m_linger || (m_core.stopping && !m_response->keep_alive())) {
            lingerThenClose();
        } else if (!m_response->keep_alive()) {
            beast::get_lowest_layer(m_stream).expires_after(TlsShutdownTime);
            m_stream.async_shutdown([self = shared_from_this()](beast::error_code) {
                beast::get_lowest_layer(self->m_stream).close();
            });
        } else {
            nextRequest();
        }
    }

    void lingerThenClose()
    {
        auto &tcpStream = beast::get_lowest_layer(m_stream);
        beast::error_code ignored;
        tcpStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        tcpStream.expires_after(LingerTime);
        drain();
    }

    void drain()
    {
        beast::get_lowest_layer(m_stream).async_read_some(
            net::buffer(m_drain), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                self->m_drained += n;
                if (!ec && self->m_drained < LingerLimit)
                    self->drain();
                else
                    beast::get_lowest_layer(self->m_stream).close();
            });
    }

    std::shared_ptr<ssl::context> m_tls;
    beast::ssl_stream<beast::tcp_stream> m_stream;
    HttpsServer::Core &m_core;
    std::string m_peer;
    beast::flat_buffer m_buffer{BufferLimit};
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::optional<http::response<http::empty_body>> m_continue;
    std::optional<http::response<http::string_body>> m_response;
    std::array<char, 16 * 1024> m_drain;
    std::size_t m_drained = 0;
    std::string m_line;    // the log line of the answer being written, without its outcome
    std::string m_outcome; // "200 pass"
    unsigned long m_requests = 0;
    bool m_linger = false;
    bool m_closed = false;    // closed by the server: what follows is no client's doing
    bool m_answering = false; // a whole request is in hand: a stop lets it finish
    // A count of phases, shifted left, and whether the connection is evictable in this one (bit 0):
    // an eviction claims the phase it saw, and acts only if the connection is still in it.
    std::atomic<unsigned long> m_phase{1};
    std::atomic<long long> m_since;
    std::list<std::weak_ptr<Session>>::iterator m_entry;
};

std::string peerText(const tcp::socket &socket)
{
    beast::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return "-";
    const std::string address = peer.address().to_string();
    return (peer.address().is_v6() ? "[" + address + "]" : address) + ':' + std::to_string(peer.port());
}

std::string hostAndPort(const std::string &host, unsigned short port)
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ':' + std::to_string(port);
}

} // namespace

net::io_context &HttpsServer::Core::dealLoop()
{
    nextLoop = (nextLoop + 1) % loops.size();
    return *loops[nextLoop];
}

void HttpsServer::Core::accept()
{
    acceptor.async_accept(dealLoop(), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors, most likely: try again shortly rather than spin.
            auto retry = std::make_shared<net::steady_timer>(acceptor.get_executor(), AcceptRetry);
            retry->async_wait([this, retry](beast::error_code) {
                if (!stopping)
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpsServer::Core::admit(tcp::socket socket)
{
    beast::error_code ignored;
    // Answers are small and written whole: sending them at once beats waiting for an ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    std::string peer = peerText(socket);
    std::shared_ptr<ssl::context> context;
    {
        std::lock_guard<std::mutex> lock(mutex);
        context = tls;
    }
    auto session = std::make_shared<Session>(std::move(socket), *this, context, std::move(peer));
    // Sessions are looked at outside the lock: the last reference to one may go here, and its
    // destructor takes the lock.
    std::vector<std::shared_ptr<Session>> open;
    bool full;
    {
        std::lock_guard<std::mutex> lock(mutex);
        full = sessions.size() >= static_cast<std::size_t>(options.maxConnections);
        if (full)
            for (const auto &weak : sessions)
                if (auto s = weak.lock())
                    open.push_back(std::move(s));
        session->setEntry(sessions.insert(sessions.end(), session));
    }
    if (full) {
        // At the cap, the connection that has gone longest without completing a request makes
        // room, whether it idles after an answer, stalls in its handshake or dribbles its header:
        // a real client's handshake takes milliseconds, so a flood of slow connections cannot keep
        // it out. Only if all are being answered is the new one turned away (closed as the
        // session goes).
        std::shared_ptr<Session> oldest;
        for (const auto &s : open)
            if (s->evictable() && (!oldest || s->since() < oldest->since()))
                oldest = s;
        if (!oldest || !oldest->evict()) {
            drops.count(DropCause::ConnectionLimit);
            return;
        }
        drops.count(DropCause::Evicted);
    }
    session->start();
}

void HttpsServer::Core::flushLater()
{
    flushTimer.expires_after(std::chrono::seconds(1));
    flushTimer.async_wait([this](beast::error_code ec) {
        drops.flush();
        if (!ec && !stopping)
            flushLater();
    });
}

void HttpsServer::Core::stopNow()
{
    if (stopping.exchange(true))
        return;
    beast::error_code ignored;
    acceptor.close(ignored);
    if (signals)
        signals->cancel(ignored);
    flushTimer.cancel();
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto &weak : sessions)
            if (auto s = weak.lock())
                open.push_back(std::move(s));
    }
    for (const auto &s : open)
        s->stop();
    waitForSessions(std::chrono::steady_clock::now() + StopGrace);
}

void HttpsServer::Core::waitForSessions(std::chrono::steady_clock::time_point deadline)
{
    bool none;
    {
        std::lock_guard<std::mutex> lock(mutex);
        none = sessions.empty();
    }
    if (none || std::chrono::steady_clock::now() >= deadline) {
        drops.flush();
        ioc.stop();
        return;
    }
    stopTimer.expires_after(std::chrono::milliseconds(20));
    stopTimer.async_wait([this, deadline](beast::error_code) { waitForSessions(deadline); });
}

HttpsServer::HttpsServer(ServerOptions options) : m_core(std::make_shared<Core>(std::move(options))) {}

HttpsServer::~HttpsServer() = default;

bool HttpsServer::open(std::string *error)
{
    Core &core = *m_core;
    core.tls = core.loadTls(error);
    if (!core.tls)
        return false;

    const std::string where = hostAndPort(core.options.host, static_cast<unsigned short>(core.options.port));
    beast::error_code ec;
    tcp::resolver resolver(core.ioc);
    const auto results = resolver.resolve(core.options.host, std::to_string(core.options.port),
                                          tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || results.empty()) {
        *error = "cannot listen on " + where + ": " + (ec ? ec.message() : std::string("no address"));
        return false;
    }
    const tcp::endpoint endpoint = results.begin()->endpoint();
    core.acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        core.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        core.acceptor.bind(endpoint, ec);
    if (!ec)
        core.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot listen on " + where + ": " + ec.message();
        beast::error_code ignored;
        core.acceptor.close(ignored);
        return false;
    }
    // Connections are handed over only once the client has spoken (its TLS greeting), within the
    // deadline: a flood of connections that say nothing stays in the kernel instead of pushing real
    // clients out of the cap before their greeting is read.
    const int deferSeconds = core.options.timeout;
    ::setsockopt(core.acceptor.native_handle(), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds,
                 sizeof deferSeconds);
    core.port = core.acceptor.local_endpoint().port();
    return true;
}

unsigned short HttpsServer::port() const
{
    return m_core->port;
}

std::shared_ptr<ssl::context> HttpsServer::Core::loadTls(std::string *error) const
{
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    if (!configureServerTls(context->native_handle(), options.certPath, options.keyPath, error))
        return nullptr;
    return context;
}

bool HttpsServer::reload(std::string *error)
{
    Core &core = *m_core;
    std::shared_ptr<ssl::context> context = core.loadTls(error);
    if (!context)
        return false;
    std::lock_guard<std::mutex> lock(core.mutex);
    core.tls.swap(context);
    return true; // the old context goes once the last session that uses it does
}

void HttpsServer::Core::awaitSignal()
{
    signals->async_wait([this](beast::error_code ec, int signal) {
        if (ec)
            return;
        if (signal == SIGHUP) {
            std::string error;
            if (owner->reload(&error))
                logLine(timestamp() + " SIGHUP: certificate and key reloaded");
            else
                logLine(timestamp() +
                        " SIGHUP: reload refused, the certificate and key in use stay: " + error);
            awaitSignal();
            return;
        }
        logLine(timestamp() + " stopping on " + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
        stopNow();
    });
}

void HttpsServer::stopOnSignals()
{
    Core &core = *m_core;
    core.owner = this;
    core.signals.emplace(core.ioc, SIGINT, SIGTERM, SIGHUP);
    core.awaitSignal();
}

void HttpsServer::run(RequestHandler handler)
{
    Core &core = *m_core;
    core.handler = std::move(handler);
    logLine(timestamp() + " listening on https://" + hostAndPort(core.options.host, core.port) +
            protocol::VerifyPath);
    net::post(core.acceptor.get_executor(), [&core] {
        if (!core.stopping)
            core.accept();
    });
    core.flushLater();
    std::vector<std::thread> threads;
    std::vector<net::executor_work_guard<net::io_context::executor_type>> idle;
    for (int i = 0; i < core.options.threads; ++i) {
        core.loops.push_back(std::make_unique<net::io_context>(1));
        idle.push_back(net::make_work_guard(*core.loops.back()));
        threads.emplace_back([loop = core.loops.back().get()] { loop->run(); });
    }
    // Returns once every connection is gone or the grace is over; the connections' loops end with it.
    core.ioc.run();
    for (auto &loop : core.loops)
        loop->stop();
    for (std::thread &t : threads)
        t.join();
    logLine(timestamp() + " stopped");
}

void HttpsServer::stop()
{
    Core &core = *m_core;
    net::post(core.acceptor.get_executor(), [&core] { core.stopNow(); });
}

DropLog &HttpsServer::drops()
{
    return m_core->drops;
}
