#ifndef FILEHASH_SERVICE_HTTPSSERVER_H
#define FILEHASH_SERVICE_HTTPSSERVER_H

#include "service/httpanswer.h"
#include "service/log.h"

#include <functional>
#include <memory>
#include <string>

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8443; // 0: the system chooses; port() tells which
    std::string certPath;
    std::string keyPath;
    int threads = 2;          // event loops serving the connections, each on a thread of its own
    int timeout = 10;         // seconds for the headers and body of a request together, and for the next
                              // request to arrive on a kept-alive connection
    int handshakeTimeout = 3; // seconds for the TLS handshake (at most `timeout`)
    int maxConnections = 256;
};

// Request header (request line and fields together) and body limits.
constexpr std::size_t HeaderLimit = 8 * 1024;
constexpr std::size_t BodyLimit = 64 * 1024;

using RequestHandler =
    std::function<HttpAnswer(const std::string &method, const std::string &target, const std::string &body)>;

// The HTTPS front: TLS 1.2 (ECDHE with AEAD only, the server's order) and TLS 1.3, one deadline per
// request, header and body limits, a cap on open connections, keep-alive. Every client is bounded
// in the memory and time it can take, however slow or hostile.
class HttpsServer
{
public:
    explicit HttpsServer(ServerOptions options);
    ~HttpsServer();
    HttpsServer(const HttpsServer &) = delete;
    HttpsServer &operator=(const HttpsServer &) = delete;

    // Loads the certificate and key and binds the port: everything that can fail before serving.
    bool open(std::string *error);
    unsigned short port() const;
    // SIGINT and SIGTERM stop the server from now on, SIGHUP reloads (call after open()).
    void stopOnSignals();
    // Loads the certificate and key again for new handshakes; connections in hand keep the pair
    // they began with. False, with the pair in use kept, when the new one does not load. Safe from
    // any thread.
    bool reload(std::string *error);
    // Serves with `threads` threads, this one included, until stop(); then returns.
    void run(RequestHandler handler);
    // Stops accepting at once; requests in hand get a moment to finish, then every connection is
    // closed and run() returns, within about two seconds. Safe from any thread.
    void stop();
    DropLog &drops();

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

#endif
