#include "app/filehash.h"
#include "core/hashquery.h"
#include "core/serviceconfig.h"
#include "testsupport.h"
#include "widgets/cimg.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

const QString kHashA = QString(64, QLatin1Char('a'));
const QString kHashB = QString(64, QLatin1Char('b'));
const char kPass[] = R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})";
const char kFail[] = R"({"code":0,"data":{"result":false}})";

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// A finished hash query as the network manager would hand it to the window.
QNetworkReply *answered(const QByteArray &body, QNetworkReply::NetworkError error = QNetworkReply::NoError,
                        const QString &hash = kHashA)
{
    auto *reply = new FakeReply(hashquery::url(QStringLiteral("https://x")), body, error);
    hashquery::tag(reply, {QStringLiteral("QV1"), hash, 1, QDateTime::currentDateTime()});
    return reply;
}

// Chooses path in the window's file dialog, as a user would; returns when the digest is done.
void choose(filehash &w, const QString &path)
{
    ModalResponder responder([&](QWidget *modal) { pickInFileDialog(modal, path); });
    QTest::mouseClick(w.btnChoose, Qt::LeftButton);
}

} // namespace

// What only the window does with a verification: check its inputs, send, time, and show.
class TestVerify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { closeAllModals(); }
    void validation_data();
    void validation();
    void verdict_data();
    void verdict();
    void requestThroughWindow();
    void verdictBelongsToInputs_data();
    void verdictBelongsToInputs();
    void verdictIsReadOnly_data();
    void verdictIsReadOnly();
    void timeoutThenLateReply_data();
    void timeoutThenLateReply();

private:
    void prepare(filehash &w);
    QString panelState(filehash &w);
};

void TestVerify::initTestCase()
{
    qRegisterMetaType<QNetworkReply *>();
    QVERIFY(installServiceCa(serviceCaPem()));
}

void TestVerify::prepare(filehash &w)
{
    w.leOrder->setText(QStringLiteral("QV1"));
    // What a choice of file leaves behind.
    w.leFile->setText(QStringLiteral("/evidence/file.mp4"));
    w.leHash->setText(kHashA);
}

// "none", "pass" or "fail", checked against everything a verdict shows.
QString TestVerify::panelState(filehash &w)
{
    if (!w.imgResult->isVisibleTo(&w))
        return QStringLiteral("none");
    const bool pass = w.imgResult->imagePath == QLatin1String("res/dui.png");
    const QString heading = pass ? u(u8"该电子证据已通过验证") : u(u8"该电子证据未通过验证");
    const QString desc =
        pass ? u(u8"证明该电子证据自生成时起内容完整，未被篡改") : u(u8"证明该电子证据存在被篡改的可能");
    const QString color = pass ? QStringLiteral("color:green") : QStringLiteral("color:red");
    if (w.labResult->text() != heading || w.labResultDesc->text() != desc ||
        w.labResult->styleSheet() != color || w.labResultDesc->styleSheet() != color ||
        w.leResultTitle->text() != u(u8"验证结果") || !w.labResult->isVisibleTo(&w) ||
        !w.labResultDesc->isVisibleTo(&w) || !w.lePanel->isVisibleTo(&w) || !w.leResultTitle->isVisibleTo(&w))
        return QStringLiteral("inconsistent");
    for (QWidget *detail :
         std::initializer_list<QWidget *>{w.labApplicant, w.labTime, w.labLocation, w.labChain, w.leApplicant,
                                          w.leTime, w.leLocation, w.leChain})
        if (detail->isVisibleTo(&w) != pass)
            return QStringLiteral("inconsistent details");
    return pass ? QStringLiteral("pass") : QStringLiteral("fail");
}

void TestVerify::validation_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<bool>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing given") << "" << false << u(u8"Quorvel订单号不能为空");
    QTest::newRow("file without order") << "" << true << u(u8"Quorvel订单号不能为空");
    QTest::newRow("order without file") << "QV1" << false << u(u8"请选择取证文件");
}

void TestVerify::validation()
{
    QFETCH(QString, order);
    QFETCH(bool, file);
    QFETCH(QString, message);
    filehash w;
    if (file)
        prepare(w);
    w.leOrder->setText(order);
    ModalResponder responder;
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().at(0).title, u(u8"信息"));
    QCOMPARE(responder.boxes().at(0).text, message);
    QCOMPARE(responder.boxes().at(0).parent, &w);
    QVERIFY(!w.timer->isActive()); // nothing was sent
}

void TestVerify::verdict_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("panel"); // after a pass shown earlier: "pass" is also "unchanged"
    QTest::addColumn<QString>("box");
    QTest::newRow("pass") << QByteArray(R"({"code":0,"data":{"result":true,"userName":"N"}})") << 0 << "pass"
                          << QString();
    QTest::newRow("fail") << QByteArray(kFail) << 0 << "fail" << QString();
    QTest::newRow("message, as plain text")
        << QByteArray(R"({"code":1,"des":"<b>X</b>"})") << 0 << "pass" << QStringLiteral("<b>X</b>");
    QTest::newRow("abnormal") << QByteArray(R"({"code":0})") << 0 << "pass" << u(u8"返回信息异常");
    QTest::newRow("silent") << QByteArray("{}") << 0 << "pass" << QString();
    QTest::newRow("network failure told") << QByteArray() << int(QNetworkReply::ConnectionRefusedError)
                                          << "pass" << u(u8"网络请求失败：fake failure 1");
}

void TestVerify::verdict()
{
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QString, panel);
    QFETCH(QString, box);
    filehash w;
    prepare(w);
    w.finishedPostSlot(answered(kPass));
    QCOMPARE(panelState(w), QStringLiteral("pass"));
    QCOMPARE(w.leApplicant->text(), QStringLiteral("A"));
    QCOMPARE(w.leTime->text(), QStringLiteral("T"));
    QCOMPARE(w.leLocation->text(), QStringLiteral("D"));
    QCOMPARE(w.leChain->text(), kHashA);

    ModalResponder responder;
    w.finishedPostSlot(answered(body, QNetworkReply::NetworkError(error)));
    QCOMPARE(panelState(w), panel);
    QCOMPARE(responder.boxes().size(), box.isNull() ? 0 : 1);
    if (!box.isNull()) {
        QCOMPARE(responder.boxes().at(0).title, u(u8"信息"));
        QCOMPARE(responder.boxes().at(0).text, box);
        QCOMPARE(responder.boxes().at(0).parent, &w);
        if (box.contains(QLatin1Char('<')))
            QCOMPARE(responder.boxes().at(0).format, Qt::PlainText);
    }
}

// The window's request goes out with the inputs on screen and keeps its timer until the answer.
void TestVerify::requestThroughWindow()
{
    TestHttpsServer server;
    setTestServiceBaseUrl(server.url());
    std::atomic<bool> release{false};
    server.setHandler([&release](const TestHttpsServer::Request &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        TestHttpsServer::Reply reply;
        reply.body = kPass;
        return reply;
    });
    filehash w;
    w.show();
    prepare(w);
    w.cbType->setCurrentIndex(17);
    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QVERIFY(w.timer->isActive());
    QCOMPARE(w.timer->interval(), 50000);
    QTRY_COMPARE(int(server.requests().size()), 1);
    QCOMPARE(QByteArray::fromStdString(server.requests()[0].body),
             hashquery::body(QStringLiteral("QV1"), kHashA, 18));
    release = true;
    QVERIFY(finished.wait(20000));
    QVERIFY(!w.timer->isActive());
    QCOMPARE(panelState(w), QStringLiteral("pass"));
}

void TestVerify::verdictBelongsToInputs_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("shown"); // the answer that comes afterwards
    QTest::newRow("type") << "type" << false;
    QTest::newRow("order") << "order" << false;
    QTest::newRow("another file") << "another file" << false;
    QTest::newRow("same file again") << "same file again" << true;
    QTest::newRow("order typed back") << "order typed back" << true;
}

void TestVerify::verdictBelongsToInputs()
{
    QFETCH(QString, change);
    QFETCH(bool, shown);
    QTemporaryDir dir;
    const QString a = writeTestFile(dir.path(), QStringLiteral("a.bin"), "evidence a");
    const QString b = writeTestFile(dir.path(), QStringLiteral("b.bin"), "evidence b");
    filehash w;
    w.leOrder->setText(QStringLiteral("QV1"));
    choose(w, a);
    const QString sentHash = w.leHash->text();
    QCOMPARE(sentHash.size(), 64);
    w.finishedPostSlot(answered(kPass, QNetworkReply::NoError, sentHash));
    QCOMPARE(panelState(w), QStringLiteral("pass"));

    // A second request for the same inputs is under way when they change.
    if (change == QLatin1String("type"))
        w.cbType->setCurrentIndex(5);
    else if (change == QLatin1String("order"))
        w.leOrder->setText(QStringLiteral("QV2"));
    else if (change == QLatin1String("another file"))
        choose(w, b);
    else if (change == QLatin1String("same file again"))
        choose(w, a);
    else
        w.leOrder->setText(QStringLiteral("QV")), w.leOrder->setText(QStringLiteral("QV1"));
    QCOMPARE(panelState(w), QStringLiteral("none"));

    ModalResponder responder;
    w.finishedPostSlot(answered(kPass, QNetworkReply::NoError, sentHash));
    QCOMPARE(panelState(w), shown ? QStringLiteral("pass") : QStringLiteral("none"));
    QCOMPARE(responder.boxes().size(), shown ? 0 : 1);
    if (!shown)
        QCOMPARE(responder.boxes().at(0).text, u(u8"输入已更改，请重新验证"));
}

void TestVerify::verdictIsReadOnly_data()
{
    QTest::addColumn<QString>("field");
    for (const char *name : {"leFile", "leApplicant", "leTime", "leLocation", "leChain"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestVerify::verdictIsReadOnly()
{
    QFETCH(QString, field);
    filehash w;
    prepare(w);
    w.finishedPostSlot(answered(kPass));
    auto *edit = w.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    const QString before = edit->text();
    QGuiApplication::clipboard()->setText(QStringLiteral("forged"));
    // Every way a user has: the keys, and the context menu.
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    for (Qt::Key key : {Qt::Key_V, Qt::Key_X, Qt::Key_Z, Qt::Key_Y})
        QTest::keyClick(edit, key, Qt::ControlModifier);
    for (Qt::Key key : {Qt::Key_Delete, Qt::Key_Backspace})
        QTest::keyClick(edit, key);
    QTest::keyClicks(edit, QStringLiteral("forged"));
    QCOMPARE(edit->text(), before);
    const std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
    for (QAction *action : menu->actions()) {
        const QString name = action->objectName();
        if (name == QLatin1String("edit-paste") || name == QLatin1String("edit-cut") ||
            name == QLatin1String("edit-delete") || name == QLatin1String("edit-undo") ||
            name == QLatin1String("edit-redo"))
            QVERIFY2(!action->isEnabled() || !action->isVisible(), qPrintable(name));
    }
    // Copying stays: a lawyer copies the digest.
    edit->selectAll();
    edit->copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), before);
}

void TestVerify::timeoutThenLateReply_data()
{
    QTest::addColumn<bool>("replyWhileBoxOpen");
    QTest::newRow("box closed, then the reply") << false;
    QTest::newRow("reply while the box is open") << true;
}

void TestVerify::timeoutThenLateReply()
{
    QFETCH(bool, replyWhileBoxOpen);
    filehash w;
    prepare(w);
    w.timer->start(50000);
    ModalResponder responder([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        if (replyWhileBoxOpen) {
            // The verdict comes to stand behind the box.
            w.finishedPostSlot(answered(kPass));
            QCOMPARE(panelState(w), QStringLiteral("pass"));
        }
        responder.answerBox(box, QMessageBox::Ok);
    });
    // The 50 seconds are not waited for: the timer's slot is called as the timer would.
    const QByteArray out = captureStdout([&] { w.onTimeout(); });
    // Qt Test writes its own log to the same stream; the line is ours alone.
    QVERIFY2(out.startsWith("qrdiag net time out\n"), out.constData());
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().at(0).text, u(u8"服务器响应超时"));
    QVERIFY(responder.boxes().at(0).parent == nullptr);
    QVERIFY(!w.timer->isActive());
    w.finishedPostSlot(answered(kPass));
    QCOMPARE(panelState(w), QStringLiteral("pass"));
}

QTEST_MAIN(TestVerify)
#include "tst_verify.moc"
