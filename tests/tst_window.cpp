// The window as it opens: its layout, keyboard, type list, closing, where it finds its images, and
// its fixed texts.
#include "app/filehash.h"
#include "app/resources.h"
#include "app/startup.h"
#include "core/texts.h"
#include "testsupport.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The fixed texts are kept as GB2312 bytes; each is spelt out here once more, independently, in
// UTF-8. A group is compared joined, so that one row names the whole group.
namespace
{
template <typename List> QByteArray joinedList(const List &texts)
{
    QByteArray all;
    for (const char *text : texts)
        all += QByteArray(text) + '|';
    return all;
}
QByteArray joined(std::initializer_list<const char *> texts)
{
    return joinedList(texts);
}
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(installQtTranslations(qApp)); }
    void cleanup() { closeAllModals(); }

    // The layout as rules rather than coordinates: every control inside the background and clear
    // of the others, each caption left of its field on the field's row; and what shows at the start.
    void layout()
    {
        filehash w;
        w.show();
        QCOMPARE(w.backgroundSize(), QSize(700, 600));
        const QList<QWidget *> controls{w.btnClose,    w.btnMin, w.imgLogo,    w.cbType,
                                        w.leOrder,     w.leFile, w.btnChoose,  w.btnCheck,
                                        w.leApplicant, w.leTime, w.leLocation, w.leChain};
        for (QWidget *a : controls) {
            QVERIFY2(QRect(QPoint(), w.backgroundSize()).contains(a->geometry()),
                     qPrintable(a->objectName()));
            for (QWidget *b : controls)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + QLatin1Char('/') + b->objectName()));
        }
        const QList<QPair<const char *, QWidget *>> rows{
            {"labTypeCaption", w.cbType},    {"labOrderCaption", w.leOrder}, {"labFileCaption", w.leFile},
            {"labApplicant", w.leApplicant}, {"labTime", w.leTime},          {"labLocation", w.leLocation},
            {"labChain", w.leChain}};
        for (const auto &row : rows) {
            auto *caption = w.findChild<QLabel *>(QLatin1String(row.first));
            QVERIFY2(caption, row.first);
            // Placed by the width of the text in the font the window hands down, as the layout has
            // always measured it.
            const QLabel inherited(caption->parentWidget());
            const int right = caption->x() + inherited.fontMetrics().horizontalAdvance(caption->text());
            QVERIFY2(right <= row.second->x() && caption->y() >= row.second->y() &&
                         caption->y() < row.second->geometry().bottom(),
                     row.first);
        }
        // At the start: the inputs, empty, and no verdict.
        for (QWidget *hidden :
             std::initializer_list<QWidget *>{w.imgResult, w.labResult, w.labResultDesc, w.labApplicant,
                                              w.labChain, w.lePanel, w.leResultTitle, w.leHash, w.btnReceipt})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        for (QWidget *shown : std::initializer_list<QWidget *>{w.cbType, w.leOrder, w.leFile, w.btnChoose,
                                                               w.btnCheck, w.btnClose, w.btnMin})
            QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
        QVERIFY(w.leOrder->text().isEmpty() && w.leFile->text().isEmpty() && !w.timer->isActive());
    }

    // The list shows the catalogue in code order, and the type code follows the choice.
    void typeCatalogue()
    {
        filehash w;
        QCOMPARE(w.typeCode, 1);
        QCOMPARE(w.cbType->count(), texts::kTypeCount);
        for (int code = 1; code <= texts::kTypeCount; ++code)
            QCOMPARE(w.cbType->itemText(code - 1), gbText(texts::kTypeNames[code - 1]));
        for (int index : {17, 15, 0}) {
            w.cbType->setCurrentIndex(index);
            QCOMPARE(w.typeCode, index + 1);
        }
    }

    // Tab goes through the inputs in the order they are filled; Enter and Space verify.
    void keyboard()
    {
        filehash w;
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.cbType);
        for (QWidget *next : std::initializer_list<QWidget *>{w.leOrder, w.btnChoose, w.btnCheck}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        const QString noOrder = QString::fromUtf8(u8"Quorvel订单号不能为空");
        const QString noFile = QString::fromUtf8(u8"请选择取证文件");
        struct Press {
            QWidget *target;
            Qt::Key key;
            const char *order;
            QString box;
        };
        for (const Press &press :
             {Press{w.btnCheck, Qt::Key_Return, "", noOrder}, Press{w.btnCheck, Qt::Key_Space, "", noOrder},
              Press{w.leOrder, Qt::Key_Return, "QV1", noFile},
              Press{w.leOrder, Qt::Key_Enter, "QV1", noFile}}) {
            w.leOrder->setText(QLatin1String(press.order));
            ModalResponder responder;
            QTest::keyClick(press.target, press.key);
            QTRY_COMPARE(responder.boxes().size(), 1);
            QCOMPARE(responder.boxes().at(0).text, press.box);
            QCOMPARE(responder.boxes().at(0).parent, &w);
            QVERIFY(!w.timer->isActive()); // nothing was sent
        }
        // Leaving the order field alone verifies nothing.
        ModalResponder responder;
        QApplication::setActiveWindow(&w);
        w.leOrder->setFocus();
        QTest::keyClicks(w.leOrder, QStringLiteral("2"));
        QTest::keyClick(w.leOrder, Qt::Key_Tab);
        QVERIFY(responder.boxes().isEmpty());
    }

    void closeQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no keeps everything") << int(QMessageBox::No);
        QTest::newRow("yes ends the loop") << int(QMessageBox::Yes);
    }
    void closeQuestion()
    {
        QFETCH(int, answer);
        filehash w;
        w.show();
        w.leOrder->setText(QStringLiteral("keep"));
        QString yesText;
        ModalResponder responder([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            yesText = box->button(QMessageBox::Yes)->text();
            responder.answerBox(box, QMessageBox::StandardButton(answer));
            QTimer::singleShot(0, &w, [] { QCoreApplication::exit(7); }); // in case nothing quits
        });
        QTimer::singleShot(0, w.btnClose, [&w] { emit w.btnClose->clicked(false); });
        QCOMPARE(QCoreApplication::exec(), answer == QMessageBox::Yes ? 0 : 7);
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).text, QString::fromUtf8(u8"确定要退出登录么？"));
        QVERIFY(responder.boxes().at(0).parent == nullptr);
        QVERIFY2(!yesText.contains(QLatin1String("Yes")), qPrintable(yesText)); // Qt's own texts in Chinese
        QCOMPARE(w.leOrder->text(), QStringLiteral("keep"));
    }

    // The working directory's "res" first, as the window has always looked; then beside the
    // executable, then the installed data.
    void resourceLookup()
    {
        QCOMPARE(resourceFolders().value(0), QStringLiteral("res"));
        for (const auto &[holding, found] : {std::pair<QLatin1String, int>{QLatin1String("abc"), 0},
                                             {QLatin1String("bc"), 1},
                                             {QLatin1String("c"), 2},
                                             {QLatin1String(""), -1}}) {
            QTemporaryDir dir;
            QStringList folders;
            for (const char *name : {"a", "b", "c"}) {
                folders << dir.filePath(QLatin1String(name));
                QVERIFY(QDir().mkpath(folders.last()));
                if (QString(holding).contains(QLatin1String(name)))
                    QVERIFY(!writeTestFile(folders.last(), QStringLiteral("bg.png"), "png").isEmpty());
            }
            QCOMPARE(findResourceFolder(folders), found < 0 ? QString() : folders.at(found));
        }
    }

    void spelling_data()
    {
        using namespace texts;
        QTest::addColumn<QByteArray>("gb2312");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &gb, const char *utf8) {
            QTest::newRow(name) << gb << QString::fromUtf8(utf8);
        };
        row("window",
            joined({kTitle, kInfoTitle, kCloseQuestion, kChooseFile, kCheck, kTypeCaption, kOrderCaption,
                    kFileCaption, kResultTitle, kApplicant, kTimeInfo, kLocationInfo, kChain, kClose,
                    kMinimise, kSaveReceipt}),
            u8"电子证据验证中心|信息|确定要退出登录么？|请选择文件|点击验证|存证类型：|Quorvel订单号：|"
            u8"取证文件：|验证结果|申请人：|时间信息：|位置信息：|Quorvel链：|关闭|最小化|保存验证报告|");
        row("messages",
            joined({kOrderEmpty, kNoFile, kTimedOut, kAbnormalAnswer, kNetworkFailed, kAnswerTooLarge,
                    kInputsChanged, kOpenFile, kCannotRead, kFileEmpty, kFileChanged, kHashing, kCancel,
                    kProgressSeparator, kDropOneFile, kReceiptExists, kReceiptNotSaved}),
            u8"Quorvel订单号不能为空|请选择取证文件|服务器响应超时|返回信息异常|网络请求失败：|"
            u8"服务器返回的数据过大|输入已更改，请重新验证|打开文件|无法读取所选文件|所选文件为空|"
            u8"文件在读取过程中被修改，请重新选择|正在计算文件摘要…|取消|，|请只拖入一个本地文件|"
            u8"同名的验证报告已存在，是否替换？|验证报告未能保存：|");
        row("receipt",
            joined(
                {kReceiptFileName,    kReceiptTitle,  kReceiptEvidence,    kReceiptService,    kReceiptAnswer,
                 kReceiptRecord,      kReceiptName,   kReceiptPath,        kReceiptSize,       kReceiptBytes,
                 kReceiptModified,    kReceiptDigest, kReceiptUrl,         kReceiptSubject,    kReceiptIssuer,
                 kReceiptValidity,    kReceiptUntil,  kReceiptFingerprint, kReceiptConnection, kReceiptBody,
                 kReceiptBodyNotText, kReceiptSentAt, kReceiptAnsweredAt,  kReceiptTool,       kReceiptNote}),
            u8"验证报告|电子证据验证报告|证据文件|验证服务|服务应答|本报告|文件名：|完整路径：|文件大小：| "
            u8"字节|"
            u8"修改时间：|SHA-256：|服务地址：|证书主体：|证书颁发者：|证书有效期：| 至 "
            u8"|证书指纹：|加密连接：|"
            u8"应答原文：|（不是有效的UTF-8文本，原始字节见JSON文件）|请求发送时间：|应答接收时间：|"
            u8"生成工具：|"
            u8"本报告是本工具对验证服务应答的自行记录，并非验证服务出具的文件。|");
        row("types", joinedList(kTypeNames),
            u8"电子文书|邮件存证|权属登记|在线签约|录音存证|录像存证|委托取证|照片存证|网页存证|录屏存证|"
            u8"聊天存证|本地视频存证|本地录屏存证|网页录屏存证|授权委托存证|线上电子文书存证|遗嘱公证|"
            u8"自书遗嘱|");
    }
    void spelling()
    {
        QFETCH(QByteArray, gb2312);
        QFETCH(QString, expected);
        QCOMPARE(gbText(gb2312.constData()), expected);
        QVERIFY(gb2312 != expected.toUtf8()); // stored as GB2312, not as UTF-8 that happens to decode
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
