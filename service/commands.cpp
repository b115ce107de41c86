#include "service/commands.h"

#include "service/httpsserver.h"
#include "service/store.h"
#include "service/tsaresponder.h"

#include "core/filedigest.h"
#include "core/protocol.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

// Empty when path names a regular file (after links), else why it cannot be preserved.
std::string notRegularFile(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    // A pipe, a device or a socket has no end to digest, or none that stays the same.
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    return {};
}

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

const char Usage[] = "usage:\n"
                     "  filehash-service preserve --db FILE --type CODE --user NAME --location TEXT FILE\n"
                     "      store FILE's SHA-256 and print the new order number\n"
                     "  filehash-service list --db FILE\n"
                     "      print the records: order, type, digest, user, time, location (tab-separated)\n"
                     "  filehash-service serve --db FILE --cert PEM --key PEM [--listen HOST:PORT]\n"
                     "                         [--threads N] [--timeout SECONDS] [--max-connections N]\n"
                     "                         [--handshake-timeout SECONDS]\n"
                     "      answer verification requests over HTTPS until SIGINT or SIGTERM;\n"
                     "      SIGHUP loads the certificate and key again for new connections\n"
                     "      --listen: default 127.0.0.1:8443; port 0 lets the system choose (logged)\n"
                     "      --threads: event loops serving the connections, each on a thread of its\n"
                     "                 own and serving many connections (default: one per processor)\n"
                     "      --timeout: one deadline for a request's headers and body, and the longest\n"
                     "                 idle time between kept-alive requests (default 10)\n"
                     "      --handshake-timeout: the TLS handshake's deadline (default 3)\n"
                     "      --max-connections: open connections at once (default 256); at the cap,\n"
                     "                 the one longest without completing a request makes room\n"
                     "      --tsa-cert PEM --tsa-key PEM: also answer RFC 3161 time-stamp requests on\n"
                     "                 /tsa, signed with this certificate (extended key usage\n"
                     "                 timeStamping, critical) and its key\n";

void complain(const std::string &message)
{
    std::cerr << "filehash-service: " << message << '\n';
}

int usageError(const std::string &message)
{
    complain(message);
    std::cerr << Usage;
    return UsageError;
}

struct Arguments {
    std::map<std::string, std::string> options;
    std::vector<std::string> files;
};

// Reads "--name value" and "--name=value" for the known names; "--" ends the options.
bool parseArguments(const std::vector<std::string> &args, const std::set<std::string> &known,
                    const std::set<std::string> &required, Arguments *out, std::string *error)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            out->files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::string value;
        const std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            *error = "--" + name + " needs a value";
            return false;
        }
        if (!known.count(name)) {
            *error = "unknown option --" + name;
            return false;
        }
        if (!out->options.emplace(name, value).second) {
            *error = "--" + name + " given twice";
            return false;
        }
    }
    for (const std::string &name : required) {
        if (!out->options.count(name)) {
            *error = "missing --" + name;
            return false;
        }
    }
    return true;
}

// A whole decimal number within [min, max], and nothing else (no sign, no spaces).
bool parseNumber(const std::string &text, int min, int max, int *value)
{
    if (text.empty() || text.size() > 9)
        return false;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < min || number > max)
        return false;
    *value = number;
    return true;
}

bool isUtf8(const std::string &text)
{
    return QString::fromStdString(text).toStdString() == text;
}

// Tabs and line breaks in free text would break the one-record-per-line layout.
std::string escaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

int preserve(const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!parseArguments(args, {"db", "type", "user", "location"}, {"db", "type", "user", "location"},
                        &arguments, &error))
        return usageError(error);
    if (arguments.files.size() != 1)
        return usageError("preserve takes exactly one FILE");
    EvidenceRecord record;
    if (!parseNumber(arguments.options["type"], protocol::FirstType, protocol::LastType, &record.type))
        return usageError("bad evidence type \"" + arguments.options["type"] +
                          "\": give a whole number from " + std::to_string(protocol::FirstType) + " to " +
                          std::to_string(protocol::LastType));
    record.user = arguments.options["user"];
    record.location = arguments.options["location"];
    if (record.user.empty() || record.location.empty())
        return usageError("--user and --location must not be empty");
    if (!isUtf8(record.user) || !isUtf8(record.location))
        return usageError("--user and --location must be UTF-8 text");

    // Everything that can be checked is checked before the database is touched.
    const std::string &path = arguments.files.front();
    const QString file = QFile::decodeName(path.c_str());
    const std::string problem = notRegularFile(path);
    if (!problem.empty()) {
        complain(path + ": " + problem);
        return Failure;
    }
    // Regular files only here too: what was checked above may have been replaced since.
    const FileDigest digest = digestFile(file, DigestProgress(), true);
    switch (digest.status) {
    case FileDigest::Status::Ok:
        break;
    case FileDigest::Status::Empty:
        complain(path + ": the file is empty, there is nothing to preserve");
        return Failure;
    case FileDigest::Status::Changed:
        complain(path + ": the file changed while it was read; preserve it once it is complete");
        return Failure;
    case FileDigest::Status::NotRegular:
        complain(path + ": not a regular file");
        return Failure;
    case FileDigest::Status::CannotRead:
    case FileDigest::Status::Cancelled:
        complain(path + ": cannot read the file");
        return Failure;
    }
    record.digest = digest.hex.toStdString();
    record.time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();

    const std::unique_ptr<EvidenceStore> store =
        EvidenceStore::open(arguments.options["db"], EvidenceStore::Mode::Create, &error);
    if (!store || !store->insert(&record, &error)) {
        complain(error);
        return Failure;
    }
    std::cout << record.order << std::endl;
    return Success;
}

int list(const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!parseArguments(args, {"db"}, {"db"}, &arguments, &error))
        return usageError(error);
    if (!arguments.files.empty())
        return usageError("list takes no FILE");
    std::vector<EvidenceRecord> records;
    const std::unique_ptr<EvidenceStore> store =
        EvidenceStore::open(arguments.options["db"], EvidenceStore::Mode::ReadOnly, &error);
    if (!store || !store->list(&records, &error)) {
        complain(error);
        return Failure;
    }
    for (const EvidenceRecord &r : records)
        std::cout << r.order << '\t' << r.type << '\t' << r.digest << '\t' << escaped(r.user) << '\t'
                  << r.time << '\t' << escaped(r.location) << '\n';
    std::cout.flush();
    return std::cout ? Success : Failure;
}

} // namespace

namespace
{

// "HOST:PORT", "[IPv6]:PORT".
bool parseListen(const std::string &text, ServerOptions *options)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        return false;
    options->host = host;
    return parseNumber(text.substr(colon + 1), 0, 65535, &options->port);
}

// Where the demo's time-stamping authority answers.
const char TsaPath[] = "/tsa";

HttpAnswer answerTimeStampRequest(const std::string &body, const TsaResponder &tsa)
{
    std::string reply = tsa.answer(body);
    if (reply.empty())
        return {500, "text/plain; charset=utf-8", "cannot answer\n", {}, "time-stamp failed"};
    return {200, "application/timestamp-reply", std::move(reply), {}, "time-stamp"};
}

int serve(const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    const std::set<std::string> known{
        "db",       "cert",   "key", "listen", "threads", "timeout", "handshake-timeout", "max-connections",
        "tsa-cert", "tsa-key"};
    if (!parseArguments(args, known, {"db", "cert", "key"}, &arguments, &error))
        return usageError(error);
    if (!arguments.files.empty())
        return usageError("serve takes no FILE");
    ServerOptions options;
    options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    options.certPath = arguments.options["cert"];
    options.keyPath = arguments.options["key"];
    if (arguments.options.count("listen") && !parseListen(arguments.options["listen"], &options))
        return usageError("bad --listen \"" + arguments.options["listen"] + "\": give HOST:PORT");
    if (arguments.options.count("threads") &&
        !parseNumber(arguments.options["threads"], 1, 1024, &options.threads))
        return usageError("bad --threads: give a whole number from 1 to 1024");
    if (arguments.options.count("timeout") &&
        !parseNumber(arguments.options["timeout"], 1, 3600, &options.timeout))
        return usageError("bad --timeout: give whole seconds from 1 to 3600");
    if (arguments.options.count("handshake-timeout") &&
        !parseNumber(arguments.options["handshake-timeout"], 1, 3600, &options.handshakeTimeout))
        return usageError("bad --handshake-timeout: give whole seconds from 1 to 3600");
    if (arguments.options.count("max-connections") &&
        !parseNumber(arguments.options["max-connections"], 1, 100000, &options.maxConnections))
        return usageError("bad --max-connections: give a whole number from 1 to 100000");
    if (arguments.options.count("tsa-cert") != arguments.options.count("tsa-key"))
        return usageError("--tsa-cert and --tsa-key go together");
    std::unique_ptr<TsaResponder> tsa;
    if (arguments.options.count("tsa-cert")) {
        tsa = TsaResponder::load(arguments.options["tsa-cert"], arguments.options["tsa-key"], &error);
        if (!tsa) {
            complain(error);
            return Failure;
        }
    }

    // Certificate, key and port first: a server that cannot start leaves the database alone.
    HttpsServer server(options);
    if (!server.open(&error)) {
        complain(error);
        return Failure;
    }
    server.stopOnSignals();
    const std::unique_ptr<EvidenceStore> store =
        EvidenceStore::open(arguments.options["db"], EvidenceStore::Mode::Serve, &error);
    if (!store) {
        complain(error);
        return Failure;
    }
    EvidenceStore &evidence = *store;
    const TsaResponder *stamps = tsa.get();
    server.run(
        [&evidence, stamps](const std::string &method, const std::string &target, const std::string &body) {
            if (stamps && method == "POST" && target == TsaPath)
                return answerTimeStampRequest(body, *stamps);
            return answerRequest(method, target, body, evidence);
        });
    return Success;
}

} // namespace

int runCommand(int argc, char *argv[])
{
    if (argc < 2)
        return usageError("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "preserve")
        return preserve(args);
    if (command == "list")
        return list(args);
    if (command == "serve")
        return serve(args);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << Usage;
        return Success;
    }
    return usageError("unknown command \"" + command + "\"");
}
