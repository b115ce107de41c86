#ifndef FILEHASH_TESTSUPPORT_H
#define FILEHASH_TESTSUPPORT_H

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// A real HTTPS server on 127.0.0.1, on a port the system chooses, running on its own thread.
class TestHttpsServer
{
public:
    struct Request {
        std::string method;
        std::string target;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    struct Reply {
        enum class Mode {
            Normal,  // status and body, with Content-Length
            Endless, // announces `announced` bytes (chunked when negative), then sends '0's until the client
                     // goes
            Close,   // reads the request, then closes the connection without an answer
            Hang,    // reads the request and never answers, until the server stops
        };
        Mode mode = Mode::Normal;
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
        long long announced = -1;
    };
    // Runs on a server thread and may block.
    using Handler = std::function<Reply(const Request &)>;

    // certName: a certificate in the test certificate folder without ".pem" ("server",
    // "wronghost", "selfsigned", "expired"); all use the key "server.key".
    explicit TestHttpsServer(const QString &certName = QStringLiteral("server"));
    ~TestHttpsServer();

    quint16 port() const;
    QString url() const; // https://localhost:<port>
    // Answers every request with the handler (the default answers 200 with an empty body).
    void setHandler(Handler handler);
    std::vector<Request> requests() const;
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A finished reply with a given body, error and announced length: for rules about replies that
// need no socket.
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

// The test builds' service address: the window reads it at run time from here.
void setTestServiceBaseUrl(const QString &baseUrl);

// Runs fn and returns what it wrote to the process's standard output (file descriptor 1).
QByteArray captureStdout(const std::function<void()> &fn);

// Writes content to dir/name; returns the path, or an empty string if the write failed.
QString writeTestFile(const QString &dir, const QString &name, const QByteArray &content);

// Path of a file in the test certificate folder.
QString testCertPath(const QString &fileName);

#endif
