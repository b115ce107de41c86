#include "app/filehash.h"
#include "core/hashquery.h"
#include "core/texts.h"
#include "widgets/cimg.h"

#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPushButton>

// Like QMessageBox::about, but the text is never interpreted as rich text: it may come from the
// service, which must not be able to lay out the user's box.
void filehash::showPlainInfo(const QString &text)
{
    QMessageBox box(QMessageBox::Information, gbText(texts::kInfoTitle), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    const QIcon icon = box.windowIcon();
    box.setIconPixmap(icon.pixmap(icon.actualSize(QSize(64, 64))));
    box.exec();
}

void filehash::handleHashReply(QNetworkReply *reply)
{
    if (!reply)
        return;
    const hashquery::Outcome outcome = hashquery::finish(reply);
    if (outcome.kind == hashquery::Outcome::Kind::Failed) {
        // An earlier verdict may still stand on screen: silence would read as that verdict.
        showPlainInfo(gbText(texts::kNetworkFailed) + outcome.failure);
        return;
    }
    const HashAnswer &answer = outcome.answer;
    const bool verdict = answer.kind == HashAnswer::Kind::Pass || answer.kind == HashAnswer::Kind::Fail;
    if (verdict && (outcome.sent.order != leOrder->text() || outcome.sent.hash != leHash->text() ||
                    outcome.sent.type != typeCode)) {
        // A verdict for other inputs than those on screen would describe the wrong file.
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kInputsChanged));
        return;
    }
    if (verdict)
        receipt = makeReceipt(outcome, chosen, QStringLiteral("filehash"));
    switch (answer.kind) {
    case HashAnswer::Kind::Unreadable:
    case HashAnswer::Kind::Silent:
        return;
    case HashAnswer::Kind::Message:
        showPlainInfo(answer.des);
        return;
    case HashAnswer::Kind::Abnormal:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kAbnormalAnswer));
        return;
    case HashAnswer::Kind::Pass:
        showPassPanel(answer.userName, answer.optTime, answer.deviceInfo, outcome.sent.hash);
        return;
    case HashAnswer::Kind::Fail:
        showFailPanel();
        return;
    }
}

void filehash::showPassPanel(const QString &userName, const QString &optTime, const QString &deviceInfo,
                             const QString &chain)
{
    imgResult->setImage(res(QStringLiteral("dui.png")), 1.0f);
    labResult->setText(gbText(texts::kPassHeading));
    labResult->setStyleSheet(QStringLiteral("color:green"));
    leResultTitle->setText(gbText(texts::kResultTitle));
    labResultDesc->setText(gbText(texts::kPassDesc));
    labResultDesc->setStyleSheet(QStringLiteral("color:green"));
    leApplicant->setText(userName);
    leChain->setText(chain);
    leTime->setText(optTime);
    leLocation->setText(deviceInfo);
    showPanel(true);
}

void filehash::showFailPanel()
{
    imgResult->setImage(res(QStringLiteral("cuo.png")), 1.0f);
    leResultTitle->setText(gbText(texts::kResultTitle));
    labResult->setText(gbText(texts::kFailHeading));
    labResult->setStyleSheet(QStringLiteral("color:red"));
    labResultDesc->setText(gbText(texts::kFailDesc));
    labResultDesc->setStyleSheet(QStringLiteral("color:red"));
    showPanel(false);
}
