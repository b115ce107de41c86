#include "cli/verifier.h"

#include "core/digestjob.h"
#include "core/hashquery.h"
#include "core/receipt.h"
#include "core/texts.h"
#include "report/receiptpdf.h"

#include <QCryptographicHash>
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

// Files up to this size are hashed on the verifier's own thread: at disk-cache speed that takes a
// fraction of a millisecond, and Ctrl+C is seen between two files.
constexpr qint64 kHashHereBytes = 1024 * 1024;

QString fileProblem(FileDigest::Status status)
{
    switch (status) {
    case FileDigest::Status::Empty:
        return QStringLiteral("the file is empty");
    case FileDigest::Status::Changed:
        return QStringLiteral("the file changed while it was read");
    case FileDigest::Status::NotRegular:
        return QStringLiteral("not a regular file: a FIFO, a device or a socket is never hashed");
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
        return 64;
    case RowResult::Verdict::Interrupted:
        break;
    }
    return 130;
}

QString verdictName(RowResult::Verdict verdict)
{
    const char *names[kVerdictCount] = {"pass", "FAIL",    "refused",    "network",
                                        "file", "bad-row", "interrupted"};
    return QString::fromLatin1(names[static_cast<int>(verdict)]);
}

Verifier::Verifier(const Options &options, QObject *parent) : QObject(parent), m_options(options)
{
    for (int i = 0; i < qMax(1, (options.connections + 5) / 6); ++i) {
        auto *network = new QNetworkAccessManager(this);
        connect(network, &QNetworkAccessManager::finished, this, &Verifier::answered);
        m_networks << network;
    }
    // Its own: the answers' managers hand every finished reply to answered().
    m_tsaNetwork = new QNetworkAccessManager(this);
}

Verifier::~Verifier()
{
    delete m_job;
}

void Verifier::start(Source source)
{
    m_source = std::move(source);
    pump();
}

void Verifier::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    // What is under way ends now; each ends in hashed() or answered(), as interrupted.
    if (m_job)
        m_job->cancel();
    for (QNetworkReply *reply : m_asked.keys())
        reply->abort();
    // A receipt whose stamp is awaited is saved without it, and says why.
    timestamping::Stamp interrupted;
    interrupted.failure = timestamping::Failure::Network;
    interrupted.reason = QStringLiteral("interrupted");
    for (const auto &stamped : m_stamping.values())
        stamped(interrupted);
    pump();
}

QString Verifier::hashing() const
{
    return m_job ? m_job->path() : QString();
}

void Verifier::pump()
{
    // One file is hashed at a time, and no more rows are under way than the bound: a slow answer
    // holds back the rows after it, never memory.
    while (!m_job && !m_stopping && !m_sourceDone && m_taken - m_handedBack < m_options.maxInFlight) {
        const std::optional<CaseRow> row = m_source();
        if (!row) {
            m_sourceDone = true;
            break;
        }
        const int seq = m_taken++;
        RowResult result;
        result.row = *row;
        const QFileInfo info(row->path);
        if (!row->error.isEmpty()) {
            result.message = row->error;
        } else if (!info.exists()) {
            result.verdict = RowResult::Verdict::File;
            result.message = QStringLiteral("no such file");
        } else if (info.isDir()) {
            result.verdict = RowResult::Verdict::File;
            result.message = QStringLiteral("a folder, not a file");
        } else if (info.isFile() && info.size() <= kHashHereBytes) {
            // A small file is hashed here, in less time than a thread takes to start.
            m_under.insert(seq, result);
            hashed(seq, digestFile(row->path, DigestProgress(), true));
            continue;
        } else {
            m_under.insert(seq, result);
            m_job = new DigestJob(this);
            connect(m_job, &DigestJob::finished, this, [this, seq](const FileDigest &digest) {
                m_job->deleteLater();
                m_job = nullptr;
                hashed(seq, digest);
                pump();
            });
            m_job->start(row->path, true);
            break;
        }
        complete(seq, result);
    }
    if (!m_done && !m_job && m_asked.isEmpty() && m_handedBack == m_taken && (m_stopping || m_sourceDone)) {
        m_done = true;
        QTimer::singleShot(0, this, &Verifier::finished);
    }
}

void Verifier::hashed(int seq, const FileDigest &digest)
{
    RowResult result = m_under.take(seq);
    result.size = digest.bytes;
    if (digest.status == FileDigest::Status::Cancelled ||
        (m_stopping && digest.status == FileDigest::Status::Ok)) {
        result.verdict = RowResult::Verdict::Interrupted;
        result.message = QStringLiteral("interrupted while it was hashed");
        complete(seq, result);
    } else if (digest.status != FileDigest::Status::Ok) {
        result.verdict = RowResult::Verdict::File;
        result.message = fileProblem(digest.status);
        complete(seq, result);
    } else {
        result.sha256 = digest.hex;
        m_under.insert(seq, result);
        m_digestTimes.insert(seq, {QFileInfo(result.row.path).lastModified(), QDateTime::currentDateTime()});
        QNetworkReply *reply =
            hashquery::post(m_networks.at(m_nextNetwork++ % m_networks.size()), m_options.baseUrl,
                            result.row.order, digest.hex, result.row.type);
        m_asked.insert(reply, seq);
        QTimer::singleShot(hashquery::kTimeoutMs, reply, [reply] {
            reply->setProperty(kTimedOut, true);
            reply->abort();
        });
    }
}

void Verifier::answered(QNetworkReply *reply)
{
    if (!m_asked.contains(reply))
        return;
    const int seq = m_asked.take(reply);
    const bool timedOut = reply->property(kTimedOut).toBool();
    const hashquery::Outcome outcome = hashquery::finish(reply);
    RowResult result = m_under.take(seq);
    const HashAnswer &answer = outcome.answer;
    if (outcome.kind == hashquery::Outcome::Kind::Failed) {
        result.verdict =
            m_stopping && !timedOut ? RowResult::Verdict::Interrupted : RowResult::Verdict::Network;
        result.message = m_stopping && !timedOut ? QStringLiteral("interrupted while its answer was awaited")
                         : timedOut
                             ? QStringLiteral("no answer within %1 s").arg(hashquery::kTimeoutMs / 1000)
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
            result.message = QStringLiteral(
                "the file's SHA-256 is not the digest the service holds for this order and type");
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
    const auto [modified, digestedAt] = m_digestTimes.take(seq);
    const std::optional<Receipt> receipt =
        m_options.receiptsDir.isEmpty()
            ? std::nullopt
            : makeReceipt(outcome, ReceiptFile{result.row.path, result.size, modified, digestedAt},
                          QStringLiteral("filehash-verify"));
    if (receipt && !m_options.tsaUrl.isEmpty() && !m_stopping) {
        stampAndSave(seq, result, *receipt);
    } else {
        if (receipt)
            saveReceipt(result, *receipt, receiptJson(*receipt), timestamping::Stamp());
        complete(seq, result);
    }
    pump();
}

void Verifier::stampAndSave(int seq, const RowResult &result, const Receipt &receipt)
{
    // The row is done once its receipt is saved, stamped or not: the stamp is over the JSON as
    // it is saved without it.
    const QByteArray json = receiptJson(receipt);
    auto *stamper = new TimeStamper(m_tsaNetwork, this);
    m_under.insert(seq, result);
    const auto stamped = [this, seq, stamper, receipt, json](const timestamping::Stamp &stamp) {
        if (!m_stamping.remove(stamper))
            return;
        stamper->deleteLater();
        RowResult done = m_under.take(seq);
        saveReceipt(done, receipt, json, stamp);
        complete(seq, done);
        pump();
    };
    m_stamping.insert(stamper, stamped);
    connect(stamper, &TimeStamper::finished, this, stamped);
    stamper->stamp(QUrl(m_options.tsaUrl), QCryptographicHash::hash(json, QCryptographicHash::Sha256),
                   m_options.tsaCaPem);
}

void Verifier::complete(int seq, const RowResult &result)
{
    m_ready.insert(seq, result);
    // Handed back in the case's order: a row waits for every row before it.
    while (m_ready.contains(m_handedBack))
        emit rowDone(m_ready.take(m_handedBack++));
}

void Verifier::saveReceipt(RowResult &result, Receipt receipt, const QByteArray &json,
                           const timestamping::Stamp &stamp)
{
    // Never over an earlier receipt: the same order may be verified twice within a second.
    const QString first = QDir(m_options.receiptsDir).filePath(receiptBaseName(receipt));
    QString base = first;
    for (int n = 2;
         QFile::exists(base + QStringLiteral(".pdf")) || QFile::exists(base + QStringLiteral(".json")); ++n)
        base = first + QStringLiteral("-%1").arg(n);
    // Asked for and granted, or not asked for at all (a stamp with no token).
    const bool stamped = stamp.ok() && !stamp.token.isEmpty();
    QString unstampedBecause = QStringLiteral("no time-stamping authority is given");
    if (stamped)
        receipt.stamp = ReceiptStamp{stamp.token, stamp.info};
    else if (!m_options.tsaUrl.isEmpty())
        unstampedBecause = stamp.reason;
    const auto tell = [&result](const QString &what) {
        result.message += (result.message.isEmpty() ? QString() : QStringLiteral("; ")) + what;
    };
    QString error;
    if (!::saveReceipt(receipt, json, stamp.response, unstampedBecause, base, &error)) {
        result.receiptNotWritten = true;
        tell(QStringLiteral("receipt not saved: ") + error);
    } else if (!stamped && !m_options.tsaUrl.isEmpty()) {
        result.unstamped = true;
        tell(QStringLiteral("receipt saved without a time-stamp: ") + stamp.reason);
    }
}
