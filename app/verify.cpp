#include "app/filehash.h"
#include "core/hashquery.h"
#include "core/texts.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

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
    hashquery::post(netManager, serviceBaseUrl, order, hash, type);
    timer->start(hashquery::kTimeoutMs);
}

void filehash::finishedPostSlot(QNetworkReply *reply)
{
    if (timer->isActive())
        timer->stop();
    if (hashquery::isHashQuery(reply))
        handleHashReply(reply);
}

void filehash::onTimeout()
{
    std::printf("qrdiag net time out\n");
    QMessageBox::about(nullptr, gbText(texts::kInfoTitle), gbText(texts::kTimedOut));
    if (timer->isActive())
        timer->stop();
}
