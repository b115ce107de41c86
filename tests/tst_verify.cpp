// What only the window does with a verification: choose and hash the file, check the inputs, send,
// time, show, keep the verdict to the inputs on screen, take dropped files and save receipts.
#include "app/filehash.h"
#include "core/hashquery.h"
#include "core/receipt.h"
#include "core/serviceconfig.h"
#include "testsupport.h"
#include "widgets/cimg.h"

#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace
{

const QString kHashA = QString(64, QLatin1Char('a'));
const char kPass[] = R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})";
const char kFail[] = R"({"code":0,"data":{"result":false}})";

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// A finished hash query as the network manager hands it to the window; by default for the inputs
// prepare() puts on screen.
QNetworkReply *answered(const QByteArray &body, QNetworkReply::NetworkError error = QNetworkReply::NoError,
                        const QString &hash = kHashA, const QString &order = QStringLiteral("QV1"))
{
    auto *reply = new FakeReply(hashquery::url(QStringLiteral("https://x")), body, error);
    hashquery::tag(reply, {order, hash, 1, QDateTime::currentDateTime()});
    return reply;
}

// Hands the window a pass for its inputs that must show without any box (a box nobody answers
// would hang the test instead of failing it).
void showPass(filehash &w, const QString &hash = kHashA, const QString &order = QStringLiteral("QV1"))
{
    ModalResponder responder;
    w.finishedPostSlot(answered(kPass, QNetworkReply::NoError, hash, order));
    QVERIFY2(responder.boxes().isEmpty(), qPrintable(responder.boxes().value(0).text));
}

void prepare(filehash &w)
{
    w.leOrder->setText(QStringLiteral("QV1"));
    w.leFile->setText(QStringLiteral("/evidence/file.mp4")); // what a choice of file leaves behind
    w.leHash->setText(kHashA);
}

// Chooses path in the window's file dialog, as a user would; returns when the digest is done.
void choose(filehash &w, const QString &path)
{
    ModalResponder responder([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!pickInFileDialog(modal, path) && box)
            responder.answerBox(box, QMessageBox::Ok);
    });
    QTest::mouseClick(w.btnChoose, Qt::LeftButton);
    QVERIFY2(responder.boxes().isEmpty(), qPrintable(responder.boxes().value(0).text));
}

// Drags urls onto the order field, where a drop of text would land, and drops them.
void dropOn(filehash &w, const QList<QUrl> &urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    mime.setText(urls.first().toString()); // as file managers offer it: text a line edit would take
    const QPoint at = w.leOrder->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.leOrder, &enter);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.leOrder, &drop);
    QVERIFY(enter.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction); // the source never deletes what it gave
}

// "none", "pass" or "fail", checked against everything a verdict shows.
QString panelState(filehash &w)
{
    if (!w.imgResult->isVisibleTo(&w))
        return QStringLiteral("none");
    const bool pass = w.imgResult->imagePath == QLatin1String("res/dui.png");
    const QString color = pass ? QStringLiteral("color:green") : QStringLiteral("color:red");
    if (w.labResult->text() != (pass ? u(u8"该电子证据已通过验证") : u(u8"该电子证据未通过验证")) ||
        w.labResultDesc->text() != (pass ? u(u8"证明该电子证据自生成时起内容完整，未被篡改")
                                         : u(u8"证明该电子证据存在被篡改的可能")) ||
        w.labResult->styleSheet() != color || w.labResultDesc->styleSheet() != color ||
        w.leResultTitle->text() != u(u8"验证结果") || !w.labResult->isVisibleTo(&w) ||
        !w.lePanel->isVisibleTo(&w) || !w.btnReceipt->isVisibleTo(&w))
        return QStringLiteral("inconsistent");
    for (QWidget *detail :
         std::initializer_list<QWidget *>{w.labApplicant, w.labTime, w.labLocation, w.labChain, w.leApplicant,
                                          w.leTime, w.leLocation, w.leChain})
        if (detail->isVisibleTo(&w) != pass)
            return QStringLiteral("inconsistent details");
    for (QLabel *label : {w.labResult, w.labResultDesc}) {
        if (label->width() < label->fontMetrics().horizontalAdvance(label->text()))
            return QStringLiteral("clipped ") + label->text();
    }
    return pass ? QStringLiteral("pass") : QStringLiteral("fail");
}

} // namespace

class TestVerify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(installServiceCa(testCaPem())); }
    void cleanup() { closeAllModals(); }

    void verdict_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("panel"); // after a pass shown earlier: "pass" is also "unchanged"
        QTest::addColumn<QString>("box");
        const int refused = QNetworkReply::ConnectionRefusedError;
        QTest::newRow("pass") << QByteArray(R"({"code":0,"data":{"result":true}})") << 0 << "pass"
                              << QString();
        QTest::newRow("fail") << QByteArray(kFail) << 0 << "fail" << QString();
        QTest::newRow("message, as plain text") << QByteArray(R"({"code":1,"des":"<b>X</b>"})") << 0 << "pass"
                                                << "<b>X</b>";
        QTest::newRow("abnormal") << QByteArray(R"({"code":0})") << 0 << "pass" << u(u8"返回信息异常");
        QTest::newRow("silent") << QByteArray("{}") << 0 << "pass" << QString();
        QTest::newRow("network failure")
            << QByteArray() << refused << "pass" << u(u8"网络请求失败：fake failure 1");
    }
    void verdict()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, error);
        QFETCH(QString, panel);
        QFETCH(QString, box);
        filehash w;
        prepare(w);
        showPass(w);
        QCOMPARE(panelState(w), QStringLiteral("pass"));
        QCOMPARE(w.leApplicant->text() + w.leTime->text() + w.leLocation->text(), QStringLiteral("ATD"));
        QCOMPARE(w.leChain->text(), kHashA);
        // What the verdict shows came from the service or the digest: no key changes it.
        QGuiApplication::clipboard()->setText(QStringLiteral("forged"));
        for (QLineEdit *edit : {w.leFile, w.leApplicant, w.leTime, w.leLocation, w.leChain}) {
            const QString before = edit->text();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QCOMPARE(edit->text(), before);
        }

        ModalResponder responder;
        w.finishedPostSlot(answered(body, QNetworkReply::NetworkError(error)));
        QCOMPARE(panelState(w), panel);
        QCOMPARE(responder.boxes().size(), box.isNull() ? 0 : 1);
        if (!box.isNull()) {
            QCOMPARE(responder.boxes().at(0).text, box);
            QCOMPARE(responder.boxes().at(0).parent, &w);
            if (box.contains(QLatin1Char('<')))
                QCOMPARE(responder.boxes().at(0).format, Qt::PlainText);
        }
        showPass(w);
        QCOMPARE(panelState(w), QStringLiteral("pass"));
    }

    // All 64 digits show from the first, in the widest digits of the font the window got: the
    // field shows the same whether its cursor is at the start or at the end, so nothing scrolled.
    void digestShownWhole()
    {
        filehash w;
        prepare(w);
        w.show();
        QChar widest = QLatin1Char('0');
        for (const QChar ch : QStringLiteral("0123456789abcdef")) {
            const QFontMetrics metrics = w.leApplicant->fontMetrics(); // the field font, as substituted
            if (metrics.horizontalAdvance(ch) > metrics.horizontalAdvance(widest))
                widest = ch;
        }
        const QString digest(64, widest);
        w.leHash->setText(digest);
        showPass(w, digest);
        QCOMPARE(w.leChain->text(), digest);
        QCOMPARE(w.leChain->cursorPosition(), 0);
        const QImage atStart = w.leChain->grab().toImage();
        w.leChain->setCursorPosition(64);
        QCOMPARE(w.leChain->grab().toImage(), atStart);
    }

    void verdictBelongsToInputs_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("shown"); // the answer that comes afterwards
        for (const char *change : {"type", "order", "another file"})
            QTest::newRow(change) << change << false;
        for (const char *change : {"same file again", "order typed back"})
            QTest::newRow(change) << change << true;
    }
    void verdictBelongsToInputs()
    {
        QFETCH(QString, change);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        const QString a = writeTestFile(dir.path(), QStringLiteral("a.bin"), "evidence a");
        filehash w;
        w.leOrder->setText(QStringLiteral("QV1"));
        choose(w, a);
        const QString sentHash = w.leHash->text();
        QCOMPARE(sentHash.size(), 64);
        showPass(w, sentHash);
        QCOMPARE(panelState(w), QStringLiteral("pass"));

        // A second request for the same inputs is under way when they change.
        if (change == QLatin1String("type"))
            w.cbType->setCurrentIndex(5);
        else if (change == QLatin1String("order"))
            w.leOrder->setText(QStringLiteral("QV2"));
        else if (change == QLatin1String("another file"))
            choose(w, writeTestFile(dir.path(), QStringLiteral("b.bin"), "evidence b"));
        else if (change == QLatin1String("same file again"))
            choose(w, a);
        else
            w.leOrder->setText(QStringLiteral("QV")), w.leOrder->setText(QStringLiteral("QV1"));
        QCOMPARE(panelState(w), QStringLiteral("none"));

        ModalResponder responder;
        w.finishedPostSlot(answered(kPass, QNetworkReply::NoError, sentHash));
        QCOMPARE(panelState(w), shown ? QStringLiteral("pass") : QStringLiteral("none"));
        QCOMPARE(responder.boxes().size(), shown ? 0 : 1);
        QCOMPARE(responder.boxes().value(0).text, shown ? QString() : u(u8"输入已更改，请重新验证"));
    }

    // The time-out is told, and a late verdict still shows: behind the open box, and after it.
    void timeoutThenLateReply()
    {
        filehash w;
        prepare(w);
        w.timer->start(50000);
        bool late = true;
        QString behind;
        ModalResponder responder([&](QWidget *modal) {
            if (std::exchange(late, false))
                w.finishedPostSlot(answered(kFail));
            behind = panelState(w);
            responder.answerBox(qobject_cast<QMessageBox *>(modal), QMessageBox::Ok);
        });
        w.onTimeout(); // as the timer would, without waiting the 50 seconds
        QCOMPARE(behind, QStringLiteral("fail"));
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).text, u(u8"服务器响应超时"));
        QVERIFY(responder.boxes().at(0).parent == nullptr);
        QVERIFY(!w.timer->isActive());
        w.finishedPostSlot(answered(kPass));
        QCOMPARE(panelState(w), QStringLiteral("pass"));
    }

    // A choice of file ends in the file's digest, or is told and leaves the earlier choice in place.
    void chooseFile_data()
    {
        QTest::addColumn<QString>("second"); // what the second choice picks
        QTest::addColumn<QString>("box");    // what it tells, if anything
        QTest::addColumn<bool>("progress");  // whether a progress dialog shows
        QTest::newRow("another file") << "other" << QString() << false;
        QTest::newRow("cancelled dialog") << "" << QString() << false;
        QTest::newRow("empty file") << "empty" << u(u8"所选文件为空") << false;
        QTest::newRow("gone before reading") << "vanishing" << u(u8"无法读取所选文件") << false;
        // A sparse file: no disk, far too long to hash here, so the progress dialog comes up.
        QTest::newRow("long hash cancelled") << "large" << QString() << true;
        QTest::newRow("cut short while hashed")
            << "shrinking" << u(u8"文件在读取过程中被修改，请重新选择") << true;
    }
    void chooseFile()
    {
        QFETCH(QString, second);
        QFETCH(QString, box);
        QFETCH(bool, progress);
        const QString abc =
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        const QString first = writeTestFile(m_dir.path(), QStringLiteral("first.txt"), "abc");
        const QByteArray other(100000, 'x');
        const QByteArray content = second == QLatin1String("other") ? other : QByteArray(second.size(), 'y');
        const QString path = second.isEmpty() ? QString() : writeTestFile(m_dir.path(), second, content);
        if (second == QLatin1String("empty"))
            QVERIFY(QFile::resize(path, 0));
        if (progress)
            QVERIFY(QFile::resize(path, qint64(64) << 30));
        filehash w;
        w.show();
        QString target = first;
        QStringList progressLabels;
        QElapsedTimer clock; // a long hash shows its progress within half a second
        qint64 shownAfter = 0;
        ModalResponder responder([&](QWidget *modal) {
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                QCOMPARE(dialog->windowTitle(), u(u8"打开文件"));
                if (target.isEmpty())
                    dialog->reject();
                else
                    QVERIFY(pickInFileDialog(dialog, target));
                if (target.endsWith(QLatin1String("vanishing")))
                    QFile::remove(target);
            } else if (auto *dialog = qobject_cast<QProgressDialog *>(modal)) {
                progressLabels << dialog->labelText();
                shownAfter = clock.elapsed();
                if (target.endsWith(QLatin1String("shrinking")))
                    QVERIFY(QFile::resize(target, 1 << 20));
                else
                    dialog->findChild<QPushButton *>()->click();
            } else if (auto *message = qobject_cast<QMessageBox *>(modal)) {
                responder.answerBox(message, QMessageBox::Ok);
            }
        });
        // The click returns once the dialog, the hashing and any box are done.
        QTest::mouseClick(w.btnChoose, Qt::LeftButton);
        QCOMPARE(w.leFile->text() + w.leHash->text(), first + abc);
        target = path;
        clock.start();
        QTest::mouseClick(w.btnChoose, Qt::LeftButton);
        QCOMPARE(responder.boxes().size(), box.isNull() ? 0 : 1);
        QCOMPARE(responder.boxes().value(0).text, box);
        QCOMPARE(progressLabels.size(), progress ? 1 : 0);
        QVERIFY2(shownAfter < 2500, qPrintable(QString::number(shownAfter)));
        if (progress) // the size is known
            QVERIFY2(progressLabels.at(0).startsWith(u(u8"正在计算文件摘要…")) &&
                         progressLabels.at(0).contains(QStringLiteral(" / ")),
                     qPrintable(progressLabels.at(0)));
        const bool replaces = second == QLatin1String("other");
        QCOMPARE(w.leFile->text(), replaces ? path : first);
        QCOMPARE(w.leHash->text(),
                 replaces ? QString::fromLatin1(
                                QCryptographicHash::hash(other, QCryptographicHash::Sha256).toHex())
                          : abc);
        if (progress)
            QFile::remove(path);
    }

    // One dropped local file is chosen as if picked; anything else is told and changes nothing.
    void drop_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("chosen");
        const QUrl file = QUrl::fromLocalFile(writeTestFile(m_dir.path(), QStringLiteral("e.pdf"), "e"));
        QTest::newRow("one file") << QList<QUrl>{file} << true;
        QTest::newRow("two files") << QList<QUrl>{file, file} << false;
        QTest::newRow("a folder") << QList<QUrl>{QUrl::fromLocalFile(m_dir.path())} << false;
    }
    void drop()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, chosen);
        filehash w;
        prepare(w);
        showPass(w);
        ModalResponder responder;
        dropOn(w, urls);
        if (chosen) {
            QTRY_COMPARE(w.leFile->text(), urls.first().toLocalFile());
            QCOMPARE(w.leHash->text(),
                     QString::fromLatin1(QCryptographicHash::hash("e", QCryptographicHash::Sha256).toHex()));
            QCOMPARE(panelState(w), QStringLiteral("none"));
            QVERIFY(responder.boxes().isEmpty());
        } else {
            QTRY_COMPARE(responder.boxes().size(), 1);
            QCOMPARE(responder.boxes().first().text, u(u8"请只拖入一个本地文件"));
            QCOMPARE(w.leFile->text(), QStringLiteral("/evidence/file.mp4"));
            QCOMPARE(panelState(w), QStringLiteral("pass"));
        }
        QCOMPARE(w.leOrder->text(), QStringLiteral("QV1"));
    }

    // The receipt of the verdict on screen, saved where the user says, starting in the documents
    // folder and then in the folder used last, never beside the evidence unless chosen; told when
    // saved; a receipt of the same name is replaced only on a yes. Stamped as it is saved when an
    // authority is set and answers; else saved unstamped, with the reason.
    void receipt()
    {
        QTemporaryDir dir;
        const QString evidence = writeTestFile(dir.path(), QStringLiteral("r.mp4"), QByteArray(5000, 'r'));
        const QString base = m_dir.filePath(QStringLiteral("receipt"));
        const TestTsa authority;
        filehash w;
        w.leOrder->setText(QStringLiteral("QV7"));
        choose(w, evidence);
        showPass(w, w.leHash->text(), QStringLiteral("QV7"));
        QCOMPARE(panelState(w), QStringLiteral("pass"));
        QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!QFileInfo(documents).isDir())
            documents = QDir::homePath();
        QString startsIn = documents;
        const QString unreachable = QStringLiteral("https://localhost:1");
        for (const auto &[existing, tsa] :
             std::initializer_list<std::pair<const char *, QString>>{{"", QString()},
                                                                     {".json", QString()},
                                                                     {".pdf", QString()},
                                                                     {"", unreachable},
                                                                     {"", authority.url()}}) {
            for (const char *suffix : {".json", ".pdf", ".tsr"})
                QFile::remove(base + QLatin1String(suffix));
            if (*existing)
                QVERIFY(
                    !writeTestFile(m_dir.path(), QStringLiteral("receipt") + QLatin1String(existing), "old")
                         .isEmpty());
            w.setTimeStampAuthority(tsa, TestTsa::caPem());
            const bool replace = qstrcmp(existing, ".pdf") == 0; // yes to the one, no to the other
            QString dialogFolder;
            ModalResponder responder([&](QWidget *modal) {
                if (auto *dialog = qobject_cast<QFileDialog *>(modal))
                    dialogFolder = dialog->directory().absolutePath();
                if (!pickInFileDialog(modal, base + QStringLiteral(".pdf")))
                    if (auto *box = qobject_cast<QMessageBox *>(modal))
                        responder.answerBox(box, replace ? QMessageBox::Yes : QMessageBox::No);
            });
            w.btnReceipt->click();
            QCOMPARE(dialogFolder, QDir(startsIn).absolutePath());
            startsIn = m_dir.path();
            const bool saved = !*existing || replace, stamped = tsa == authority.url();
            QCOMPARE(responder.boxes().size(), (*existing ? 1 : 0) + (saved ? 1 : 0));
            const QString told = responder.boxes().last().text;
            const QString files = u(u8"已保存：\n") + base + QStringLiteral(".pdf\n") + base +
                                  QStringLiteral(".json") +
                                  (stamped ? QLatin1Char('\n') + base + QStringLiteral(".tsr") : QString()) +
                                  QStringLiteral("\n\n");
            if (!saved)
                QCOMPARE(told, u(u8"同名的验证报告已存在，是否替换？"));
            else if (tsa.isEmpty())
                QCOMPARE(told, files + u(u8"未能取得时间戳：未配置时间戳机构"));
            else
                QVERIFY2(told.startsWith(
                             files + (stamped ? u(u8"已加盖时间戳：O=filehash") : u(u8"未能取得时间戳："))) &&
                             !told.endsWith(u(u8"未配置时间戳机构")),
                         qPrintable(told));
            QCOMPARE(QFile::exists(base + QStringLiteral(".tsr")), stamped);
            QFile json(base + QStringLiteral(".json"));
            const std::optional<Receipt> r =
                json.open(QIODevice::ReadOnly) ? readReceiptJson(json.readAll()) : std::nullopt;
            QCOMPARE(r.has_value(), saved);
            if (r) {
                QCOMPARE(r->filePath + QString::number(r->fileSize) + r->order,
                         evidence + QStringLiteral("5000QV7"));
                QCOMPARE(r->stamp.has_value(), stamped);
                QVERIFY(QFile::exists(base + QStringLiteral(".pdf")));
            }
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestVerify)
#include "tst_verify.moc"
