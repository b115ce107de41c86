#include "app/filehash.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The choose-file button with the real file dialog, progress dialog and message boxes: a choice
// either ends in the file's digest or is told and leaves the earlier choice in place.
class TestChooseFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { closeAllModals(); }
    void choices_data();
    void choices();

private:
    QTemporaryDir m_dir;
};

void TestChooseFile::choices_data()
{
    QTest::addColumn<QString>("second"); // what the second choice picks
    QTest::addColumn<QString>("box");    // what it tells, if anything
    QTest::addColumn<bool>("progress");  // whether a progress dialog shows
    QTest::newRow("another file") << "other" << QString() << false;
    QTest::newRow("cancelled dialog") << "" << QString() << false;
    QTest::newRow("empty file") << "empty" << QString::fromUtf8(u8"所选文件为空") << false;
    QTest::newRow("gone before reading") << "vanishing" << QString::fromUtf8(u8"无法读取所选文件") << false;
    // Sparse files: no disk, far too long to hash here, so the progress dialog comes up.
    QTest::newRow("long hash cancelled") << "large" << QString() << true;
    QTest::newRow("cut short while hashed")
        << "shrinking" << QString::fromUtf8(u8"文件在读取过程中被修改，请重新选择") << true;
}

void TestChooseFile::choices()
{
    QFETCH(QString, second);
    QFETCH(QString, box);
    QFETCH(bool, progress);
    const QString first = writeTestFile(m_dir.path(), QStringLiteral("first.txt"), "abc");
    const QByteArray other(100000, 'x');
    QString path = second;
    if (second == QLatin1String("other"))
        path = writeTestFile(m_dir.path(), QStringLiteral("other.bin"), other);
    else if (second == QLatin1String("empty") || second == QLatin1String("vanishing"))
        path = writeTestFile(m_dir.path(), second, second == QLatin1String("empty") ? "" : "soon gone");
    else if (second == QLatin1String("large") || second == QLatin1String("shrinking")) {
        path = m_dir.filePath(second);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 30));
    }

    filehash w;
    w.show();
    QString target = first;
    QList<QString> progressLabels;
    ModalResponder responder([&](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            QCOMPARE(dialog->windowTitle(), QString::fromUtf8(u8"打开文件"));
            QCOMPARE(dialog->parentWidget(), &w);
            if (target.isEmpty())
                dialog->reject();
            else
                QVERIFY(pickInFileDialog(dialog, target));
            if (target.endsWith(QLatin1String("vanishing")))
                QFile::remove(target);
        } else if (auto *dialog = qobject_cast<QProgressDialog *>(modal)) {
            progressLabels << dialog->labelText();
            QCOMPARE(dialog->parentWidget(), &w);
            if (target.endsWith(QLatin1String("shrinking"))) {
                QVERIFY(QFile::resize(target, 1 << 20));
            } else {
                dialog->findChild<QPushButton *>()->click();
            }
        } else if (auto *message = qobject_cast<QMessageBox *>(modal)) {
            responder.answerBox(message, QMessageBox::Ok);
        }
    });
    // The click returns once the dialog, the hashing and any box are done.
    QTest::mouseClick(w.btnChoose, Qt::LeftButton);
    QCOMPARE(w.leFile->text(), first);
    QCOMPARE(w.leHash->text(),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));

    target = path;
    QTest::mouseClick(w.btnChoose, Qt::LeftButton);
    QCOMPARE(responder.boxes().size(), box.isNull() ? 0 : 1);
    if (!box.isNull()) {
        QCOMPARE(responder.boxes().at(0).text, box);
        QCOMPARE(responder.boxes().at(0).parent, &w);
    }
    QCOMPARE(progressLabels.size(), progress ? 1 : 0);
    if (progress) {
        QVERIFY2(progressLabels.at(0).startsWith(QString::fromUtf8(u8"正在计算文件摘要…")),
                 qPrintable(progressLabels.at(0)));
        QVERIFY(progressLabels.at(0).contains(QStringLiteral(" / "))); // the size is known
    }
    const bool replaces = second == QLatin1String("other");
    QCOMPARE(w.leFile->text(), replaces ? path : first);
    QCOMPARE(w.leHash->text(),
             replaces
                 ? QString::fromLatin1(QCryptographicHash::hash(other, QCryptographicHash::Sha256).toHex())
                 : QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    if (progress)
        QFile::remove(path);
}

QTEST_MAIN(TestChooseFile)
#include "tst_choosefile.moc"
