#include "cli/verifier.h"

#include "core/digestjob.h"
#include "core/hashquery.h"
#include "core/receipt.h"
#include "core/texts.h"
#include "report/receiptpdf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

namespace
{

const char kTimedOut[] = "filehash_timedOut";

QString fileProblem(FileDigest::Status status)
{
    switch (status) {
    case FileDigest::Status::Empty:
        return QStringLiteral("the file is empty");
    case FileDigest::Status::Changed:
        return QStringLiteral("the file changed while it was read");
    case FileDigest::Status::Cancelled:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("the file cannot be read");
    }
}

} // namespace

int exitCode(RowResult::Verdict verdict)
{
    switch (verdict) {
    case RowResult::Verdict::Pass:
        return 0;
    case RowResult::Verdict::Fail:
        return 1;
    case RowResult::Verdict::Refused:
        return 2;
    case RowResult::Verdict::Network:
        return 3;
    case RowResult::Verdict::File:
        return 4;
    case RowResult::Verdict::BadRow:
        break;
    }
    return 64;
}

QString verdictName(RowResult::Verdict verdict)
{
    const char *names[] = {"pass", "FAIL", "refused", "network", "file", "bad-row"};
    return QString::fromLatin1(names[static_cast<int>(verdict)]);
}

Verifier::Verifier(const Options &options, QObject *parent) : QObject(parent), m_options(options)
{
    for (int i = 0; i < qMax(1, (options.connections + 5) / 6); ++i) {
        auto *network = new QNetworkAccessManager(this);
        connect(network, &QNetworkAccessManager::finished, this, &Verifier::answered);
        m_networks << network;
    }
}

Verifier::~Verifier()
{
    delete m_job;
}

void Verifier::start(const QVector<CaseRow> &rows)
{
    m_rows = rows;
    m_results = QVector<std::optional<RowResult>>(rows.size());
    m_modified = QVector<QDateTime>(rows.size());
    next();
}

void Verifier::stop()
{
    m_stopping = true;
    next();
}

QVector<RowResult> Verifier::results() const
{
    QVector<RowResult> done;
    for (const auto &result : m_results) {
        if (result)
            done << *result;
    }
    return done;
}

void Verifier::next()
{
    while (!m_job && !m_stopping && m_next < m_rows.size() && m_pending.size() < m_options.maxInFlight) {
        const int index = m_next++;
        const CaseRow &row = m_rows.at(index);
        RowResult result;
        result.row = row;
        const QFileInfo info(row.path);
        if (!row.error.isEmpty()) {
            result.message = row.error;
        } else if (!info.exists()) {
            result.verdict = RowResult::Verdict::File;
            result.message = QStringLiteral("no such file");
        } else if (info.isDir()) {
            result.verdict = RowResult::Verdict::File;
            result.message = QStringLiteral("a folder, not a file");
        } else {
            m_job = new DigestJob(this);
            m_jobClock.start();
            connect(m_job, &DigestJob::progress, this, &Verifier::showProgress);
            connect(m_job, &DigestJob::finished, this,
                    [this, index](const FileDigest &digest) { digested(index, digest); });
            m_job->start(row.path);
            return;
        }
        m_results[index] = result;
    }
    if (!m_done && !m_job && m_pending.isEmpty() && (m_stopping || m_next == m_rows.size())) {
        m_done = true;
        QTimer::singleShot(0, this, &Verifier::finished);
    }
}

void Verifier::showProgress(qint64 done, qint64 total)
{
    if (!m_options.progress || m_jobClock.elapsed() < 500)
        return;
    m_progressShown = true;
    const QString name = QFileInfo(m_job->path()).fileName();
    if (total > 0)
        std::fprintf(stderr, "\r\033[Khashing %s: %lld / %lld MB (%d%%)", qPrintable(name), done / 1000000,
                     total / 1000000, static_cast<int>(done * 100 / total));
    else
        std::fprintf(stderr, "\r\033[Khashing %s: %lld MB", qPrintable(name), done / 1000000);
    std::fflush(stderr);
}

void Verifier::digested(int index, const FileDigest &digest)
{
    m_job->deleteLater();
    m_job = nullptr;
    if (m_progressShown) {
        std::fprintf(stderr, "\r\033[K");
        m_progressShown = false;
    }
    const CaseRow &row = m_rows.at(index);
    RowResult result;
    result.row = row;
    result.size = digest.bytes;
    if (digest.status != FileDigest::Status::Ok) {
        result.verdict = RowResult::Verdict::File;
        result.message = fileProblem(digest.status);
        m_results[index] = result;
    } else {
        result.sha256 = digest.hex;
        m_results[index] = result;
        m_modified[index] = QFileInfo(row.path).lastModified();
        QNetworkReply *reply = hashquery::post(m_networks.at(m_nextNetwork++ % m_networks.size()),
                                               m_options.baseUrl, row.order, digest.hex, row.type);
        m_pending.insert(reply, index);
        QTimer::singleShot(hashquery::kTimeoutMs, reply, [reply] {
            reply->setProperty(kTimedOut, true);
            reply->abort();
        });
    }
    next();
}

void Verifier::answered(QNetworkReply *reply)
{
    if (!m_pending.contains(reply))
        return;
    const int index = m_pending.take(reply);
    const bool timedOut = reply->property(kTimedOut).toBool();
    const hashquery::Outcome outcome = hashquery::finish(reply);
    RowResult &result = *m_results[index];
    const HashAnswer &answer = outcome.answer;
    if (outcome.kind == hashquery::Outcome::Kind::Failed) {
        result.verdict = RowResult::Verdict::Network;
        result.message = timedOut ? QStringLiteral("no answer within %1 s").arg(hashquery::kTimeoutMs / 1000)
                                  : outcome.failure;
    } else {
        switch (answer.kind) {
        case HashAnswer::Kind::Pass:
            result.verdict = RowResult::Verdict::Pass;
            result.applicant = answer.userName;
            result.time = answer.optTime;
            result.location = answer.deviceInfo;
            break;
        case HashAnswer::Kind::Fail:
            result.verdict = RowResult::Verdict::Fail;
            result.message = gbText(texts::kFailDesc);
            break;
        case HashAnswer::Kind::Message:
            result.verdict = RowResult::Verdict::Refused;
            result.message = answer.des;
            break;
        case HashAnswer::Kind::Abnormal:
            result.verdict = RowResult::Verdict::Refused;
            result.message = gbText(texts::kAbnormalAnswer);
            break;
        case HashAnswer::Kind::Unreadable:
        case HashAnswer::Kind::Silent:
            result.verdict = RowResult::Verdict::Refused;
            result.message = QStringLiteral("the service's answer says nothing that can be read");
            break;
        }
    }
    if (!m_options.receiptsDir.isEmpty()) {
        // The request went out as soon as its digest was taken (digested()): its time is the digest's.
        const ReceiptFile file{result.row.path, result.size, m_modified.at(index), outcome.sent.at};
        writeReceipt(result, makeReceipt(outcome, file, QCoreApplication::applicationName()));
    }
    next();
}

void Verifier::writeReceipt(RowResult &result, const std::optional<Receipt> &receipt)
{
    if (!receipt)
        return;
    // Never over an earlier receipt: the same order may be verified twice within a second.
    const QString first = QDir(m_options.receiptsDir).filePath(receiptBaseName(*receipt));
    QString base = first;
    for (int n = 2;
         QFile::exists(base + QStringLiteral(".pdf")) || QFile::exists(base + QStringLiteral(".json")); ++n)
        base = first + QStringLiteral("-%1").arg(n);
    QString error;
    if (!saveReceipt(*receipt, base, &error)) {
        std::fprintf(stderr, "filehash-verify: receipt not saved: %s\n", qPrintable(error));
        result.receiptNotWritten = true;
        result.message += (result.message.isEmpty() ? QString() : QStringLiteral("; ")) +
                          QStringLiteral("receipt not saved: ") + error;
    }
}
