#include "app/filehash.h"
#include "app/textfit.h"
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
    showVerdictTexts(texts::kPassHeading, texts::kPassDesc, QStringLiteral("color:green"));
    // Each from its first character: a long value is cut at its end, never at its start.
    for (const auto &[edit, text] : {std::pair<QLineEdit *, const QString &>{leApplicant, userName},
                                     {leTime, optTime},
                                     {leLocation, deviceInfo}}) {
        edit->setText(text);
        edit->setCursorPosition(0);
    }
    // The digest is compared digit by digit with a certificate: all 64, whatever the font.
    showWhole(leChain, chain, inputFont());
    showPanel(true);
}

void filehash::showFailPanel()
{
    imgResult->setImage(res(QStringLiteral("cuo.png")), 1.0f);
    showVerdictTexts(texts::kFailHeading, texts::kFailDesc, QStringLiteral("color:red"));
    showPanel(false);
}

void filehash::showVerdictTexts(const char *heading, const char *description, const QString &style)
{
    leResultTitle->setText(gbText(texts::kResultTitle));
    // Sized for the text each time: a label keeps the size of the first text it showed.
    for (const auto &[label, text] :
         {std::pair<QLabel *, const char *>{labResult, heading}, {labResultDesc, description}}) {
        label->setText(gbText(text));
        label->setStyleSheet(style);
        label->adjustSize();
    }
}
