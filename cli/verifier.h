#ifndef FILEHASH_CLI_VERIFIER_H
#define FILEHASH_CLI_VERIFIER_H

#include "cli/casecsv.h"
#include "core/filedigest.h"
#include "core/receipt.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QVector>

#include <functional>
#include <optional>

class DigestJob;
class TimeStamper;
class QNetworkAccessManager;
class QNetworkReply;

// What became of one row of a case.
struct RowResult {
    enum class Verdict {
        Pass,        // the service knows this digest under this order
        Fail,        // it does not: the file differs from what was preserved
        Refused,     // the service said no (unknown order, wrong type, its own message)
        Network,     // no answer: connection, TLS, time-out
        File,        // the file could not be read, is not a regular file, was empty or changed
        BadRow,      // the row itself is wrong
        Interrupted, // Ctrl+C came while the row was under way
    };
    CaseRow row;
    Verdict verdict = Verdict::BadRow;
    qint64 size = -1;
    QString sha256;
    QString applicant;
    QString time;
    QString location;
    QString message;
    bool receiptNotWritten = false; // a receipt was due and could not be written whole
    bool unstamped = false;         // its receipt was saved without the stamp that was asked for
};

constexpr int kVerdictCount = 7;
int exitCode(RowResult::Verdict verdict);
// "pass", "FAIL", "refused", "network", "file", "bad-row", "interrupted".
QString verdictName(RowResult::Verdict verdict);

// Verifies rows one file after another while earlier answers are awaited: the next file is hashed
// as soon as the previous one's request is sent, and up to a bound of rows are under way at once,
// sharing the managers' kept-alive connections. Rows are taken from the source only as they are
// started and handed back in the source's order as soon as they and every row before them are
// done, so that memory stays flat however long the case.
class Verifier : public QObject
{
    Q_OBJECT
public:
    struct Options {
        QString baseUrl;
        QString receiptsDir; // empty: no receipts
        QString tsaUrl;      // who stamps the receipts; empty: nobody
        QByteArray tsaCaPem; // the CAs the stamps' signers chain to; empty: the system's
        int maxInFlight = 64;
        int connections = 30; // at most, in sixes
    };
    // The next row of the case; nothing at its end.
    using Source = std::function<std::optional<CaseRow>()>;

    explicit Verifier(const Options &options, QObject *parent = nullptr);
    ~Verifier() override;

    void start(Source source);
    // No further row is started; the file being hashed and the answers awaited end at once, as
    // interrupted. finished() follows once every row taken has been handed back.
    void stop();
    bool stopped() const { return m_stopping; }
    // The file being hashed, if any.
    QString hashing() const;

signals:
    void rowDone(const RowResult &result);
    void finished();

private:
    void pump();
    // A row's digest is taken: its request goes out, or the row is done.
    void hashed(int seq, const FileDigest &digest);
    void answered(QNetworkReply *reply);
    void complete(int seq, const RowResult &result);
    // Asks for a stamp over the receipt, then saves it; the row is done then.
    void stampAndSave(int seq, const RowResult &result, const Receipt &receipt);
    void saveReceipt(RowResult &result, Receipt receipt, const QByteArray &json,
                     const timestamping::Stamp &stamp);

    Options m_options;
    Source m_source;
    bool m_sourceDone = false;
    // A manager keeps at most six connections to a host; answers that each wait on the network's
    // round trips come back sooner over more of them.
    QVector<QNetworkAccessManager *> m_networks;
    int m_nextNetwork = 0;
    int m_taken = 0;                     // rows taken from the source
    int m_handedBack = 0;                // rows handed back through rowDone()
    QHash<int, RowResult> m_under;       // rows under way, by their place in the case
    QHash<int, RowResult> m_ready;       // rows done before a row ahead of them
    QHash<QNetworkReply *, int> m_asked; // replies awaited, with their row's place
    // Each awaited row's file time and the time its digest was taken.
    QHash<int, std::pair<QDateTime, QDateTime>> m_digestTimes;
    DigestJob *m_job = nullptr;
    QNetworkAccessManager *m_tsaNetwork = nullptr;
    // Stamps awaited, each with what saves its receipt and completes its row.
    QHash<TimeStamper *, std::function<void(const timestamping::Stamp &)>> m_stamping;
    bool m_stopping = false;
    bool m_done = false;
};

#endif
