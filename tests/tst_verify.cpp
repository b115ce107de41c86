#include "cimg.h"
#include "filehash.h"
#include "serviceconfig.h"
#include "testconfig.h"
#include "testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

const QString kHashA = QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
const QString kHashB = QStringLiteral("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
const char kPass[] = R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})";
const char kFail[] = R"({"code":0,"data":{"result":false}})";

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Answers every request with a fixed status and body.
TestHttpsServer::Handler answer(int status, const std::string &body)
{
    return [status, body](const httplib::Request &, httplib::Response &res) {
        res.status = status;
        res.set_content(body, "application/json");
    };
}

// Answers with body once release is set (or after 10 s), so a request can be kept under way.
TestHttpsServer::Handler heldAnswer(std::atomic<bool> &release, const char *body)
{
    return [&release, body](const httplib::Request &, httplib::Response &res) {
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        res.set_content(body, "application/json");
    };
}

} // namespace

// The verify button end to end against a real HTTPS server on the loopback interface.
class TestVerify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void requestAsReceived_data();
    void requestAsReceived();
    void typeCodeSent();
    void twoClicksTwoIdenticalRequests();
    void validation_data();
    void validation();

    void answers_data();
    void answers();
    void passAfterFailAndBack();
    void chainIsTheDigestSent();

    void failures_data();
    void failures();
    void connectionClosedMidAnswer();
    void endlessAnswer();

    void timerFollowsRequests();
    void timeoutThenLateReply_data();
    void timeoutThenLateReply();
    void silentServer();

private:
    // Clicks the verify button and waits until `replies` replies have finished (and been handled).
    void clickAndWait(filehash &w, int replies = 1);
    void prepare(filehash &w, const QString &order = QStringLiteral("QV1"), const QString &hash = kHashA);
    // Starts the test server on the compiled-in port with the given certificate and handler.
    void serve(TestHttpsServer::Handler handler, const QString &cert = QStringLiteral("server"));
    QString panelState(filehash &w);

    std::unique_ptr<TestHttpsServer> m_server;
    std::unique_ptr<ModalResponder> m_responder;
};

void TestVerify::initTestCase()
{
    qRegisterMetaType<QNetworkReply *>();
    QVERIFY(installServiceCa());
    QCOMPARE(serviceBaseUrl(), QStringLiteral(FILEHASH_TEST_URL));
}

void TestVerify::cleanup()
{
    m_responder.reset();
    closeAllModals();
    m_server.reset();
}

void TestVerify::serve(TestHttpsServer::Handler handler, const QString &cert)
{
    m_server.reset(new TestHttpsServer(cert, FILEHASH_TEST_PORT));
    QVERIFY2(m_server->isRunning(), "the test server did not start");
    m_server->setHandler(std::move(handler));
}

void TestVerify::prepare(filehash &w, const QString &order, const QString &hash)
{
    w.leOrder->setText(order);
    // What a choice of file leaves behind.
    w.leFile->setText(QStringLiteral("/evidence/file.mp4"));
    w.leHash->setText(hash);
}

void TestVerify::clickAndWait(filehash &w, int replies)
{
    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    for (int i = 0; i < replies; ++i)
        QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), replies, 20000);
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
    if (w.imgResult->size() != QSize(40, 40) && !w.imgResult->size().isEmpty())
        return QStringLiteral("bad icon size");
    return pass ? QStringLiteral("pass") : QStringLiteral("fail");
}

void TestVerify::requestAsReceived_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<QByteArray>("body");
    const QByteArray hash = kHashA.toLatin1();
    QTest::newRow("plain") << "QV20261206000001"
                           << QByteArray(R"({"hash":")" + hash +
                                         R"(","quorvelOrder":"QV20261206000001","type":"1"})");
    QTest::newRow("chinese, as UTF-8")
        << u(u8"订单一号")
        << QByteArray(R"({"hash":")" + hash + u8R"(","quorvelOrder":"订单一号","type":"1"})");
    QTest::newRow("quote and backslash")
        << u(R"(a"b\c)") << QByteArray(R"({"hash":")" + hash + R"(","quorvelOrder":"a\"b\\c","type":"1"})");
    QTest::newRow("blanks kept") << "  QV 1 "
                                 << QByteArray(R"({"hash":")" + hash +
                                               R"(","quorvelOrder":"  QV 1 ","type":"1"})");
}

void TestVerify::requestAsReceived()
{
    QFETCH(QString, order);
    QFETCH(QByteArray, body);
    serve(answer(200, kFail));
    filehash w;
    w.show();
    prepare(w, order);
    clickAndWait(w);
    const auto requests = m_server->requests();
    QCOMPARE(int(requests.size()), 1);
    QCOMPARE(QByteArray::fromStdString(requests[0].method), QByteArray("POST"));
    QCOMPARE(QByteArray::fromStdString(requests[0].path),
             QByteArray("/mrv/other/o_getHashByQuorvelOrderRequest"));
    QCOMPARE(QByteArray::fromStdString(requests[0].body), body);
    for (const auto &header : requests[0].headers) {
        const QByteArray name = QByteArray::fromStdString(header.first).toLower();
        QVERIFY2(name != "authorization" && name != "cookie", name.constData());
        if (name == "content-type") // only what the HTTP stack adds for an untyped body
            QCOMPARE(QByteArray::fromStdString(header.second),
                     QByteArray("application/x-www-form-urlencoded"));
    }
}

void TestVerify::typeCodeSent()
{
    serve(answer(200, kFail));
    filehash w;
    w.show();
    prepare(w);
    clickAndWait(w);
    w.cbType->setCurrentIndex(17);
    clickAndWait(w);
    w.cbType->setCurrentIndex(9);
    clickAndWait(w);
    const auto requests = m_server->requests();
    QCOMPARE(int(requests.size()), 3);
    QVERIFY(requests[0].body.find(R"("type":"1"})") != std::string::npos);
    QVERIFY(requests[1].body.find(R"("type":"18"})") != std::string::npos);
    QVERIFY(requests[2].body.find(R"("type":"10"})") != std::string::npos);
}

void TestVerify::twoClicksTwoIdenticalRequests()
{
    serve(answer(200, kFail));
    filehash w;
    w.show();
    prepare(w);
    clickAndWait(w, 2);
    const auto requests = m_server->requests();
    QCOMPARE(int(requests.size()), 2);
    QCOMPARE(requests[0].body, requests[1].body);
    QVERIFY(w.btnCheck->isEnabled());
    QVERIFY(!w.timer->isActive());
}

void TestVerify::validation_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<bool>("file");
    QTest::addColumn<QString>("message"); // empty: the request is sent
    QTest::newRow("nothing given") << "" << false << u(u8"Quorvel订单号不能为空");
    QTest::newRow("file without order") << "" << true << u(u8"Quorvel订单号不能为空");
    QTest::newRow("order without file") << "QV1" << false << u(u8"请选择取证文件");
    QTest::newRow("blank order passes") << " " << true << QString();
}

void TestVerify::validation()
{
    QFETCH(QString, order);
    QFETCH(bool, file);
    QFETCH(QString, message);
    serve(answer(200, kFail));
    filehash w;
    w.show();
    w.leOrder->setText(order);
    if (file)
        prepare(w, order);
    ModalResponder responder;
    if (message.isEmpty()) {
        clickAndWait(w);
        QCOMPARE(int(m_server->requests().size()), 1);
    } else {
        QTest::mouseClick(w.btnCheck, Qt::LeftButton);
        QTRY_COMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).title, u(u8"信息"));
        QCOMPARE(responder.boxes().at(0).text, message);
        QCOMPARE(responder.boxes().at(0).parent, &w);
        QTest::qWait(200);
        QCOMPARE(responder.boxes().size(), 1); // only the first failing check speaks
        QVERIFY(m_server->requests().empty());
        QVERIFY(!w.timer->isActive());
    }
}

void TestVerify::answers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("panel"); // after a pass shown earlier ("pass" means unchanged)
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("applicant");

    auto row = [](const char *name, const QByteArray &body, const char *panel, const QString &box = QString(),
                  const QString &applicant = QStringLiteral("A")) {
        QTest::newRow(name) << 200 << body << QString::fromLatin1(panel) << box << applicant;
    };
    row("pass", kPass, "pass");
    row("pass with other values",
        R"({"code":0,"data":{"result":true,"userName":"B ","optTime":"x","deviceInfo":""}})", "pass",
        QString(), QStringLiteral("B "));
    row("pass, non-string applicant", R"({"code":0,"data":{"result":true,"userName":5}})", "pass", QString(),
        QString());
    row("fail", kFail, "fail");
    row("result 1", R"({"code":0,"data":{"result":1}})", "fail");
    row("result string true", R"({"code":0,"data":{"result":"true"}})", "fail");
    row("result null", R"({"code":0,"data":{"result":null}})", "fail");
    row("result missing", R"({"code":0,"data":{}})", "fail");
    row("data array", R"({"code":0,"data":[true]})", "fail");
    row("data string", R"({"code":0,"data":"x"})", "fail");
    row("data null", R"({"code":0,"data":null})", "fail");
    row("no data", R"({"code":0})", "pass", u(u8"返回信息异常"));
    row("failure with des", R"({"code":1,"des":"X"})", "pass", QStringLiteral("X"));
    row("failure, des not a string", R"({"code":7,"des":5})", "pass", QString::fromLatin1(""));
    row("failure, des as markup", R"({"code":1,"des":"<b>bold</b> &amp;"})", "pass",
        QStringLiteral("<b>bold</b> &amp;"));
    row("failure without des", R"({"code":1})", "pass");
    row("code as string reads 0", R"({"code":"1","data":{"result":true,"userName":"A"}})", "pass");
    row("code 1.5 reads 0", R"({"code":1.5,"data":{"result":false}})", "fail");
    row("code null reads 0", R"({"code":null,"data":{"result":false}})", "fail");
    row("no code", R"({"data":{"result":false}})", "pass");
    row("empty object", "{}", "pass");
    row("array", "[]", "pass");
    row("empty body", "", "pass");
    row("not JSON", "<html>oops</html>", "pass");
    row("NUL after the object",
        QByteArray(R"({"code":0,"data":{"result":false}})") + '\0' + "trailing garbage", "fail");
    row("invalid UTF-8 in a string", "{\"code\":0,\"data\":{\"result\":true,\"userName\":\"A\xff\"}}", "pass",
        QString(), QStringLiteral("A") + QChar(0xFFFD));
    QTest::newRow("HTTP 500 with a JSON answer")
        << 500 << QByteArray(R"({"code":2,"des":"busy"})") << QStringLiteral("pass") << QStringLiteral("busy")
        << QStringLiteral("A");
}

void TestVerify::answers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, panel);
    QFETCH(QString, box);
    QFETCH(QString, applicant);
    // A pass on screen first, so that "unchanged" can be told from "cleared".
    serve(answer(200, kPass));
    filehash w;
    w.show();
    QCOMPARE(panelState(w), QStringLiteral("none"));
    prepare(w);
    clickAndWait(w);
    QCOMPARE(panelState(w), QStringLiteral("pass"));

    m_server->setHandler(answer(status, body.toStdString()));
    ModalResponder responder;
    QPointer<QNetworkReply> reply;
    connect(w.netManager, &QNetworkAccessManager::finished, this, [&](QNetworkReply *r) { reply = r; });
    clickAndWait(w);
    QCOMPARE(panelState(w), panel);
    if (box.isNull()) {
        QCOMPARE(responder.boxes().size(), 0);
    } else {
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).title, u(u8"信息"));
        QCOMPARE(responder.boxes().at(0).text, box);
        QCOMPARE(responder.boxes().at(0).parent, &w);
        if (box.contains(QLatin1Char('<')))
            QCOMPARE(responder.boxes().at(0).format, Qt::PlainText);
    }
    if (panel == QLatin1String("pass")) {
        QCOMPARE(w.leApplicant->text(), applicant);
        QCOMPARE(w.leChain->text(), kHashA);
    }
    QVERIFY(!w.timer->isActive());
    QTRY_VERIFY(reply.isNull()); // released on every path
}

void TestVerify::passAfterFailAndBack()
{
    serve(answer(200, kPass));
    filehash w;
    w.show();
    prepare(w);
    clickAndWait(w);
    QCOMPARE(panelState(w), QStringLiteral("pass"));
    QCOMPARE(w.leApplicant->text(), QStringLiteral("A"));
    QCOMPARE(w.leTime->text(), QStringLiteral("T"));
    QCOMPARE(w.leLocation->text(), QStringLiteral("D"));
    QCOMPARE(w.leChain->text(), kHashA);
    QCOMPARE(w.imgResult->pos(), QPoint(220, 360));

    m_server->setHandler(answer(200, kFail));
    clickAndWait(w);
    QCOMPARE(panelState(w), QStringLiteral("fail"));
    QCOMPARE(w.leApplicant->text(), QStringLiteral("A")); // hidden, kept

    m_server->setHandler(
        answer(200, R"({"code":0,"data":{"result":true,"userName":"N","optTime":"M","deviceInfo":"L"}})"));
    clickAndWait(w);
    QCOMPARE(panelState(w), QStringLiteral("pass"));
    QCOMPARE(w.leApplicant->text(), QStringLiteral("N"));
    QCOMPARE(w.leTime->text(), QStringLiteral("M"));
    QCOMPARE(w.leLocation->text(), QStringLiteral("L"));
    QCOMPARE(w.imgResult->pos(), QPoint(220, 360));
}

void TestVerify::chainIsTheDigestSent()
{
    std::atomic<bool> release{false};
    serve(heldAnswer(release, kPass));
    filehash w;
    w.show();
    prepare(w, QStringLiteral("QV1"), kHashA);
    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QTRY_COMPARE(int(m_server->requests().size()), 1);
    // Another file is chosen while the request is under way.
    w.leFile->setText(QStringLiteral("/evidence/other.mp4"));
    w.leHash->setText(kHashB);
    release = true;
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QCOMPARE(panelState(w), QStringLiteral("pass"));
    QCOMPARE(w.leChain->text(), kHashA);
}

void TestVerify::failures_data()
{
    QTest::addColumn<QString>("cert"); // empty: nothing listens
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<QString>("error"); // part of the error text shown
    QTest::newRow("connection refused") << "" << 200 << 0 << "refused";
    QTest::newRow("self-signed certificate") << "selfsigned" << 200 << 0 << "";
    QTest::newRow("certificate for another host") << "wronghost" << 200 << 0 << "";
    QTest::newRow("expired certificate") << "expired" << 200 << 0 << "";
    QTest::newRow("HTTP 500, empty body") << "server" << 500 << 0 << "";
    QTest::newRow("HTTP 404, HTML body") << "server" << 404 << -1 << "";
    QTest::newRow("answer over 1 MiB") << "server" << 200 << (1 << 20) + 1 << u(u8"服务器返回的数据过大");
}

void TestVerify::failures()
{
    QFETCH(QString, cert);
    QFETCH(int, status);
    QFETCH(int, bodySize);
    QFETCH(QString, error);
    filehash w;
    w.show();
    prepare(w);
    // A fail verdict stands from an earlier request: it must stay, and silence must not be mistaken for it.
    {
        TestHttpsServer earlier(QStringLiteral("server"), FILEHASH_TEST_PORT);
        earlier.setHandler(answer(200, kFail));
        clickAndWait(w);
        QCOMPARE(panelState(w), QStringLiteral("fail"));
    }
    // The next request must meet the next server, not a kept-alive connection to this one.
    w.netManager->clearConnectionCache();
    if (!cert.isEmpty()) {
        const std::string body =
            bodySize < 0 ? std::string("<html>not found</html>") : std::string(bodySize, ' ');
        serve(answer(status, body), cert);
    }
    ModalResponder responder;
    clickAndWait(w);
    QCOMPARE(responder.boxes().size(), 1);
    const SeenBox box = responder.boxes().at(0);
    QCOMPARE(box.title, u(u8"信息"));
    QVERIFY2(box.text.startsWith(u(u8"网络请求失败：")), qPrintable(box.text));
    QVERIFY2(box.text.size() > u(u8"网络请求失败：").size(), "the error is named");
    QVERIFY2(box.text.contains(error, Qt::CaseInsensitive), qPrintable(box.text));
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(box.parent, &w);
    QCOMPARE(panelState(w), QStringLiteral("fail"));
    QCOMPARE(w.leFile->text(), QStringLiteral("/evidence/file.mp4"));
    QCOMPARE(w.leHash->text(), kHashA);
    QVERIFY(!w.timer->isActive());
}

void TestVerify::connectionClosedMidAnswer()
{
    serve([](const httplib::Request &, httplib::Response &res) {
        // Promises 1000 bytes, sends a valid-looking start, then drops the connection.
        res.set_content_provider(1000, "application/json",
                                 [](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset > 0)
                                         return false;
                                     const std::string part = R"({"code":0,"data":{"result":true)";
                                     sink.write(part.data(), part.size());
                                     return true;
                                 });
    });
    filehash w;
    w.show();
    prepare(w);
    ModalResponder responder;
    clickAndWait(w);
    QCOMPARE(responder.boxes().size(), 1);
    QVERIFY2(responder.boxes().at(0).text.startsWith(u(u8"网络请求失败：")),
             qPrintable(responder.boxes().at(0).text));
    QCOMPARE(panelState(w), QStringLiteral("none"));
}

void TestVerify::endlessAnswer()
{
    serve([](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("application/json", [](size_t, httplib::DataSink &sink) {
            static const std::string chunk(64 * 1024, ' ');
            return sink.is_writable() && sink.write(chunk.data(), chunk.size());
        });
    });
    filehash w;
    w.show();
    prepare(w);
    ModalResponder responder;
    clickAndWait(w);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().at(0).text, u(u8"网络请求失败：服务器返回的数据过大"));
    QCOMPARE(panelState(w), QStringLiteral("none"));
}

void TestVerify::timerFollowsRequests()
{
    std::atomic<bool> release{false};
    serve(heldAnswer(release, kFail));
    filehash w;
    w.show();
    prepare(w);
    QVERIFY(!w.timer->isActive());
    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    // Connected after the window's own slot, so this sees the timer as each reply left it.
    QList<bool> timerAfterReply;
    connect(w.netManager, &QNetworkAccessManager::finished, this,
            [&](QNetworkReply *) { timerAfterReply << w.timer->isActive(); });
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QVERIFY(w.timer->isActive());
    QCOMPARE(w.timer->interval(), 50000);
    QVERIFY(!w.timer->isSingleShot());
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QVERIFY(w.timer->isActive());
    release = true;
    // The first reply to finish stops the timer; the second is still handled.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
    QCOMPARE(timerAfterReply, (QList<bool>{false, false}));
    QCOMPARE(panelState(w), QStringLiteral("fail"));
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
    std::atomic<bool> release{false};
    serve(heldAnswer(release, kPass));
    filehash w;
    w.show();
    prepare(w);
    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QVERIFY(w.timer->isActive());
    ModalResponder responder([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        if (replyWhileBoxOpen) {
            // The verdict comes to stand behind the box, and the reply stops the timer.
            release = true;
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
            QCOMPARE(panelState(w), QStringLiteral("pass"));
            QVERIFY(!w.timer->isActive());
        }
        responder.answerBox(box, QMessageBox::Ok);
    });
    // The 50 seconds are not waited for: the timer's slot is called as the timer would.
    const QByteArray out = captureStdout([&] { w.onTimeout(); });
    // Qt Test writes its own log to the same stream; the line is ours alone.
    QVERIFY2(out.startsWith("qrdiag net time out\n"), out.constData());
    QCOMPARE(out.count("qrdiag"), 1);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().at(0).title, u(u8"信息"));
    QCOMPARE(responder.boxes().at(0).text, u(u8"服务器响应超时"));
    QVERIFY(responder.boxes().at(0).parent == nullptr);
    QVERIFY(!w.timer->isActive());
    release = true;
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QCOMPARE(panelState(w), QStringLiteral("pass"));
}

void TestVerify::silentServer()
{
    // Takes the request and never answers: only the time-out can tell.
    std::atomic<bool> release{false};
    serve([&release](const httplib::Request &, httplib::Response &) {
        for (int i = 0; i < 3000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    filehash w;
    w.show();
    prepare(w);
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QTRY_COMPARE(int(m_server->requests().size()), 1);
    QTest::qWait(500);
    QVERIFY(w.timer->isActive());
    QCOMPARE(w.timer->interval(), 50000);
    ModalResponder responder;
    captureStdout([&] { w.onTimeout(); });
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(panelState(w), QStringLiteral("none"));
    QVERIFY(!w.timer->isActive());
    release = true;
}

QTEST_MAIN(TestVerify)
#include "tst_verify.moc"
