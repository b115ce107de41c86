#include "cimg.h"
#include "filehash.h"
#include "hashanswer.h"
#include "texts.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkReply>

namespace
{

// Like QMessageBox::about, but the text is never interpreted as rich text: it may come from the
// service, which must not be able to lay out the user's box.
void showPlainInfo(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Information, gbText(texts::kInfoTitle), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    const QIcon icon = box.windowIcon();
    box.setIconPixmap(icon.pixmap(icon.actualSize(QSize(64, 64))));
    box.exec();
}

} // namespace

void filehash::handleHashReply(QNetworkReply *reply)
{
    if (!reply)
        return;
    // Asked again: the guard set up with the request may not have seen an answer that arrived
    // all at once.
    const bool tooLarge = answerTooLarge(reply);
    const QByteArray body = tooLarge ? QByteArray() : reply->readAll();
    const bool failed = tooLarge || reply->error() != QNetworkReply::NoError;
    const QString failure = tooLarge ? gbText(texts::kAnswerTooLarge) : reply->errorString();
    const QVariant sentHash = reply->property(kSentHashProperty);
    reply->deleteLater();

    const HashAnswer answer = readHashAnswer(body);
    switch (answer.kind) {
    case HashAnswer::Kind::Unreadable:
        // An earlier verdict may still stand on screen: silence would read as that verdict.
        if (failed)
            showPlainInfo(this, gbText(texts::kNetworkFailed) + failure);
        return;
    case HashAnswer::Kind::Silent:
        return;
    case HashAnswer::Kind::Message:
        showPlainInfo(this, answer.des);
        return;
    case HashAnswer::Kind::Abnormal:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kAbnormalAnswer));
        return;
    case HashAnswer::Kind::Pass:
        showPassPanel(answer.userName, answer.optTime, answer.deviceInfo,
                      sentHash.isValid() ? sentHash.toString() : leHash->text());
        return;
    case HashAnswer::Kind::Fail:
        showFailPanel();
        return;
    }
}

void filehash::showPassPanel(const QString &userName, const QString &optTime, const QString &deviceInfo,
                             const QString &chain)
{
    imgResult->setVisible(true);
    imgResult->setImage(QStringLiteral("res/dui.png"), 1.0f);
    for (QWidget *w : std::initializer_list<QWidget *>{labResult, labResultDesc, labApplicant, labLocation,
                                                       labTime, labChain, leApplicant, leResultTitle, lePanel,
                                                       leChain, leTime, leLocation})
        w->setVisible(true);
    labResult->setText(gbText(texts::kPassHeading));
    labResult->setStyleSheet(QStringLiteral("color:green"));
    leResultTitle->setText(gbText(texts::kResultTitle));
    labResultDesc->setText(gbText(texts::kPassDesc));
    labResultDesc->setStyleSheet(QStringLiteral("color:green"));
    leApplicant->setText(userName);
    leChain->setText(chain);
    leTime->setText(optTime);
    leLocation->setText(deviceInfo);
}

void filehash::showFailPanel()
{
    imgResult->setImage(QStringLiteral("res/cuo.png"), 1.0f);
    imgResult->setVisible(true);
    labResult->setVisible(true);
    labResultDesc->setVisible(true);
    for (QWidget *w : std::initializer_list<QWidget *>{labApplicant, labLocation, labTime, labChain})
        w->setVisible(false);
    lePanel->setVisible(true);
    leResultTitle->setVisible(true);
    for (QLineEdit *e : {leApplicant, leChain, leTime, leLocation})
        e->setVisible(false);
    leResultTitle->setText(gbText(texts::kResultTitle));
    labResult->setText(gbText(texts::kFailHeading));
    labResult->setStyleSheet(QStringLiteral("color:red"));
    labResultDesc->setText(gbText(texts::kFailDesc));
    labResultDesc->setStyleSheet(QStringLiteral("color:red"));
}
