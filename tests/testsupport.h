#ifndef FILEHASH_TESTSUPPORT_H
#define FILEHASH_TESTSUPPORT_H

#include "service/httpsserver.h"

#include <QMessageBox>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <functional>
#include <memory>
#include <thread>

// A message box as the user saw it.
struct SeenBox {
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QWidget *parent = nullptr;
};

// Answers modal dialogs from inside the nested event loop that shows them (polling every 10 ms),
// so the code under test runs unchanged. The handler gets each new modal widget once; by default
// message boxes are answered with `button` and recorded in boxes().
class ModalResponder : public QObject
{
public:
    using Handler = std::function<void(QWidget *modal)>;
    explicit ModalResponder(QMessageBox::StandardButton button = QMessageBox::Ok);
    explicit ModalResponder(Handler handler);
    const QList<SeenBox> &boxes() const { return m_boxes; }
    // Records a message box as seen and presses `button` on it.
    void answerBox(QMessageBox *box, QMessageBox::StandardButton button);

private:
    void poll();
    Handler m_handler;
    QList<SeenBox> m_boxes;
    QList<QPointer<QWidget>> m_done;
};

// Picks `path` in a file dialog as a user would, typing it; false if modal is no file dialog.
bool pickInFileDialog(QWidget *modal, const QString &path);

// For cleanup(): one failing test must not hang the next on a box left open.
void closeAllModals();

// The service's own HTTPS front on 127.0.0.1, on a port the system chooses, answering with the
// test's handler (which runs on a server thread and may block).
class TestServer
{
public:
    // certName: "server", "wronghost", "selfsigned" or "expired", all with the key "server.key";
    // unless options name a certificate and key.
    explicit TestServer(RequestHandler handler, const QString &certName = QStringLiteral("server"),
                        ServerOptions options = {});
    ~TestServer() { stop(); }
    quint16 port() const { return m_server.port(); }
    HttpsServer &server() { return m_server; }
    QString url() const { return QStringLiteral("https://localhost:%1").arg(port()); }
    void stop()
    {
        if (m_thread.joinable())
            m_server.stop(), m_thread.join();
    }

private:
    HttpsServer m_server;
    std::thread m_thread;
};

// The project's time-stamping authority on 127.0.0.1, signing with the test TSA certificate; its CA
// is caPem().
class TestTsa
{
public:
    TestTsa();
    ~TestTsa();
    QString url() const { return m_server->url() + QStringLiteral("/tsa"); }
    static QByteArray caPem();

private:
    std::unique_ptr<class TsaResponder> m_responder;
    std::unique_ptr<TestServer> m_server;
};

// The service program with a database of its own in `dir`.
class ServiceProcess
{
public:
    explicit ServiceProcess(const QString &dir) : m_db(dir + QStringLiteral("/evidence.db")) {}
    ~ServiceProcess();
    // Preserves a file; returns its order number, or an empty string.
    QString preserve(const QString &file, int type, const QString &user, const QString &location);
    // Serves on a free port; true once the service says where it listens.
    bool start();
    QString url() const { return QStringLiteral("https://localhost:%1").arg(m_port); }
    quint16 port() const { return m_port; }
    QProcess &process() { return m_process; }
    QByteArray log() { return m_log += m_process.readAllStandardError(); } // standard error so far

private:
    QString m_db;
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port = 0;
};

// A finished reply with a given body, error and announced length, for rules that need no socket.
class FakeReply : public QNetworkReply
{
public:
    FakeReply(const QUrl &url, const QByteArray &body, NetworkError error = NoError, qint64 announced = -1);
    void abort() override {}
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    QByteArray m_body;
    qint64 m_offset = 0;
};

// Writes content to dir/name; returns the path, or an empty string if the write failed.
QString writeTestFile(const QString &dir, const QString &name, const QByteArray &content);

QString testCertPath(const QString &fileName);
// The CA the build made for the tests' servers, as PEM.
QByteArray testCaPem();
QString builtProgram(const QString &name);

#endif
