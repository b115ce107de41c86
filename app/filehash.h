#ifndef FILEHASH_FILEHASH_H
#define FILEHASH_FILEHASH_H

#include "core/receipt.h"
#include "widgets/basewnd.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

class QComboBox;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QTimer;
class cButton;
class cImg;

// The tool's one window: choose the evidence type, the order number and the file, verify, and
// read the verdict in the result panel.
class filehash : public baseWnd
{
    Q_OBJECT
public:
    explicit filehash(QWidget *parent = nullptr);

    // Where verification requests go: an HTTPS origin without a trailing slash. main() hands in
    // the address the build compiled in; nothing else may change it.
    void setServiceBaseUrl(const QString &baseUrl) { serviceBaseUrl = baseUrl; }
    // Who stamps receipts (empty: nobody; the receipt then says so) and the CAs its certificate
    // chains to (empty: the system's). Fixed by the build, like the service.
    void setTimeStampAuthority(const QString &url, const QByteArray &caPem)
    {
        tsaUrl = url;
        tsaCaPem = caPem;
    }

    // Sends one verification request; its answer arrives through finishedPostSlot().
    void postHashQuery(QString order, QString hash, int type);
    // Shows the answer to a verification request and releases the reply.
    void handleHashReply(QNetworkReply *reply);

public slots:
    void ClickBtnCheck();
    void ClickBtnChoose();
    void finishedPostSlot(QNetworkReply *reply);
    void onTimeout();
    void onClickBtnMin();
    void onClickBtnClose();
    void onCBChanged(int newIndex);

public:
    QTimer *timer = nullptr;
    QNetworkAccessManager *netManager = nullptr;
    cButton *btnClose = nullptr;
    cButton *btnMin = nullptr;
    cImg *imgLogo = nullptr;
    cImg *imgResult = nullptr;
    QLabel *labResult = nullptr;
    QLabel *labResultDesc = nullptr;
    QLabel *labApplicant = nullptr;
    QLabel *labLocation = nullptr;
    QLabel *labTime = nullptr;
    QLabel *labChain = nullptr;
    QComboBox *cbType = nullptr;
    QLineEdit *leOrder = nullptr;
    QLineEdit *leFile = nullptr;
    QLineEdit *leHash = nullptr;
    QLineEdit *leApplicant = nullptr;
    QLineEdit *leChain = nullptr;
    QLineEdit *leTime = nullptr;
    QLineEdit *leLocation = nullptr;
    QLineEdit *lePanel = nullptr;
    QLineEdit *leResultTitle = nullptr;
    QPushButton *btnChoose = nullptr;
    QPushButton *btnCheck = nullptr;
    QPushButton *btnReceipt = nullptr; // saves the receipt of the verdict on screen
    int typeCode = 1;
    QMap<int, QString> typeNames;

protected:
    // A local file dropped on the window is chosen as if picked in the file dialog.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The three areas of the window, built in this order by the constructor.
    void buildTitleBand(int width);
    void buildInputs(int middle);
    void buildResultPanel(int middle);
    // Hashes the chosen file off the GUI thread, with a progress dialog for long files.
    void digestChosenFile(const QString &path);
    void showPassPanel(const QString &userName, const QString &optTime, const QString &deviceInfo,
                       const QString &chain);
    void showFailPanel();
    // The verdict's heading and explanation, in the verdict's colour.
    void showVerdictTexts(const char *heading, const char *description, const QString &style);
    // Shows the result panel's widgets for a pass or for a fail (which has no record rows).
    void showPanel(bool pass);
    // Hides every widget of the result panel.
    void hidePanel();
    void setUpKeyboardAndReaders();
    // Asks where to save the receipt of the verdict on screen, and saves it, stamped if it can be.
    void saveReceiptAs();
    // Asks the time-stamping authority for a stamp over data, waiting with a progress dialog that
    // can cancel.
    timestamping::Stamp askForStamp(const QByteArray &data);
    // A message box whose text is never read as rich text.
    void showPlainInfo(const QString &text);
    // The font of the input and value fields.
    static QFont inputFont();
    // Path of one of the window's images.
    QString res(const QString &name) const;

    // Every widget of the result panel, and whether it belongs to a pass's record rows only.
    struct PanelPart {
        QWidget *widget;
        bool passOnly;
    };
    QVector<PanelPart> panelParts;
    QString serviceBaseUrl;
    QString receiptFolder;          // where the save dialog for receipts starts
    QString tsaUrl;
    QByteArray tsaCaPem;
    QString resDir;                 // the folder the window's images were found in
    ReceiptFile chosen;             // the file in leFile as it was when its digest was taken
    std::optional<Receipt> receipt; // the verdict on screen, while there is one
};

#endif
