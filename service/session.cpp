#include "service/session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <charconv>

namespace
{

// After a refusal the client may still be sending: read and drop this much for this long, so that
// it gets the answer rather than a reset.
constexpr auto LingerTime = std::chrono::seconds(2);
// When the server stops, a connection lingers only this long: the process must end within its grace.
constexpr auto StopLingerTime = std::chrono::milliseconds(500);
constexpr std::size_t LingerLimit = 1024 * 1024;
constexpr auto TlsShutdownTime = std::chrono::seconds(1);

long long nowTicks()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

Session::Session(tcp::socket &&socket, SessionHost &core, const std::shared_ptr<ssl::context> &tls,
                 std::string peer)
    : m_tls(tls)
    , m_stream(std::move(socket), *m_tls)
    , m_core(core)
    , m_peer(std::move(peer))
    , m_since(nowTicks())
{
}

Session::~Session()
{
    std::lock_guard<std::mutex> lock(m_core.mutex);
    m_core.sessions.erase(m_entry);
}

void Session::start()
{
    net::dispatch(m_stream.get_executor(), [self = shared_from_this()] {
        // A handshake needs one round trip: it gets less time than a request.
        const int seconds = std::min(self->m_core.options.handshakeTimeout, self->m_core.options.timeout);
        beast::get_lowest_layer(self->m_stream).expires_after(std::chrono::seconds(seconds));
        self->handshake();
    });
}

void Session::stop()
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

bool Session::evict()
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

bool Session::due() const
{
    const long long deadline = m_deadline;
    return deadline != 0 && nowTicks() >= deadline;
}

void Session::expire()
{
    net::post(m_stream.get_executor(), [self = shared_from_this()] {
        // Unless the connection moved on to a new deadline meanwhile.
        if (!self->due())
            return;
        self->clearDeadline();
        self->m_expired = true;
        beast::get_lowest_layer(self->m_stream).close();
    });
}

void Session::setDeadline()
{
    m_deadline = (std::chrono::steady_clock::now() + deadline()).time_since_epoch().count();
}

void Session::setEvictable(bool evictable)
{
    if (!evictable)
        m_since = nowTicks();
    unsigned long phase = m_phase;
    while (!m_phase.compare_exchange_weak(phase, (((phase >> 1) + 1) << 1) | (evictable ? 1 : 0))) {
    }
}

void Session::handshake()
{
    m_stream.async_handshake(ssl::stream_base::server,
                             beast::bind_front_handler(&Session::onHandshake, shared_from_this()));
}

void Session::quickAck()
{
#ifdef TCP_QUICKACK
    const int on = 1;
    ::setsockopt(beast::get_lowest_layer(m_stream).socket().native_handle(), IPPROTO_TCP, TCP_QUICKACK, &on,
                 sizeof on);
#endif
}

void Session::onHandshake(beast::error_code ec)
{
    quickAck();
    if (ec) {
        if (!m_closed)
            m_core.drops.count(ec == beast::error::timeout ? DropCause::Deadline : DropCause::Handshake);
        return;
    }
    beast::get_lowest_layer(m_stream).expires_never();
    setDeadline();
    readHeader();
}

void Session::nextRequest()
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
    setDeadline();
    readHeader();
}

void Session::newParser()
{
    m_parser.emplace();
    m_parser->header_limit(static_cast<std::uint32_t>(HeaderLimit));
    m_parser->body_limit(BodyLimit);
}

beast::error_code Session::putBuffered()
{
    beast::error_code ec;
    while (!ec && !m_parser->is_done() && m_buffer.size() > 0)
        m_buffer.consume(m_parser->put(m_buffer.data(), ec));
    return ec == http::error::need_more ? beast::error_code() : ec;
}

bool Session::parseBuffered()
{
    newParser();
    return !putBuffered() && m_parser->is_done();
}

void Session::readHeader()
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

bool Session::isHttpError(const beast::error_code &ec)
{
    return ec.category() == beast::error_code(http::error::bad_method).category();
}

bool Session::readFailed(const beast::error_code &ec, std::size_t received)
{
    if (stopped())
        return false;
    if (m_expired) {
        // Silence after an answer is a kept-alive connection idling out: not an attack.
        if (m_requests == 0 || m_parser->got_some() || m_buffer.size() > 0)
            m_core.drops.count(DropCause::Deadline);
        return false;
    }
    if (ec == http::error::body_limit) {
        const auto &req = m_parser->get();
        refuse(::isVerifyPost(req.method_string(), req.target()) ? tooLarge() : notFound());
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

bool Session::stopped()
{
    if (m_closed && beast::get_lowest_layer(m_stream).socket().is_open())
        lingerThenClose();
    return m_closed;
}

bool Session::refuseBadFraming()
{
    const auto &req = m_parser->get();
    const auto codings = req.count(http::field::transfer_encoding);
    if (codings > 1 || (codings == 1 && !beast::iequals(req[http::field::transfer_encoding], "chunked"))) {
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

void Session::onHeader(beast::error_code ec, std::size_t received)
{
    // A client that wrote the header apart waits for its ACK before it sends the body. Once the body
    // is in hand the answer carries the ACK: one system call fewer per request.
    std::uint64_t length = 0;
    const auto field = ec ? beast::string_view() : m_parser->get()[http::field::content_length];
    const bool known = !field.empty() &&
                       std::from_chars(field.data(), field.data() + field.size(), length).ec == std::errc();
    if (!known || m_buffer.size() < length)
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
    // Mostly the body came with the header: parsed from the buffer, it saves an asynchronous read
    // that would find it there.
    const beast::error_code bodyError = putBuffered();
    if (bodyError || m_parser->is_done())
        onBody(bodyError, 0);
    else
        readBody();
}

void Session::readBody()
{
    http::async_read(m_stream, m_buffer, *m_parser,
                     beast::bind_front_handler(&Session::onBody, shared_from_this()));
}

void Session::onBody(beast::error_code ec, std::size_t received)
{
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
    respond(std::move(answer), m_parser->keep_alive() && (!m_core.stopping || m_buffer.size() > 0), false);
}

void Session::refuse(HttpAnswer answer)
{
    m_answering = true;
    setEvictable(false);
    respond(std::move(answer), false, true);
}

void Session::respond(HttpAnswer answer, bool keepAlive, bool linger)
{
    const auto &req = m_parser->get();
    const beast::string_view method = req.method_string();
    const beast::string_view target = req.target();
    // Built in place: a line per request is worth no temporaries.
    m_line.clear();
    appendTimestamp(&m_line);
    m_line += ' ';
    m_line += m_peer;
    m_line += ' ';
    if (method.empty())
        m_line += '-';
    else
        appendPrintable(&m_line, {method.data(), method.size()}, 16);
    m_line += ' ';
    if (target.empty())
        m_line += '-';
    else
        appendPrintable(&m_line, pathOf(target), 100);
    if (!answer.order.empty()) {
        m_line += " order=";
        appendPrintable(&m_line, answer.order, 40);
    }
    m_outcome = std::to_string(answer.status);
    if (!answer.outcome.empty()) {
        m_outcome += ' ';
        m_outcome += answer.outcome;
    }

    // The answer is small and whole: written as one buffer, head and body, rather than through
    // Beast's serializer, which costs more than the answer itself.
    const unsigned version = req.version() ? req.version() : 11;
    const auto status = static_cast<http::status>(answer.status);
    m_keepAlive = keepAlive;
    m_out.clear();
    m_out += version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
    m_out += std::to_string(answer.status);
    m_out += ' ';
    const beast::string_view reason = http::obsolete_reason(status);
    m_out.append(reason.data(), reason.size());
    m_out += "\r\nContent-Type: ";
    m_out += answer.contentType;
    m_out += "\r\nContent-Length: ";
    m_out += std::to_string(answer.body.size());
    // HTTP/1.1 keeps a connection unless told; HTTP/1.0 closes it unless told.
    if (version == 10 && keepAlive)
        m_out += "\r\nConnection: keep-alive";
    else if (version != 10 && !keepAlive)
        m_out += "\r\nConnection: close";
    m_out += "\r\n\r\n";
    m_out += answer.body;
    m_linger = linger;
    ++m_requests;
    // A client that does not read its answer is bounded like one that does not send.
    setDeadline();
    net::async_write(m_stream, net::buffer(m_out),
                     beast::bind_front_handler(&Session::onWrite, shared_from_this()));
}

void Session::onWrite(beast::error_code ec, std::size_t)
{
    if (ec) {
        logLine(m_line + " answer not sent (" + m_outcome +
                "): " + (m_expired ? std::string("the client did not take it in time") : ec.message()));
        return;
    }
    m_line += " -> ";
    m_line += m_outcome;
    logLine(std::move(m_line));
    if (m_linger || (m_core.stopping && !m_keepAlive)) {
        lingerThenClose();
    } else if (!m_keepAlive) {
        clearDeadline();
        beast::get_lowest_layer(m_stream).expires_after(TlsShutdownTime);
        m_stream.async_shutdown([self = shared_from_this()](beast::error_code) {
            beast::get_lowest_layer(self->m_stream).close();
        });
    } else {
        nextRequest();
    }
}

void Session::lingerThenClose()
{
    clearDeadline();
    auto &tcpStream = beast::get_lowest_layer(m_stream);
    beast::error_code ignored;
    tcpStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    if (m_core.stopping)
        tcpStream.expires_after(StopLingerTime);
    else
        tcpStream.expires_after(LingerTime);
    drain();
}

void Session::drain()
{
    beast::get_lowest_layer(m_stream).async_read_some(
        net::buffer(m_drain), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
            self->m_drained += n;
            int unacknowledged = 0;
            const int fd = beast::get_lowest_layer(self->m_stream).socket().native_handle();
            if (!ec && (self->m_drained < LingerLimit ||
                        (::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0)))
                self->drain();
            else
                beast::get_lowest_layer(self->m_stream).close();
        });
}
