#include "testsupport.h"

#include "testconfig.h"

#include "service/tsaresponder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QRegularExpression>

#include <cstring>

ModalResponder::ModalResponder(QMessageBox::StandardButton button) : ModalResponder(Handler())
{
    m_handler = [this, button](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            answerBox(box, button);
    };
}

ModalResponder::ModalResponder(Handler handler) : m_handler(std::move(handler))
{
    QTimer::singleShot(10, this, &ModalResponder::poll);
}

void ModalResponder::answerBox(QMessageBox *box, QMessageBox::StandardButton button)
{
    m_boxes.append({box->text(), box->textFormat(), box->parentWidget()});
    if (QAbstractButton *b = box->button(button))
        b->click();
    else
        box->reject();
}

void ModalResponder::poll()
{
    // A timer of its own for each poll: a handler that opens another box is polled inside it too,
    // which a repeating timer would not do while its own slot runs.
    QTimer::singleShot(10, this, &ModalResponder::poll);
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || m_done.contains(modal))
        return;
    m_done.append(modal);
    if (m_handler)
        m_handler(modal);
}

bool pickInFileDialog(QWidget *modal, const QString &path)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    // selectFile() leaves a focused name field alone: type the path instead.
    auto *name = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
    if (!name)
        return false;
    name->setText(path);
    static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept checks the choice
    return true;
}

void closeAllModals()
{
    for (int i = 0; i < 20 && QApplication::activeModalWidget(); ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        QCoreApplication::processEvents();
    }
}

QString writeTestFile(const QString &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

QString testCertPath(const QString &fileName)
{
    return QStringLiteral(FILEHASH_TEST_CERT_DIR) + QLatin1Char('/') + fileName;
}

QByteArray testCaPem()
{
    QFile file(testCertPath(QStringLiteral("ca.pem")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString builtProgram(const QString &name)
{
    return QStringLiteral(FILEHASH_BINARY_DIR) + QLatin1Char('/') + name;
}

namespace
{
ServerOptions withCert(ServerOptions options, const QString &certName)
{
    options.port = 0;
    if (options.certPath.empty()) {
        options.certPath = testCertPath(certName + QStringLiteral(".pem")).toStdString();
        options.keyPath = testCertPath(QStringLiteral("server.key")).toStdString();
    }
    return options;
}
} // namespace

TestServer::TestServer(RequestHandler handler, const QString &certName, ServerOptions options)
    : m_server(withCert(std::move(options), certName))
{
    std::string error;
    if (!m_server.open(&error)) {
        qWarning("the test server did not start: %s", error.c_str());
        return;
    }
    m_thread = std::thread([this, handler] { m_server.run(handler); });
}

ServiceProcess::~ServiceProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
}

QString ServiceProcess::preserve(const QString &file, int type, const QString &user, const QString &location)
{
    QProcess p;
    p.start(builtProgram(QStringLiteral("filehash-service")),
            {QStringLiteral("preserve"), QStringLiteral("--db"), m_db, QStringLiteral("--type"),
             QString::number(type), QStringLiteral("--user"), user, QStringLiteral("--location"), location,
             file});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool ServiceProcess::start()
{
    m_process.start(builtProgram(QStringLiteral("filehash-service")),
                    {QStringLiteral("serve"), QStringLiteral("--db"), m_db, QStringLiteral("--cert"),
                     testCertPath(QStringLiteral("server.pem")), QStringLiteral("--key"),
                     testCertPath(QStringLiteral("server.key")), QStringLiteral("--tsa-cert"),
                     testCertPath(QStringLiteral("tsa-chain.pem")), QStringLiteral("--tsa-key"),
                     testCertPath(QStringLiteral("tsa.key")), QStringLiteral("--listen"),
                     QStringLiteral("127.0.0.1:0")});
    const QRegularExpression listening(QStringLiteral("listening on https://127\\.0\\.0\\.1:(\\d+)/"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(log()));
        if (match.hasMatch()) {
            m_port = static_cast<quint16>(match.captured(1).toUInt());
            return true;
        }
    }
    return false;
}

FakeReply::FakeReply(const QUrl &url, const QByteArray &body, NetworkError error, qint64 announced)
    : m_body(body)
{
    setUrl(url);
    setOperation(QNetworkAccessManager::PostOperation);
    if (announced >= 0)
        setHeader(QNetworkRequest::ContentLengthHeader, announced);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (error != NoError)
        setError(error, QStringLiteral("fake failure %1").arg(int(error)));
    setFinished(true);
}

qint64 FakeReply::bytesAvailable() const
{
    return m_body.size() - m_offset + QNetworkReply::bytesAvailable();
}

qint64 FakeReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, m_body.size() - m_offset);
    memcpy(data, m_body.constData() + m_offset, size_t(n));
    m_offset += n;
    return n;
}

TestTsa::TestTsa()
{
    std::string error;
    m_responder = TsaResponder::load(testCertPath(QStringLiteral("tsa-chain.pem")).toStdString(),
                                     testCertPath(QStringLiteral("tsa.key")).toStdString(), &error);
    if (!m_responder)
        qFatal("the test TSA does not load: %s", error.c_str());
    m_server = std::make_unique<TestServer>(
        [this](const std::string &, const std::string &, const std::string &body) {
            return HttpAnswer{200, "application/timestamp-reply", m_responder->answer(body), {}, {}};
        });
}

TestTsa::~TestTsa() = default;

QByteArray TestTsa::caPem()
{
    QFile file(testCertPath(QStringLiteral("tsa-ca.pem")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
