#include "app/filehash.h"
#include "core/hashquery.h"
#include "core/receipt.h"
#include "testsupport.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// Drags urls onto the order field, where a drop of text would land, and drops them.
void dropOn(filehash &w, const QList<QUrl> &urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    mime.setText(urls.first().toString()); // as file managers offer it: text a line edit would take
    const QPoint at = w.leOrder->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.leOrder, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.leOrder, &drop);
    QCOMPARE(drop.dropAction(), Qt::CopyAction); // the source never deletes what it gave
}

// A pass or a fail for what is on screen, as the network manager hands it over.
void pass(filehash &w, bool passed = true)
{
    auto *reply = new FakeReply(hashquery::url(QStringLiteral("https://x")),
                                passed ? R"({"code":0,"data":{"result":true}})" : R"({"code":0,"data":{}})");
    hashquery::tag(reply, {w.leOrder->text(), w.leHash->text(), w.typeCode, QDateTime::currentDateTime()});
    w.finishedPostSlot(reply);
}

} // namespace

// Dropping files on the window, and the receipt of the verdict on screen.
class TestDragDrop : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { closeAllModals(); }
    void drop_data();
    void drop();
    void receipt();

private:
    QTemporaryDir m_dir;
};

void TestDragDrop::drop_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("chosen");
    const QUrl file = QUrl::fromLocalFile(writeTestFile(m_dir.path(), QStringLiteral("e.pdf"), "evidence"));
    QTest::newRow("one file") << QList<QUrl>{file} << true;
    QTest::newRow("two files") << QList<QUrl>{file, file} << false;
    QTest::newRow("a folder") << QList<QUrl>{QUrl::fromLocalFile(m_dir.path())} << false;
    QTest::newRow("a web address") << QList<QUrl>{QUrl(QStringLiteral("https://example.com/e.pdf"))} << false;
}

void TestDragDrop::drop()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, chosen);
    filehash w;
    w.show();
    w.leOrder->setText(QStringLiteral("QV1"));
    w.leFile->setText(QStringLiteral("/before"));
    w.leHash->setText(QString(64, QLatin1Char('b')));
    pass(w);
    QVERIFY(w.btnReceipt->isVisibleTo(&w));

    ModalResponder responder;
    dropOn(w, urls);
    if (chosen) {
        QTRY_COMPARE(w.leFile->text(), urls.first().toLocalFile());
        QCOMPARE(
            w.leHash->text(),
            QString::fromLatin1(QCryptographicHash::hash("evidence", QCryptographicHash::Sha256).toHex()));
        QVERIFY(!w.lePanel->isVisibleTo(&w));
        QVERIFY(!w.btnReceipt->isVisibleTo(&w));
        QVERIFY(responder.boxes().isEmpty());
    } else {
        QTRY_COMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().first().text, QString::fromUtf8(u8"请只拖入一个本地文件"));
        QCOMPARE(w.leFile->text(), QStringLiteral("/before"));
        QVERIFY(w.lePanel->isVisibleTo(&w));
    }
    QCOMPARE(w.leOrder->text(), QStringLiteral("QV1"));
}

void TestDragDrop::receipt()
{
    const QString evidence = writeTestFile(m_dir.path(), QStringLiteral("r.mp4"), QByteArray(5000, 'r'));
    const QString base = m_dir.filePath(QStringLiteral("receipt"));
    filehash w;
    w.show();
    QVERIFY(!w.btnReceipt->isVisibleTo(&w)); // nothing new until a verdict stands
    dropOn(w, {QUrl::fromLocalFile(evidence)});
    QTRY_COMPARE(w.leFile->text(), evidence);
    w.leOrder->setText(QStringLiteral("QV7"));
    pass(w, false);
    QVERIFY(w.btnReceipt->isVisibleTo(&w));
    pass(w);

    for (const QMessageBox::StandardButton replace : {QMessageBox::Yes, QMessageBox::No}) {
        QFile::remove(base + QStringLiteral(".json"));
        ModalResponder responder([&](QWidget *modal) {
            if (!pickInFileDialog(modal, base + QStringLiteral(".pdf")))
                responder.answerBox(qobject_cast<QMessageBox *>(modal), replace);
        });
        w.btnReceipt->click();
        QFile json(base + QStringLiteral(".json"));
        const std::optional<Receipt> r =
            json.open(QIODevice::ReadOnly) ? readReceiptJson(json.readAll()) : std::nullopt;
        // Asked only when a receipt of that name was there, and kept when the answer was no.
        QCOMPARE(responder.boxes().size(), replace == QMessageBox::No ? 1 : 0);
        QCOMPARE(r.has_value(), replace == QMessageBox::Yes);
        if (r) {
            QCOMPARE(r->filePath, evidence);
            QCOMPARE(r->fileSize, 5000);
            QCOMPARE(r->order, QStringLiteral("QV7"));
            QVERIFY(QFile::exists(base + QStringLiteral(".pdf")));
        }
    }
}

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
