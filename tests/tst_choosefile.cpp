#include "app/filehash.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// Drives the real file dialog, progress dialog and message boxes of the choose-file button.
class TestChooseFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { closeAllModals(); }

    void choices_data();
    void choices();
    void sameFileTwiceSameDigest();
    void digestIsThatOfTheMomentOfChoosing();
    void cancelLongHash_data();
    void cancelLongHash();
    void fileGrowingWhileHashedGivesNoDigest();

private:
    QString writeFile(const QString &name, const QByteArray &content);
    struct Outcome {
        QList<SeenBox> boxes;
        int progressDialogs = 0;
        QString progressLabel;
        int progressMaximum = -1;
    };
    // Clicks the choose button; the dialog picks `path` (empty: cancel). A progress dialog is handed
    // to onProgress, if given.
    Outcome choose(filehash &w, const QString &path,
                   const std::function<void(QProgressDialog *)> &onProgress = {},
                   const std::function<void()> &afterAccept = {});
    QTemporaryDir m_dir;
};

QString TestChooseFile::writeFile(const QString &name, const QByteArray &content)
{
    return writeTestFile(m_dir.path(), name, content);
}

static QString sha256(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

TestChooseFile::Outcome TestChooseFile::choose(filehash &w, const QString &path,
                                               const std::function<void(QProgressDialog *)> &onProgress,
                                               const std::function<void()> &afterAccept)
{
    Outcome outcome;
    ModalResponder *responder = nullptr;
    ModalResponder local([&](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            QCOMPARE(dialog->windowTitle(), QString::fromUtf8(u8"打开文件"));
            QCOMPARE(dialog->parentWidget(), &w);
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                QVERIFY(pickInFileDialog(dialog, path));
                if (afterAccept)
                    afterAccept();
            }
        } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
            ++outcome.progressDialogs;
            outcome.progressLabel = progress->labelText();
            outcome.progressMaximum = progress->maximum();
            QCOMPARE(progress->parentWidget(), &w);
            if (onProgress)
                onProgress(progress);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            responder->answerBox(box, QMessageBox::Ok);
        }
    });
    responder = &local;
    // The click returns once the dialog, the hashing and any box are done.
    bool returned = false;
    QTimer::singleShot(0, w.btnChoose, [&] {
        w.btnChoose->click();
        returned = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!returned && clock.elapsed() < 60000)
        QTest::qWait(10);
    if (!returned)
        qWarning("the choice did not end within 60 s");
    outcome.boxes = local.boxes();
    return outcome;
}

void TestChooseFile::choices_data()
{
    QTest::addColumn<QString>("second"); // what the second choice picks
    QTest::addColumn<QString>("box");    // message shown for it, if any
    QTest::addColumn<bool>("replaces");
    QTest::newRow("another file") << "other" << QString() << true;
    QTest::newRow("cancel") << "" << QString() << false;
    QTest::newRow("empty file") << "empty" << QString::fromUtf8(u8"所选文件为空") << false;
    QTest::newRow("file gone before reading")
        << "vanishing" << QString::fromUtf8(u8"无法读取所选文件") << false;
}

void TestChooseFile::choices()
{
    QFETCH(QString, second);
    QFETCH(QString, box);
    QFETCH(bool, replaces);
    const QByteArray firstContent("first evidence\n");
    const QString first = writeFile(QStringLiteral("first.txt"), firstContent);
    const QByteArray otherContent(100000, 'x');
    QString secondPath;
    std::function<void()> afterAccept;
    if (second == QLatin1String("other")) {
        secondPath = writeFile(QStringLiteral("other.bin"), otherContent);
    } else if (second == QLatin1String("empty")) {
        secondPath = writeFile(QStringLiteral("empty.bin"), QByteArray());
    } else if (second == QLatin1String("vanishing")) {
        secondPath = writeFile(QStringLiteral("vanishing.bin"), "soon gone");
        afterAccept = [secondPath] { QFile::remove(secondPath); };
    }

    filehash w;
    w.show();
    Outcome one = choose(w, first);
    QVERIFY(one.boxes.isEmpty());
    QCOMPARE(w.leFile->text(), first);
    QCOMPARE(w.leHash->text(), sha256(firstContent));

    Outcome two = choose(w, secondPath, {}, afterAccept);
    if (box.isEmpty()) {
        QVERIFY(two.boxes.isEmpty());
    } else {
        QCOMPARE(two.boxes.size(), 1);
        QCOMPARE(two.boxes.at(0).title, QString::fromUtf8(u8"信息"));
        QCOMPARE(two.boxes.at(0).text, box);
        QCOMPARE(two.boxes.at(0).parent, &w);
    }
    QCOMPARE(w.leFile->text(), replaces ? secondPath : first);
    QCOMPARE(w.leHash->text(), replaces ? sha256(otherContent) : sha256(firstContent));
    QCOMPARE(w.leHash->text().size(), 64);
}

void TestChooseFile::sameFileTwiceSameDigest()
{
    const QString path = writeFile(QStringLiteral("twice.txt"), "abc");
    filehash w;
    w.show();
    choose(w, path);
    QCOMPARE(w.leHash->text(),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    w.leHash->setText(QStringLiteral("stale"));
    choose(w, path);
    QCOMPARE(w.leFile->text(), path);
    QCOMPARE(w.leHash->text(),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

void TestChooseFile::digestIsThatOfTheMomentOfChoosing()
{
    const QString path = writeFile(QStringLiteral("changing.txt"), "before");
    filehash w;
    w.show();
    choose(w, path);
    const QString before = w.leHash->text();
    QCOMPARE(before, sha256("before"));
    writeFile(QStringLiteral("changing.txt"), "after");
    QTest::qWait(50);
    QCOMPARE(w.leHash->text(), before);
}

void TestChooseFile::cancelLongHash_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("sizeKnown");
    QTest::newRow("large file") << "sparse" << true;
#ifdef Q_OS_UNIX
    QTest::newRow("endless device") << "/dev/zero" << false;
#endif
}

void TestChooseFile::cancelLongHash()
{
    QFETCH(QString, source);
    QFETCH(bool, sizeKnown);
    QString path = source;
    if (source == QLatin1String("sparse")) {
        path = m_dir.filePath(QStringLiteral("large.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(64) << 30)); // sparse: takes no disk, far too long to finish here
    }
    const QString kept = writeFile(QStringLiteral("kept.txt"), "kept");
    filehash w;
    w.show();
    choose(w, kept);
    QCOMPARE(w.leFile->text(), kept);

    const Outcome outcome = choose(w, path, [](QProgressDialog *progress) {
        QTest::qWait(300); // let it show progress first
        auto *cancel = progress->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QString::fromUtf8(u8"取消"));
        cancel->click();
    });
    QCOMPARE(outcome.progressDialogs, 1);
    QVERIFY(outcome.boxes.isEmpty());
    QVERIFY2(outcome.progressLabel.startsWith(QString::fromUtf8(u8"正在计算文件摘要…")),
             qPrintable(outcome.progressLabel));
    QCOMPARE(outcome.progressLabel.contains(QStringLiteral(" / ")), sizeKnown);
    QCOMPARE(outcome.progressMaximum == 0, !sizeKnown); // a busy indicator when the size is unknown
    QCOMPARE(w.leFile->text(), kept);
    QCOMPARE(w.leHash->text(), sha256("kept"));
    QFile::remove(m_dir.filePath(QStringLiteral("large.bin")));
}

void TestChooseFile::fileGrowingWhileHashedGivesNoDigest()
{
    const QString path = m_dir.filePath(QStringLiteral("growing.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(4) << 30));
    }
    filehash w;
    w.show();
    const Outcome outcome = choose(w, path, [path](QProgressDialog *) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write("appended", 8) == 8);
    });
    QCOMPARE(outcome.progressDialogs, 1);
    QCOMPARE(outcome.boxes.size(), 1);
    QCOMPARE(outcome.boxes.at(0).text, QString::fromUtf8(u8"文件在读取过程中被修改，请重新选择"));
    QVERIFY(w.leFile->text().isEmpty());
    QVERIFY(w.leHash->text().isEmpty());
    QFile::remove(path);
}

QTEST_MAIN(TestChooseFile)
#include "tst_choosefile.moc"
