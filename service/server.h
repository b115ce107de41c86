#ifndef FILEHASH_SERVICE_SERVER_H
#define FILEHASH_SERVICE_SERVER_H

#include <memory>
#include <string>

class EvidenceStore;
class HttpsServer;

// The request path the tool posts to.
extern const char VerifyPath[];

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8443;
    std::string certPath;
    std::string keyPath;
    int threads = 32; // requests served at once
    int timeout = 5;  // seconds one read or write may wait for the peer
};

// The HTTPS front of the service. prepare() does everything that can fail before the database
// is touched (certificate, key, port); run() then serves until SIGINT or SIGTERM.
class VerificationServer
{
public:
    VerificationServer();
    ~VerificationServer();
    VerificationServer(const VerificationServer &) = delete;
    VerificationServer &operator=(const VerificationServer &) = delete;

    bool prepare(const ServerOptions &options, std::string *error);
    // Returns the process exit code: 0 after a signal, 1 when listening failed.
    int run(EvidenceStore &store);

private:
    ServerOptions m_options;
    std::unique_ptr<HttpsServer> m_server;
};

// Writes one line to stderr, whole even when several threads log at once.
void logLine(const std::string &line);

#endif
