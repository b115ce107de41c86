// The window as it opens: its layout, keyboard, type list, closing and where it finds its images.
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
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
