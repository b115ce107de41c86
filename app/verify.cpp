#include "filehash.h"
#include "serviceconfig.h"
#include "texts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstdio>

const char kHashQueryPath[] = "/mrv/other/o_getHashByQuorvelOrderRequest";

namespace
{

const int kAnswerTimeoutMs = 50000;
const char kTooLargeProperty[] = "filehash_answerTooLarge";
// Real answers are a few hundred bytes.
const qint64 kMaxAnswerBytes = 1024 * 1024;

} // namespace

const char kSentHashProperty[] = "filehash_sentHash";

bool answerTooLarge(const QNetworkReply *reply)
{
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    return reply->property(kTooLargeProperty).toBool() || announced > kMaxAnswerBytes ||
           reply->bytesAvailable() > kMaxAnswerBytes;
}

void filehash::ClickBtnCheck()
{
    if (leOrder->text().isEmpty()) {
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kOrderEmpty));
        return;
    }
    if (leFile->text().isEmpty() || leHash->text().isEmpty()) {
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kNoFile));
        return;
    }
    postHashQuery(leOrder->text(), leHash->text(), typeCode);
}

void filehash::postHashQuery(QString order, QString hash, int type)
{
    QNetworkRequest request;
    request.setUrl(QUrl(serviceBaseUrl() + QLatin1String(kHashQueryPath)));

    QJsonObject query;
    query.insert(QStringLiteral("quorvelOrder"), QJsonValue(order));
    query.insert(QStringLiteral("hash"), QJsonValue(hash));
    query.insert(QStringLiteral("type"), QJsonValue(QString::number(type)));
    QJsonDocument document;
    document.setObject(query);

    QNetworkReply *reply = netManager->post(request, document.toJson(QJsonDocument::Compact));
    // The verdict names the digest that was sent, even if another file is chosen meanwhile.
    reply->setProperty(kSentHashProperty, hash);
    // The reply buffers at most one byte more than an answer may hold, and is given up as soon as
    // it announces or brings more.
    reply->setReadBufferSize(kMaxAnswerBytes + 1);
    auto guard = [reply] {
        if (reply->isRunning() && answerTooLarge(reply)) {
            reply->setProperty(kTooLargeProperty, true);
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, guard);
    connect(reply, &QIODevice::readyRead, reply, guard);
    timer->start(kAnswerTimeoutMs);
}

void filehash::finishedPostSlot(QNetworkReply *reply)
{
    if (timer->isActive())
        timer->stop();
    if (!reply)
        return;
    const QString path = reply->url().path();
    if (path.compare(QLatin1String(kHashQueryPath), Qt::CaseSensitive) == 0)
        handleHashReply(reply);
}

void filehash::onTimeout()
{
    std::printf("qrdiag net time out\n");
    QMessageBox::about(nullptr, gbText(texts::kInfoTitle), gbText(texts::kTimedOut));
    if (timer->isActive())
        timer->stop();
}
