#include "service/httpsserver.h"

#include "service/session.h"
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

namespace
{

// How long requests in hand may take to finish once the server is told to stop.
constexpr auto StopGrace = std::chrono::seconds(2);
constexpr auto AcceptRetry = std::chrono::milliseconds(50);
constexpr auto SweepInterval = std::chrono::milliseconds(100);

} // namespace

// The listener: accepting, the cap and eviction, signals, reload and stop. The sessions are in
// session.cpp.
struct HttpsServer::Core : SessionHost {
    explicit Core(ServerOptions o) : SessionHost(std::move(o)) {}

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
    net::steady_timer sweepTimer{ioc};
    net::steady_timer stopTimer{ioc};
    std::optional<net::signal_set> signals;
    HttpsServer *owner = nullptr;
    unsigned short port = 0;

    net::io_context &dealLoop();
    void accept();
    void admit(tcp::socket socket);
    void flushLater();
    void sweepLater();
    void stopNow();
    void awaitSignal();
    std::shared_ptr<ssl::context> loadTls(std::string *error) const;
    void waitForSessions(std::chrono::steady_clock::time_point deadline);
};

namespace
{

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

// Requests and answers past their deadline are closed from here, a tenth of a second late at most:
// a timer per read and write costs a tenth of a request's time.
void HttpsServer::Core::sweepLater()
{
    sweepTimer.expires_after(SweepInterval);
    sweepTimer.async_wait([this](beast::error_code ec) {
        if (ec)
            return;
        std::vector<std::shared_ptr<Session>> due; // released outside the lock their end takes
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto &weak : sessions) {
                auto s = weak.lock();
                if (s && s->due())
                    due.push_back(std::move(s));
            }
        }
        for (const auto &s : due)
            s->expire();
        sweepLater();
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
    core.sweepLater();
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
