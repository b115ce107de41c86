#ifndef FILEHASH_TESTSUPPORT_H
#define FILEHASH_TESTSUPPORT_H

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib
{
class Server;
struct Request;
struct Response;
} // namespace httplib

// A message box as the user saw it.
struct SeenBox {
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QWidget *parent = nullptr;
};

// Answers modal dialogs from inside the nested event loop that shows them, so the code under
// test runs unchanged. Polls QApplication::activeModalWidget() every 10 ms while it lives.
// The handler gets each new modal widget once; by default message boxes are answered with
// `button` and recorded in boxes().
class ModalResponder : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(QWidget *modal)>;
    explicit ModalResponder(QMessageBox::StandardButton button = QMessageBox::Ok);
    explicit ModalResponder(Handler handler);

    const QList<SeenBox> &boxes() const { return m_boxes; }
    int handled() const { return m_handled; }

    // Records a message box as seen and presses `button` on it.
    void answerBox(QMessageBox *box, QMessageBox::StandardButton button);

private:
    void poll();

    Handler m_handler;
    QTimer m_timer;
    QList<SeenBox> m_boxes;
    QList<QPointer<QWidget>> m_done;
    int m_handled = 0;
};

// If modal is a file dialog, picks `path` in it as a user would (typing it into the name field)
// and accepts; returns false for any other widget.
bool pickInFileDialog(QWidget *modal, const QString &path);

// Closes every modal widget left open (for cleanup(), so one failing test cannot hang the next).
void closeAllModals();

// A real HTTPS server on 127.0.0.1 for one test, running on its own thread.
class TestHttpsServer
{
public:
    struct Request {
        std::string method;
        std::string path;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;

    // certName: a certificate in the test certificate folder without ".pem" ("server",
    // "wronghost", "selfsigned", "expired"); all use the key "server.key".
    TestHttpsServer(const QString &certName, int port);
    ~TestHttpsServer();

    bool isRunning() const;
    // Answers every request on any path and method with the handler (the default answers 200
    // with an empty body).
    void setHandler(Handler handler);
    std::vector<Request> requests() const;
    void stop();

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread *m_thread = nullptr;
    mutable std::mutex m_mutex;
    Handler m_handler;
    std::vector<Request> m_requests;
};

// Runs fn and returns what it wrote to the process's standard output (file descriptor 1).
QByteArray captureStdout(const std::function<void()> &fn);

// Writes content to dir/name; returns the path, or an empty string if the write failed.
QString writeTestFile(const QString &dir, const QString &name, const QByteArray &content);

// Path of a file in the test certificate folder.
QString testCertPath(const QString &fileName);

#endif
