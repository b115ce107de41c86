#include "cli/command.h"

#include "cli/casecsv.h"
#include "cli/verifier.h"
#include "core/receipt.h"
#include "core/texts.h"
#include "core/wholefile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace
{

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int complain(const QString &text, int code)
{
    std::fprintf(stderr, "filehash-verify: %s\n", text.toUtf8().constData());
    return code;
}

#ifdef Q_OS_UNIX
int g_interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}
#endif

// Calls stop() on the first SIGINT, from the event loop.
void stopOnInterrupt(Verifier *verifier)
{
#ifdef Q_OS_UNIX
    if (::pipe(g_interruptPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, verifier);
    QObject::connect(notifier, &QSocketNotifier::activated, verifier, [verifier, notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_interruptPipe[0], &byte, 1);
        notifier->setEnabled(false);
        std::fprintf(stderr, "filehash-verify: interrupted; finishing the file under way\n");
        verifier->stop();
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
#else
    Q_UNUSED(verifier)
#endif
}

// Terminal columns a text takes: CJK and full-width characters take two.
int columns(const QString &text)
{
    int n = 0;
    for (const QChar ch : text)
        n += ch.unicode() >= 0x1100 && (ch.unicode() <= 0x115F || ch.unicode() >= 0x2E80) ? 2 : 1;
    return n;
}

QString padded(const QString &text, int width)
{
    return text + QString(qMax(0, width - columns(text)), QLatin1Char(' '));
}

QString detail(const RowResult &r)
{
    if (r.verdict == RowResult::Verdict::Pass)
        return r.applicant + QStringLiteral("  ") + r.time + QStringLiteral("  ") + r.location;
    return r.message;
}

QJsonObject rowJson(const RowResult &r)
{
    return QJsonObject{{QStringLiteral("line"), r.row.line},
                       {QStringLiteral("type"), r.row.type},
                       {QStringLiteral("order"), r.row.order},
                       {QStringLiteral("path"), r.row.path},
                       {QStringLiteral("size"), r.size},
                       {QStringLiteral("sha256"), r.sha256},
                       {QStringLiteral("verdict"), verdictName(r.verdict).toLower()},
                       {QStringLiteral("exitCode"), exitCode(r.verdict)},
                       {QStringLiteral("applicant"), r.applicant},
                       {QStringLiteral("time"), r.time},
                       {QStringLiteral("location"), r.location},
                       {QStringLiteral("message"), r.message}};
}

void printOne(const RowResult &r, bool json)
{
    if (json) {
        out(QString::fromUtf8(QJsonDocument(rowJson(r)).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        return;
    }
    QString text;
    if (r.verdict == RowResult::Verdict::Pass)
        text = QStringLiteral("pass: ") + gbText(texts::kPassHeading);
    else if (r.verdict == RowResult::Verdict::Fail)
        text = QStringLiteral("FAIL: ") + gbText(texts::kFailHeading);
    else
        text = verdictName(r.verdict) + QStringLiteral(": ") + r.message;
    text += QLatin1Char('\n');
    const auto line = [&text](const char *name, const QString &value) {
        if (!value.isEmpty())
            text += padded(QString::fromLatin1(name), 11) + value + QLatin1Char('\n');
    };
    line("file", r.row.path);
    line("size", r.size >= 0 ? QString::number(r.size) : QString());
    line("sha256", r.sha256);
    line("type", QStringLiteral("%1 %2").arg(r.row.type).arg(gbText(texts::kTypeNames[r.row.type - 1])));
    line("order", r.row.order);
    line("applicant", r.applicant);
    line("time", r.time);
    line("location", r.location);
    out(text);
}

void printTable(const QVector<RowResult> &results)
{
    const QStringList head{QStringLiteral("line"),  QStringLiteral("verdict"), QStringLiteral("type"),
                           QStringLiteral("order"), QStringLiteral("file"),    QStringLiteral("detail")};
    QVector<QStringList> cells{head};
    for (const RowResult &r : results)
        cells << QStringList{QString::number(r.row.line),
                             verdictName(r.verdict),
                             r.row.type ? QString::number(r.row.type) : QString(),
                             r.row.order,
                             QFileInfo(r.row.path).fileName(),
                             detail(r)};
    QVector<int> widths(head.size(), 0);
    for (const QStringList &row : cells) {
        for (int c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths[c], columns(row.at(c)));
    }
    for (const QStringList &row : cells) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? padded(row.at(c), widths.at(c) + 2) : row.at(c);
        out(line.trimmed() + QLatin1Char('\n'));
    }
}

int highest(const QVector<RowResult> &results)
{
    int code = exitcode::kPassed;
    for (const RowResult &r : results)
        code = std::max({code, exitCode(r.verdict), r.receiptNotWritten ? exitcode::kNotWritten : 0});
    return code;
}

void printSummary(const QVector<RowResult> &results, int rows, bool interrupted)
{
    int counts[6] = {};
    for (const RowResult &r : results)
        ++counts[static_cast<int>(r.verdict)];
    QString text = QStringLiteral("\n%1 of %2 rows: %3 passed, %4 failed, %5 refused, %6 network, %7 file, "
                                  "%8 bad rows")
                       .arg(results.size())
                       .arg(rows)
                       .arg(counts[0])
                       .arg(counts[1])
                       .arg(counts[2])
                       .arg(counts[3])
                       .arg(counts[4])
                       .arg(counts[5]);
    if (interrupted)
        text += QStringLiteral("; interrupted");
    out(text + QLatin1Char('\n'));
}

bool writeReport(const QString &path, const QVector<RowResult> &results, QString *error)
{
    QByteArray content;
    if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
        QJsonArray rows;
        for (const RowResult &r : results)
            rows << rowJson(r);
        content = QJsonDocument(rows).toJson(QJsonDocument::Indented);
    } else {
        // With a BOM, so that a spreadsheet reads the Chinese right.
        content = "\xEF\xBB\xBF";
        content += csvLine({QStringLiteral("line"), QStringLiteral("type"), QStringLiteral("order"),
                            QStringLiteral("path"), QStringLiteral("size"), QStringLiteral("sha256"),
                            QStringLiteral("verdict"), QStringLiteral("applicant"), QStringLiteral("time"),
                            QStringLiteral("location"), QStringLiteral("message")})
                       .toUtf8() +
                   "\r\n";
        for (const RowResult &r : results)
            content += csvLine({QString::number(r.row.line), QString::number(r.row.type), r.row.order,
                                r.row.path, r.size >= 0 ? QString::number(r.size) : QString(), r.sha256,
                                verdictName(r.verdict).toLower(), r.applicant, r.time, r.location, r.message})
                           .toUtf8() +
                       "\r\n";
    }
    return writeWholeFiles({{path, content}}, error);
}

int checkReceipt(const QString &receiptPath, const QString &filePath)
{
    QFile file(receiptPath);
    if (!file.open(QIODevice::ReadOnly))
        return complain(receiptPath + QStringLiteral(": ") + file.errorString(), exitcode::kUsage);
    QString why;
    const std::optional<Receipt> receipt = readReceiptJson(file.read(16 * 1024 * 1024), &why);
    if (!receipt)
        return complain(receiptPath + QStringLiteral(" is not a receipt: ") + why, exitcode::kUsage);
    const FileDigest digest = digestFile(filePath);
    if (digest.status != FileDigest::Status::Ok)
        return complain(filePath + QStringLiteral(": cannot be read, is empty or changed while read"),
                        exitcode::kFile);
    if (digest.hex.compare(receipt->sha256, Qt::CaseInsensitive) == 0) {
        out(QStringLiteral("same: %1 has the SHA-256 the receipt names (order %2, %3 on %4)\n")
                .arg(filePath, receipt->order,
                     receipt->pass ? QStringLiteral("pass") : QStringLiteral("FAIL"),
                     localTimeText(receipt->answeredAt)));
        return exitcode::kPassed;
    }
    out(QStringLiteral("DIFFERENT: %1\n  receipt: %2\n  file:    %3\n")
            .arg(filePath, receipt->sha256, digest.hex));
    return exitcode::kFailed;
}

const char kDescription[] =
    "Verifies preserved evidence files with the verification service.\n\n"
    "  filehash-verify --type N --order ORDER FILE [--json]\n"
    "  filehash-verify --batch CASE.csv [--report OUT.csv|OUT.json]\n"
    "  filehash-verify --check-receipt RECEIPT.json FILE\n\n"
    "A case file is UTF-8 CSV with the header type,order,path; paths are relative to its folder.\n"
    "Exit codes: 0 all passed, 1 a file differs, 2 the service refused, 3 network, TLS or\n"
    "time-out, 4 a file could not be read, 64 usage, 74 a report or a receipt could not be written\n"
    "whole, 130 interrupted; a batch exits with the highest.";

} // namespace

bool wantsReceipts(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--receipts") == 0 || std::strncmp(argv[i], "--receipts=", 11) == 0)
            return true;
    }
    return false;
}

int runVerifyCommand(const ServiceConfig &builtIn)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption type(QStringLiteral("type"), QStringLiteral("Evidence type, 1-18."),
                                  QStringLiteral("N"));
    const QCommandLineOption order(QStringLiteral("order"), QStringLiteral("Order number."),
                                   QStringLiteral("ORDER"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object."));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Verify every row of a case file."),
                                   QStringLiteral("CASE.csv"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write a row per file to a .csv or .json file."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption receipts(QStringLiteral("receipts"),
                                      QStringLiteral("Write a receipt (PDF and JSON) for every verdict."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption check(QStringLiteral("check-receipt"),
                                   QStringLiteral("Does FILE still have the digest the receipt names?"),
                                   QStringLiteral("RECEIPT.json"));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("Service base URL (HTTPS) instead of the built-in one."),
                                     QStringLiteral("URL"));
    const QCommandLineOption ca(
        QStringLiteral("ca"),
        QStringLiteral("PEM file of CA certificates to trust instead of the built-in ones."),
        QStringLiteral("FILE"));
    parser.addOptions({type, order, json, batch, report, receipts, check, service, ca});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The evidence file."));

    if (!parser.parse(QCoreApplication::arguments()))
        return complain(parser.errorText(), exitcode::kUsage);
    if (parser.isSet(help)) {
        out(parser.helpText());
        return exitcode::kPassed;
    }
    if (parser.isSet(version)) {
        out(QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion() +
            QLatin1Char('\n'));
        return exitcode::kPassed;
    }
    const QStringList files = parser.positionalArguments();
    const bool single = parser.isSet(type) || parser.isSet(order);
    const int modes = int(single) + int(parser.isSet(batch)) + int(parser.isSet(check));
    if (modes != 1)
        return complain(
            QStringLiteral("give one of --type/--order FILE, --batch CASE.csv or --check-receipt; "
                           "see --help"),
            exitcode::kUsage);

    if (parser.isSet(check)) {
        if (files.size() != 1)
            return complain(QStringLiteral("--check-receipt needs one FILE"), exitcode::kUsage);
        return checkReceipt(parser.value(check), files.first());
    }

    QString baseUrl = builtIn.baseUrl;
    if (parser.isSet(service)) {
        const QUrl url(parser.value(service), QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty() ||
            !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
            url.hasFragment())
            return complain(
                QStringLiteral("--service must be an HTTPS origin such as https://verify.example.com"),
                exitcode::kUsage);
        baseUrl = url.toString(QUrl::RemovePath | QUrl::StripTrailingSlash);
    }
    QByteArray caPem = builtIn.caPem;
    if (parser.isSet(ca)) {
        QFile file(parser.value(ca));
        if (!file.open(QIODevice::ReadOnly))
            return complain(parser.value(ca) + QStringLiteral(": ") + file.errorString(), exitcode::kUsage);
        caPem = file.readAll();
        if (caPem.trimmed().isEmpty())
            return complain(parser.value(ca) + QStringLiteral(" holds no certificate"), exitcode::kUsage);
    }
    if (!installServiceCa(caPem))
        return complain(QStringLiteral("the CA certificates hold no usable certificate"), exitcode::kUsage);

    Verifier::Options options;
    options.baseUrl = baseUrl;
    options.progress = ::isatty(2);
    if (parser.isSet(receipts)) {
        options.receiptsDir = parser.value(receipts);
        if (!QFileInfo(options.receiptsDir).isDir() || !QFileInfo(options.receiptsDir).isWritable())
            return complain(options.receiptsDir + QStringLiteral(" is not a folder that can be written"),
                            exitcode::kUsage);
    }

    QVector<CaseRow> rows;
    if (single) {
        if (files.size() != 1 || !parser.isSet(type) || !parser.isSet(order))
            return complain(QStringLiteral("--type N --order ORDER FILE: all three are needed"),
                            exitcode::kUsage);
        // The row is read as a case file's would be, so that both are checked alike.
        const CaseFile one = readCaseFile(
            csvLine({QStringLiteral("type"), QStringLiteral("order"), QStringLiteral("path")}).toUtf8() +
                '\n' + csvLine({parser.value(type), parser.value(order), files.first()}).toUtf8(),
            QDir::currentPath());
        if (!one.error.isEmpty() || !one.rows.first().error.isEmpty())
            return complain(one.error + one.rows.value(0).error, exitcode::kUsage);
        rows = one.rows;
    } else {
        if (!files.isEmpty() || parser.isSet(json))
            return complain(QStringLiteral("--batch takes no FILE and no --json (use --report OUT.json)"),
                            exitcode::kUsage);
        if (parser.isSet(report) &&
            !parser.value(report).endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) &&
            !parser.value(report).endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
            return complain(QStringLiteral("--report names a .csv or a .json file"), exitcode::kUsage);
        QFile file(parser.value(batch));
        if (!file.open(QIODevice::ReadOnly))
            return complain(parser.value(batch) + QStringLiteral(": ") + file.errorString(),
                            exitcode::kUsage);
        const CaseFile cases = readCaseFile(file.readAll(), QFileInfo(parser.value(batch)).absolutePath());
        if (!cases.error.isEmpty())
            return complain(parser.value(batch) + QStringLiteral(": ") + cases.error, exitcode::kUsage);
        rows = cases.rows;
    }

    Verifier verifier(options);
    QObject::connect(&verifier, &Verifier::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    stopOnInterrupt(&verifier);
    verifier.start(rows);
    QCoreApplication::exec();

    const QVector<RowResult> results = verifier.results();
    int code = highest(results);
    if (single) {
        if (!results.isEmpty())
            printOne(results.first(), parser.isSet(json));
    } else {
        printTable(results);
        printSummary(results, rows.size(), verifier.stopped());
        QString error;
        if (parser.isSet(report) && !writeReport(parser.value(report), results, &error))
            code = qMax(code, complain(QStringLiteral("report not saved: ") + error, exitcode::kNotWritten));
    }
    return verifier.stopped() ? exitcode::kInterrupted : code;
}
