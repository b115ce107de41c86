#include "server.h"

#include "store.h"
#include "verification.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <future>
#include <mutex>
#include <thread>

const char VerifyPath[] = "/mrv/other/o_getHashByQuorvelOrderRequest";

// httplib listens with the backlog compiled into the library (5): a burst of clients would have
// SYNs dropped and wait a second for the retry. Relisten with a longer queue.
class HttpsServer : public httplib::SSLServer
{
public:
    using httplib::SSLServer::SSLServer;
    bool widenBacklog(int backlog) { return ::listen(svr_sock_, backlog) == 0; }
};

namespace
{

constexpr std::size_t MaxBody = 64 * 1024;
// A refused body up to this size is still read to its end, so that the client gets its 413
// rather than a reset, and the connection stays usable. Beyond it the connection is closed.
constexpr std::size_t DrainLimit = 1024 * 1024;
// However slowly a client sends, one body may not hold a worker longer than this.
constexpr auto BodyDeadline = std::chrono::seconds(30);
constexpr int Backlog = 128;
// How long and how much of a refused body is read and dropped before the connection is closed.
constexpr auto LingerTime = std::chrono::seconds(2);
constexpr std::size_t LingerLimit = 16 * 1024 * 1024;
constexpr time_t KeepAliveSeconds = 2;
constexpr std::size_t KeepAliveRequests = 100;

// What the handlers tell the logger about the request in hand. httplib calls the logger on the
// same worker thread right after writing the response, so a thread-local is enough.
struct RequestNote {
    std::string order;
    std::string outcome;
    bool closeAfter = false; // part of the body is still unread: the connection cannot be reused
    bool linger = false;     // ... and the client may still be sending it
};
thread_local RequestNote t_note;

std::mutex g_logMutex;

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

// Client-controlled text for the log: printable ASCII only, and short.
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

bool isChunked(const httplib::Request &req)
{
    std::string coding = req.get_header_value("Transfer-Encoding");
    std::transform(coding.begin(), coding.end(), coding.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return coding.find("chunked") != std::string::npos;
}

// Whether the request says a body follows; for the methods httplib does not read a body of.
bool announcesBody(const httplib::Request &req)
{
    return req.has_header("Transfer-Encoding") || req.get_header_value<uint64_t>("Content-Length") > 0;
}

void notFound(httplib::Response &res)
{
    res.status = 404;
    res.set_content("not found\n", "text/plain; charset=utf-8");
    t_note.outcome = "not found";
}

void closeAfterAnswer(httplib::Response &res, bool linger)
{
    t_note.closeAfter = true;
    t_note.linger = linger;
    res.set_header("Connection", "close");
}

struct Body {
    enum class State { Complete, TooLarge, Broken };
    State state = State::Complete;
    std::string data;       // the body when Complete
    bool readToEnd = false; // nothing of it is left on the connection
};

Body readBody(const httplib::Request &req, const httplib::ContentReader &reader)
{
    Body body;
    const bool chunked = isChunked(req);
    const bool hasLength = !chunked && req.has_header("Content-Length");
    if (hasLength && req.get_header_value<uint64_t>("Content-Length") > DrainLimit) {
        body.state = Body::State::TooLarge;
        return body;
    }
    // A body without a length ends only when the client closes, after which it cannot read an
    // answer anyway: stop at the limit rather than drain.
    const std::size_t stopAt = (hasLength || chunked) ? DrainLimit : MaxBody;
    const auto deadline = std::chrono::steady_clock::now() + BodyDeadline;
    std::size_t total = 0;
    // httplib's own payload limit looks at Content-Length only; counting here covers chunked
    // bodies and bodies without a length too.
    body.readToEnd = reader([&](const char *data, std::size_t size) {
        total += size;
        if (total > stopAt || std::chrono::steady_clock::now() > deadline)
            return false;
        if (total <= MaxBody)
            body.data.append(data, size);
        return true;
    });
    if (total > MaxBody)
        body.state = Body::State::TooLarge;
    else if (!body.readToEnd)
        body.state = Body::State::Broken;
    return body;
}

void handleWithBody(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader,
                    EvidenceStore &store)
{
    const Body body = readBody(req, reader);
    // A client whose body broke off has gone or stalled: no point waiting for the rest.
    if (!body.readToEnd)
        closeAfterAnswer(res, body.state != Body::State::Broken);
    if (req.method != "POST" || req.path != VerifyPath) {
        notFound(res);
        return;
    }
    switch (body.state) {
    case Body::State::TooLarge:
        res.status = 413;
        res.set_content("request body over 64 KiB\n", "text/plain; charset=utf-8");
        t_note.outcome = "body too large";
        return;
    case Body::State::Broken:
        res.status = 400;
        t_note.outcome = "body incomplete";
        return;
    case Body::State::Complete:
        break;
    }
    VerificationAnswer answer = answerVerification(body.data, store);
    res.status = 200;
    res.set_content(answer.json, "application/json; charset=utf-8");
    t_note.order = std::move(answer.order);
    t_note.outcome = std::move(answer.outcome);
}

// The answer to a request whose body was not read to its end has just been written; what is left
// of that body must never be parsed as the next request. Marking the session as closed by the
// peer makes OpenSSL drop whatever else arrives, so httplib ends the connection at its next read.
// Closing a socket with unread data resets the connection, though, and a client still busy
// sending would likely lose the answer: so when lingering, first say goodbye, then read and drop
// what still comes for a moment.
void closeAfterRefusal(SSL *ssl, bool linger)
{
    SSL_set_shutdown(ssl, SSL_get_shutdown(ssl) | SSL_RECEIVED_SHUTDOWN);
    if (!linger)
        return;
    SSL_shutdown(ssl);
    const int fd = SSL_get_fd(ssl);
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + LingerTime;
    std::size_t dropped = 0;
    char buffer[16384];
    while (dropped < LingerLimit) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        dropped += static_cast<std::size_t>(n);
    }
}

void logRequest(const httplib::Request &req, const httplib::Response &res)
{
    RequestNote note = std::move(t_note);
    t_note = RequestNote();
    if (note.closeAfter && req.ssl)
        closeAfterRefusal(const_cast<SSL *>(req.ssl),
                          note.linger); // httplib hands the session over as const only

    // httplib fills in the peer only once the request line has been read.
    std::string peer = "-";
    if (!req.remote_addr.empty()) {
        const bool v6 = req.remote_addr.find(':') != std::string::npos;
        peer = (v6 ? "[" + req.remote_addr + "]" : req.remote_addr) + ':' + std::to_string(req.remote_port);
    }
    std::string line = timestamp() + ' ' + peer + ' ' +
                       (req.method.empty() ? "-" : printable(req.method, 16)) + ' ' +
                       (req.path.empty() ? "-" : printable(req.path, 100));
    if (!note.order.empty())
        line += " order=" + printable(note.order, 40);
    line += " -> " + std::to_string(res.status);
    if (!note.outcome.empty())
        line += ' ' + note.outcome;
    logLine(line);
}

std::string opensslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        const char *reason = ERR_reason_error_string(code);
        if (!text.empty())
            text += "; ";
        text += reason ? reason : "unknown error";
    }
    return text.empty() ? "unknown error" : text;
}

// Empty when the file can be read, else why not.
std::string unreadable(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::strerror(errno);
    std::fclose(file);
    return {};
}

// httplib does not say why a bind failed: try it once more to learn the reason.
std::string bindProblem(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *result = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &result);
    if (rc != 0)
        return ::gai_strerror(rc);
    std::string problem = "unknown error";
    const int fd = ::socket(result->ai_family, result->ai_socktype, result->ai_protocol);
    if (fd < 0) {
        problem = std::strerror(errno);
    } else {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, result->ai_addr, result->ai_addrlen) != 0)
            problem = std::strerror(errno);
        ::close(fd);
    }
    ::freeaddrinfo(result);
    return problem;
}

sigset_t stopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

std::string hostAndPort(const ServerOptions &options)
{
    const bool v6 = options.host.find(':') != std::string::npos;
    return (v6 ? "[" + options.host + "]" : options.host) + ':' + std::to_string(options.port);
}

} // namespace

void logLine(const std::string &line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

VerificationServer::VerificationServer() = default;
VerificationServer::~VerificationServer() = default;

bool VerificationServer::prepare(const ServerOptions &options, std::string *error)
{
    // Blocked from the start, before any thread exists, so that every thread inherits the mask
    // and only sigwait() in run() takes them: a stop asked for during start-up then ends the
    // server as soon as it runs, never half-way through setting up.
    const sigset_t stopSignals = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    m_options = options;
    for (const auto &file :
         {std::make_pair("certificate", options.certPath), std::make_pair("key", options.keyPath)}) {
        const std::string problem = unreadable(file.second);
        if (!problem.empty()) {
            *error = std::string("cannot read the ") + file.first + ' ' + file.second + ": " + problem;
            return false;
        }
    }

    std::string tlsError;
    ERR_clear_error();
    m_server.reset(new HttpsServer([&](SSL_CTX &ctx) {
        SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
        SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
        // An encrypted key would make OpenSSL ask for a pass phrase on the terminal: refuse it.
        SSL_CTX_set_default_passwd_cb(&ctx, [](char *, int, int, void *) { return 0; });
        if (SSL_CTX_use_certificate_chain_file(&ctx, options.certPath.c_str()) != 1) {
            tlsError = "cannot load the certificate " + options.certPath + ": " + opensslErrors();
            return false;
        }
        // Loading a key checks it against the certificate already loaded.
        const bool keyLoaded =
            SSL_CTX_use_PrivateKey_file(&ctx, options.keyPath.c_str(), SSL_FILETYPE_PEM) == 1;
        const bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
        if (!keyLoaded && !mismatch) {
            tlsError = "cannot load the key " + options.keyPath + ": " + opensslErrors();
            return false;
        }
        if (mismatch || SSL_CTX_check_private_key(&ctx) != 1) {
            tlsError =
                "the key " + options.keyPath + " does not belong to the certificate " + options.certPath;
            return false;
        }
        return true;
    }));
    if (!m_server->is_valid()) {
        *error = tlsError.empty() ? "cannot set up TLS: " + opensslErrors() : tlsError;
        m_server.reset();
        return false;
    }

    const int threads = options.threads;
    m_server->new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<std::size_t>(threads));
    };
    // httplib's default adds SO_REUSEPORT, which would let a second server share the port
    // silently instead of failing to start.
    m_server->set_socket_options([](int fd) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    m_server->set_read_timeout(options.timeout, 0);
    m_server->set_write_timeout(options.timeout, 0);
    m_server->set_keep_alive_timeout(KeepAliveSeconds);
    m_server->set_keep_alive_max_count(KeepAliveRequests);
    m_server->set_payload_max_length(DrainLimit);

    if (!m_server->bind_to_port(options.host, options.port)) {
        *error = "cannot listen on " + hostAndPort(options) + ": " + bindProblem(options.host, options.port);
        m_server.reset();
        return false;
    }
    m_server->widenBacklog(Backlog);
    return true;
}

int VerificationServer::run(EvidenceStore &store)
{
    const httplib::Server::HandlerWithContentReader withBody =
        [&store](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            handleWithBody(req, res, reader, store);
        };
    m_server->Post(".*", withBody).Put(".*", withBody).Patch(".*", withBody).Delete(".*", withBody);
    m_server->set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        t_note = RequestNote();
        if (req.method == "POST" || req.method == "PUT" || req.method == "PATCH" || req.method == "DELETE")
            return httplib::Server::HandlerResponse::Unhandled;
        // Nothing here reads a GET's or a HEAD's body: if there is one, close after answering.
        if (announcesBody(req))
            closeAfterAnswer(res, true);
        notFound(res);
        return httplib::Server::HandlerResponse::Handled;
    });
    m_server->set_expect_100_continue_handler([](const httplib::Request &req, httplib::Response &res) {
        t_note = RequestNote();
        const bool tooLarge = !isChunked(req) && req.get_header_value<uint64_t>("Content-Length") > MaxBody;
        if (req.method == "POST" && req.path == VerifyPath && tooLarge) {
            // Refuse before the client sends the body at all.
            res.status = 413;
            res.set_content("request body over 64 KiB\n", "text/plain; charset=utf-8");
            t_note.outcome = "body too large";
            closeAfterAnswer(res, true);
            return 413;
        }
        return 100;
    });
    m_server->set_post_routing_handler([](const httplib::Request &, httplib::Response &res) {
        // httplib offers keep-alive unless the client asked to close; not after a refusal.
        if (t_note.closeAfter)
            res.headers.erase("Keep-Alive");
    });
    m_server->set_logger(logRequest);

    const sigset_t stopSignals = stopSignalSet();
    // A client that goes away while it is answered must not end the process.
    ::signal(SIGPIPE, SIG_IGN);

    std::promise<void> listened;
    std::future<void> finished = listened.get_future();
    std::atomic<bool> stopping{false};
    const pthread_t mainThread = pthread_self();
    std::thread listener([&] {
        m_server->listen_after_bind();
        listened.set_value();
        if (!stopping)
            pthread_kill(mainThread, SIGTERM); // wake sigwait(): listening ended by itself
    });
    logLine(timestamp() + " listening on https://" + hostAndPort(m_options) + VerifyPath);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    stopping = true;
    const bool failed = finished.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    if (!failed)
        logLine(timestamp() + " stopping on " + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    // stop() does nothing before the listener runs, so wait for that; call it once only, as a
    // second call would close the listening socket twice.
    while (finished.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (m_server->is_running()) {
            m_server->stop();
            break;
        }
    }
    // Workers finish the requests in hand, each bounded by the timeouts.
    listener.join();
    logLine(timestamp() + (failed ? " listening failed" : " stopped"));
    return failed ? 1 : 0;
}
