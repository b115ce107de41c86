#include "cli/command.h"

#include "cli/casecsv.h"
#include "cli/checkreceipt.h"
#include "cli/output.h"
#include "cli/report.h"
#include "cli/verifier.h"
#include "core/texts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
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

// What the command line asks for.
struct Invocation {
    enum class Mode { One, Case, CheckReceipt, Stamp };
    Mode mode = Mode::One;
    QString type;
    QString order;
    QString file;
    QString casePath;
    QString receipt; // --check-receipt, --stamp
    QString report;
    bool json = false;
    bool quiet = false;
    bool status = false;
    Verifier::Options verifier;
    QByteArray caPem;
};

int complain(const QString &text, int code)
{
    output::err(text);
    return code;
}

QString description()
{
    QString text = QStringLiteral(
        "Verifies preserved evidence files with the verification service, one file or a whole case.\n\n"
        "  filehash-verify --type N --order ORDER FILE [--json] [--receipts DIR]\n"
        "  filehash-verify --batch CASE.csv [--report OUT.csv|OUT.json] [--receipts DIR] [--quiet|--status]\n"
        "  filehash-verify --check-receipt RECEIPT.json FILE [--json] [--tsa-ca PEM]\n"
        "  filehash-verify --stamp RECEIPT.json [--tsa URL] [--tsa-ca PEM]\n\n"
        "A case is CSV (UTF-8, or GB18030 as spreadsheets save it) with the header type,order,path\n"
        "(or 类型,订单号,文件); paths are relative to its folder. A case prints a line per row as it is\n"
        "done, then a summary; errors and diagnostics go to standard error.\n"
        "Receipts are stamped by a time-stamping authority (RFC 3161) when one is given or built in;\n"
        "--stamp stamps a receipt saved without one.\n\n"
        "Evidence types (the type is the code or the name):\n");
    for (int code = 1; code <= texts::kTypeCount; ++code)
        text += QStringLiteral("  %1  %2\n").arg(code, 2).arg(gbText(texts::kTypeNames[code - 1]));
    text += QStringLiteral("\nExit codes (a case exits with the highest):\n");
    for (const exitcode::Meaning &m : exitcode::kTable)
        text += QStringLiteral("  %1  %2\n").arg(m.code, 3).arg(QLatin1String(m.text));
    return text;
}

// Parses the command line into invocation; an exit code when the program is done already (help,
// version, a usage error).
std::optional<int> parse(const ServiceConfig &builtIn, Invocation *invocation)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption type(QStringLiteral("type"), QStringLiteral("Evidence type: code 1-18 or name."),
                                  QStringLiteral("N"));
    const QCommandLineOption order(QStringLiteral("order"), QStringLiteral("Order number."),
                                   QStringLiteral("ORDER"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object (one file, "
                                                                         "--check-receipt)."));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Verify every row of a case file."),
                                   QStringLiteral("CASE.csv"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write a row per file to a .csv or .json file."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption receipts(QStringLiteral("receipts"),
                                      QStringLiteral("Write a receipt (PDF and JSON) for every verdict."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Print only the rows that did not pass."));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Print nothing: the exit code tells the outcome."));
    const QCommandLineOption check(QStringLiteral("check-receipt"),
                                   QStringLiteral("Is FILE the file the receipt names, and did it pass?"),
                                   QStringLiteral("RECEIPT.json"));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("Service base URL (HTTPS) instead of the built-in one."),
                                     QStringLiteral("URL"));
    const QCommandLineOption ca(
        QStringLiteral("ca"),
        QStringLiteral("PEM file of CA certificates to trust instead of the built-in ones."),
        QStringLiteral("FILE"));
    const QCommandLineOption stampOption(QStringLiteral("stamp"),
                                         QStringLiteral("Stamp a receipt saved without a time-stamp."),
                                         QStringLiteral("RECEIPT.json"));
    const QCommandLineOption tsa(
        QStringLiteral("tsa"),
        QStringLiteral("Time-stamping authority (HTTP or HTTPS URL) instead of the built-in one."),
        QStringLiteral("URL"));
    const QCommandLineOption tsaCa(
        QStringLiteral("tsa-ca"),
        QStringLiteral("PEM file of the CAs a stamp's signer must chain to instead of "
                       "the built-in ones (or the system's)."),
        QStringLiteral("PEM"));
    parser.addOptions({type, order, json, batch, report, receipts, quiet, status, check, stampOption, service,
                       ca, tsa, tsaCa});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The evidence file."));

    if (!parser.parse(QCoreApplication::arguments()))
        return complain(parser.errorText(), exitcode::kUsage);
    if (parser.isSet(help)) {
        output::out(parser.helpText());
        return exitcode::kPassed;
    }
    if (parser.isSet(version)) {
        output::out(QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return exitcode::kPassed;
    }
    Invocation &in = *invocation;
    const QStringList files = parser.positionalArguments();
    const bool one = parser.isSet(type) || parser.isSet(order);
    if (int(one) + int(parser.isSet(batch)) + int(parser.isSet(check)) + int(parser.isSet(stampOption)) != 1)
        return complain(
            QStringLiteral("give one of --type/--order FILE, --batch CASE.csv, --check-receipt or "
                           "--stamp; see --help"),
            exitcode::kUsage);
    // Who stamps receipts, and whom a stamp's signer must chain to.
    in.verifier.tsaUrl = builtIn.tsaUrl;
    in.verifier.tsaCaPem = builtIn.tsaCaPem;
    if (parser.isSet(tsa)) {
        const QUrl url(parser.value(tsa), QUrl::StrictMode);
        if (!url.isValid() ||
            (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) ||
            url.host().isEmpty())
            return complain(QStringLiteral("--tsa must be an HTTP or HTTPS URL"), exitcode::kUsage);
        in.verifier.tsaUrl = url.toString();
    }
    if (parser.isSet(tsaCa)) {
        QFile file(parser.value(tsaCa));
        if (!file.open(QIODevice::ReadOnly))
            return complain(parser.value(tsaCa) + QStringLiteral(": ") + file.errorString(),
                            exitcode::kUsage);
        in.verifier.tsaCaPem = file.read(1024 * 1024);
        if (!in.verifier.tsaCaPem.contains("-----BEGIN CERTIFICATE-----"))
            return complain(parser.value(tsaCa) + QStringLiteral(" holds no certificate"), exitcode::kUsage);
    }
    in.json = parser.isSet(json);
    in.quiet = parser.isSet(quiet);
    in.status = parser.isSet(status);
    if ((in.quiet || in.status || parser.isSet(report)) && !parser.isSet(batch))
        return complain(QStringLiteral("--quiet, --status and --report are for --batch"), exitcode::kUsage);
    if (parser.isSet(check)) {
        if (files.size() != 1 || parser.isSet(receipts) || parser.isSet(service) || parser.isSet(ca) ||
            parser.isSet(tsa))
            return complain(
                QStringLiteral("--check-receipt RECEIPT.json FILE [--json] [--tsa-ca PEM]: offline, one "
                               "file"),
                exitcode::kUsage);
        in.mode = Invocation::Mode::CheckReceipt;
        in.receipt = parser.value(check);
        in.file = files.first();
        return std::nullopt;
    }
    if (parser.isSet(stampOption)) {
        if (!files.isEmpty() || in.json || parser.isSet(receipts) || parser.isSet(service))
            return complain(QStringLiteral("--stamp RECEIPT.json [--tsa URL] [--tsa-ca PEM]"),
                            exitcode::kUsage);
        if (in.verifier.tsaUrl.isEmpty())
            return complain(QStringLiteral("--stamp needs a time-stamping authority: --tsa URL"),
                            exitcode::kUsage);
        // On: an HTTPS authority is trusted as the service is, --ca included.
        in.mode = Invocation::Mode::Stamp;
        in.receipt = parser.value(stampOption);
    } else if (one) {
        if (files.size() != 1 || !parser.isSet(type) || !parser.isSet(order))
            return complain(QStringLiteral("--type N --order ORDER FILE: all three are needed"),
                            exitcode::kUsage);
        in.mode = Invocation::Mode::One;
        in.type = parser.value(type);
        in.order = parser.value(order);
        in.file = files.first();
    } else {
        if (!files.isEmpty() || in.json)
            return complain(QStringLiteral("--batch takes no FILE and no --json (use --report OUT.json)"),
                            exitcode::kUsage);
        in.report = parser.value(report);
        if (parser.isSet(report) && !in.report.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) &&
            !in.report.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
            return complain(QStringLiteral("--report names a .csv or a .json file"), exitcode::kUsage);
        in.mode = Invocation::Mode::Case;
        in.casePath = parser.value(batch);
    }

    in.verifier.baseUrl = builtIn.baseUrl;
    if (parser.isSet(service)) {
        const QUrl url(parser.value(service), QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty() ||
            !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
            url.hasFragment())
            return complain(
                QStringLiteral("--service must be an HTTPS origin such as https://verify.example.com"),
                exitcode::kUsage);
        in.verifier.baseUrl = url.toString(QUrl::RemovePath | QUrl::StripTrailingSlash);
    }
    in.caPem = builtIn.caPem;
    if (parser.isSet(ca)) {
        QFile file(parser.value(ca));
        if (!file.open(QIODevice::ReadOnly))
            return complain(parser.value(ca) + QStringLiteral(": ") + file.errorString(), exitcode::kUsage);
        in.caPem = file.read(1024 * 1024);
        if (in.caPem.trimmed().isEmpty())
            return complain(parser.value(ca) + QStringLiteral(" holds no certificate"), exitcode::kUsage);
    }
    if (!installServiceCa(in.caPem))
        return complain(QStringLiteral("the CA certificates hold no usable certificate"), exitcode::kUsage);
    if (parser.isSet(receipts)) {
        in.verifier.receiptsDir = parser.value(receipts);
        const QFileInfo dir(in.verifier.receiptsDir);
        if (!dir.isDir() || !dir.isWritable())
            return complain(in.verifier.receiptsDir + QStringLiteral(" is not a folder that can be written"),
                            exitcode::kUsage);
    }
    return std::nullopt;
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
        output::err(QStringLiteral("interrupted; stopping (Ctrl+C again to quit at once)"));
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

// The rows a verifier hands back, until it has finished.
void run(Verifier &verifier, Verifier::Source source)
{
    QObject::connect(&verifier, &Verifier::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    stopOnInterrupt(&verifier);
    verifier.start(std::move(source));
    QCoreApplication::exec();
}

// The diagnostic a row that could not be verified gets on standard error.
void diagnose(const RowResult &r)
{
    if (r.verdict == RowResult::Verdict::Network || r.verdict == RowResult::Verdict::File ||
        r.verdict == RowResult::Verdict::BadRow)
        output::err(QStringLiteral("%1 (line %2): %3")
                        .arg(terminalText(QDir::toNativeSeparators(r.row.path)))
                        .arg(r.row.line)
                        .arg(terminalText(r.message)));
    if (r.receiptNotWritten || r.unstamped)
        output::err(terminalText(r.row.path) + QStringLiteral(": ") + terminalText(r.message));
}

int verifyOne(const Invocation &in)
{
    const CaseRow row = caseRow(0, in.type, in.order, in.file, QDir::currentPath());
    if (!row.error.isEmpty())
        return complain(row.error, exitcode::kUsage);
    Verifier verifier(in.verifier);
    std::optional<RowResult> result;
    QObject::connect(&verifier, &Verifier::rowDone, [&result](const RowResult &r) { result = r; });
    bool given = false;
    run(verifier, [&]() -> std::optional<CaseRow> {
        return std::exchange(given, true) ? std::nullopt : std::optional(row);
    });
    if (!result)
        return exitcode::kInterrupted;
    const RowResult &r = *result;
    diagnose(r);
    if (in.json) {
        output::out(QString::fromUtf8(QJsonDocument(rowJson(r)).toJson(QJsonDocument::Compact)) +
                    QLatin1Char('\n'));
    } else {
        QString text;
        if (r.verdict == RowResult::Verdict::Pass)
            text = QStringLiteral("pass: ") + gbText(texts::kPassHeading);
        else if (r.verdict == RowResult::Verdict::Fail)
            text = QStringLiteral("FAIL: ") + gbText(texts::kFailHeading);
        else
            text = verdictName(r.verdict) + QStringLiteral(": ") + terminalText(r.message);
        text += QLatin1Char('\n');
        const auto line = [&text](const char *name, const QString &value) {
            if (!value.isEmpty())
                text += QString::fromLatin1(name).leftJustified(11) + terminalText(value) + QLatin1Char('\n');
        };
        line("file", r.row.path);
        line("size", r.size >= 0 ? QString::number(r.size) : QString());
        line("sha256", r.sha256);
        line("type", QStringLiteral("%1 %2").arg(r.row.type).arg(gbText(texts::kTypeNames[r.row.type - 1])));
        line("order", r.row.order);
        line("applicant", r.applicant);
        line("time", r.time);
        line("location", r.location);
        output::out(text);
    }
    int code = exitCode(r.verdict);
    if (r.unstamped)
        code = std::max(code, exitcode::kStamp);
    if (r.receiptNotWritten)
        code = std::max(code, exitcode::kNotWritten);
    if (!output::outWhole())
        code = std::max(code, exitcode::kNotWritten);
    return verifier.stopped() ? exitcode::kInterrupted : code;
}

int verifyCase(const Invocation &in)
{
    CaseReader cases;
    if (!cases.open(in.casePath))
        return complain(terminalText(in.casePath) + QStringLiteral(": ") + cases.error(), exitcode::kUsage);
    if (cases.encoding() != QLatin1String("UTF-8") && !in.status)
        output::err(terminalText(in.casePath) + QStringLiteral(": read as ") + cases.encoding() +
                    QStringLiteral(" text, not UTF-8"));
    std::optional<ReportWriter> report;
    if (!in.report.isEmpty()) {
        report.emplace(in.report);
        if (!report->open())
            return complain(QStringLiteral("report not saved: ") + report->error(), exitcode::kNotWritten);
    }

    Verifier verifier(in.verifier);
    int counts[kVerdictCount] = {};
    int done = 0;
    int code = exitcode::kPassed;
    output::Progress progress(!in.status && ::isatty(2));
    QElapsedTimer clock;
    clock.start();
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        progress.show(done, cases.rowCount(), done * 1000.0 / qMax<qint64>(1, clock.elapsed()),
                      verifier.hashing());
    });
    refresh.start(100);
    if (!in.quiet && !in.status)
        output::out(tableHeader() + QLatin1Char('\n'));
    QObject::connect(&verifier, &Verifier::rowDone, [&](const RowResult &r) {
        ++done;
        ++counts[static_cast<int>(r.verdict)];
        code = std::max(code, exitCode(r.verdict));
        if (r.unstamped)
            code = std::max(code, exitcode::kStamp);
        if (r.receiptNotWritten)
            code = std::max(code, exitcode::kNotWritten);
        progress.clear();
        if (!in.status) {
            diagnose(r);
            if (!in.quiet || r.verdict != RowResult::Verdict::Pass)
                output::out(tableLine(r) + QLatin1Char('\n'));
        }
        if (report)
            report->add(r);
    });
    run(verifier, [&cases] { return cases.next(); });
    refresh.stop();
    progress.clear();

    if (!cases.error().isEmpty()) {
        output::err(terminalText(in.casePath) + QStringLiteral(": ") + cases.error());
        code = std::max(code, exitcode::kUsage);
    }
    if (!in.status) {
        QString summary =
            QStringLiteral("\n%1 of %2 rows: %3 passed, %4 failed, %5 refused, %6 network, %7 file, "
                           "%8 bad rows")
                .arg(done)
                .arg(cases.rowCount())
                .arg(counts[0])
                .arg(counts[1])
                .arg(counts[2])
                .arg(counts[3])
                .arg(counts[4])
                .arg(counts[5]);
        if (counts[6])
            summary += QStringLiteral(", %1 interrupted").arg(counts[6]);
        if (verifier.stopped())
            summary += QStringLiteral("; stopped by Ctrl+C");
        output::out(summary + QLatin1Char('\n'));
    }
    if (report && !report->finish())
        code = std::max(
            code, complain(QStringLiteral("report not saved: ") + report->error(), exitcode::kNotWritten));
    if (!output::outWhole())
        code = std::max(code, complain(QStringLiteral("standard output could not be written whole"),
                                       exitcode::kNotWritten));
    return verifier.stopped() ? exitcode::kInterrupted : code;
}

} // namespace

bool wantsReceipts(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--receipts", "--stamp"}) {
            const size_t n = std::strlen(option);
            if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='))
                return true;
        }
    }
    return false;
}

int runVerifyCommand(const ServiceConfig &builtIn)
{
    Invocation invocation;
    if (const std::optional<int> done = parse(builtIn, &invocation))
        return output::outWhole() ? *done : exitcode::kNotWritten;
    int code = exitcode::kPassed;
    switch (invocation.mode) {
    case Invocation::Mode::One:
        return verifyOne(invocation);
    case Invocation::Mode::Case:
        return verifyCase(invocation);
    case Invocation::Mode::Stamp:
        code = stampReceipt(invocation.receipt, invocation.verifier.tsaUrl, invocation.verifier.tsaCaPem);
        break;
    case Invocation::Mode::CheckReceipt:
        code =
            checkReceipt(invocation.receipt, invocation.file, invocation.json, invocation.verifier.tsaCaPem);
        break;
    }
    return output::outWhole() ? code : std::max(code, exitcode::kNotWritten);
}
