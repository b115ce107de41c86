#ifndef FILEHASH_CLI_VERIFIER_H
#define FILEHASH_CLI_VERIFIER_H

#include "cli/casecsv.h"
#include "core/filedigest.h"
#include "core/receipt.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QVector>

#include <optional>

class DigestJob;
class QNetworkAccessManager;
class QNetworkReply;

// What became of one row of a case.
struct RowResult {
    enum class Verdict {
        Pass,    // 0: the service knows this digest under this order
        Fail,    // 1: it does not: the file differs from what was preserved
        Refused, // 2: the service said no (unknown order, wrong type, its own message)
        Network, // 3: no answer: connection, TLS, time-out
        File,    // 4: the file could not be read, was empty or changed while read
        BadRow,  // 64: the row itself is wrong
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
};

int exitCode(RowResult::Verdict verdict);
QString verdictName(RowResult::Verdict verdict);

// Verifies rows one file after another while earlier answers are awaited: the next file is hashed
// as soon as the previous one's request is sent, and up to a bound of requests share the
// manager's kept-alive connections.
class Verifier : public QObject
{
    Q_OBJECT
public:
    struct Options {
        QString baseUrl;
        QString receiptsDir;   // empty: no receipts
        bool progress = false; // on standard error, for a file that takes longer than half a second
        int maxInFlight = 64;
        int connections = 30; // at most, in sixes
    };
    explicit Verifier(const Options &options, QObject *parent = nullptr);
    ~Verifier() override;

    void start(const QVector<CaseRow> &rows);
    // No further file is started; the file being hashed and the answers awaited are finished.
    void stop();
    bool stopped() const { return m_stopping; }
    // The rows that are done, in the case's order.
    QVector<RowResult> results() const;

signals:
    void finished();

private:
    void next();
    void digested(int index, const FileDigest &digest);
    void answered(QNetworkReply *reply);
    void writeReceipt(RowResult &result, const std::optional<Receipt> &receipt);
    void showProgress(qint64 done, qint64 total);

    Options m_options;
    // A manager keeps at most six connections to a host; answers that each wait on the network's
    // round trips come back sooner over more of them.
    QVector<QNetworkAccessManager *> m_networks;
    int m_nextNetwork = 0;
    QVector<CaseRow> m_rows;
    QVector<std::optional<RowResult>> m_results;
    QHash<QNetworkReply *, int> m_pending;
    QVector<QDateTime> m_modified; // each row's file time, taken with its digest
    DigestJob *m_job = nullptr;
    QElapsedTimer m_jobClock;
    bool m_progressShown = false;
    int m_next = 0;
    bool m_stopping = false;
    bool m_done = false;
};

#endif
