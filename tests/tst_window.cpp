// The window as it opens: its layout, keyboard, type list, closing and where it finds its images.
#include "app/filehash.h"
#include "app/resources.h"
#include "app/startup.h"
#include "app/textfit.h"
#include "core/texts.h"
#include "testsupport.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

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

    // Tab goes through the inputs in the order they are filled; Return verifies.
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
        for (const Press &press : {Press{w.btnCheck, Qt::Key_Return, "", noOrder},
                                   Press{w.leOrder, Qt::Key_Return, "QV1", noFile}}) {
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
    // executable, then the installed data. A folder counts only when every picture loads from it;
    // when none does, the user is told which and where, and the window does not open.
    void resourceLookup_data()
    {
        QTest::addColumn<QStringList>(
            "broken"); // per folder a, b, c: "" whole, "-x.png" missing, "~x.png" garbage
        QTest::addColumn<int>("found");
        const auto row = [](const char *name, std::initializer_list<const char *> broken, int found) {
            QStringList list;
            for (const char *b : broken)
                list << QString::fromLatin1(b);
            QTest::newRow(name) << list << found;
        };
        row("the first", {"", "", ""}, 0);
        row("one missing in the first", {"-cuo.png", "", ""}, 1);
        row("one not a picture", {"~btn_min_press.png", "~bg.png", ""}, 2);
        row("none", {"-logo.png", "~dui.png", "-bg.png"}, -1);
    }
    void resourceLookup()
    {
        QFETCH(QStringList, broken);
        QFETCH(int, found);
        QCOMPARE(resourceFolders().value(0), QStringLiteral("res"));
        QTemporaryDir dir;
        QStringList folders;
        for (int i = 0; i < 3; ++i) {
            folders << dir.filePath(QString(QLatin1Char('a' + i)));
            QVERIFY(QDir().mkpath(folders.last()));
            for (const QString &name : requiredPictures()) {
                if (broken.at(i).mid(1) == name && broken.at(i).startsWith(QLatin1Char('~')))
                    QVERIFY(!writeTestFile(folders.last(), name, "\x89PNG\r\n").isEmpty());
                else if (broken.at(i).mid(1) != name)
                    QVERIFY(
                        QFile::copy(QStringLiteral("res/") + name, folders.last() + QLatin1Char('/') + name));
            }
        }
        QCOMPARE(findResourceFolder(folders), found < 0 ? QString() : folders.at(found));
        ModalResponder responder;
        QCOMPARE(ensurePictures(folders), found >= 0);
        QCOMPARE(responder.boxes().size(), found >= 0 ? 0 : 1);
        if (found < 0) {
            const QString text = responder.boxes().at(0).text;
            for (const QString &folder : folders)
                QVERIFY2(text.contains(folder), qPrintable(text));
            QVERIFY2(text.startsWith(QString::fromUtf8(u8"窗口所需的图片无法读取：logo.png")),
                     qPrintable(text));
        }
    }

    // The digest fits its field in every font here, at the screen scalings users have: drawn at
    // the scaled screen's resolution, its ink ends inside the field, with the font's widest
    // hexadecimal digit throughout; and it is made no smaller than it must be.
    void digestFit_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<qreal>("scale");
        for (const QString &family : QFontDatabase().families()) {
            for (const qreal scale : {1.0, 1.5, 2.0})
                QTest::newRow(qPrintable(QStringLiteral("%1 x%2").arg(family).arg(scale))) << family << scale;
        }
    }
    void digestFit()
    {
        QFETCH(QString, family);
        QFETCH(qreal, scale);
        const int width = 491; // the chain field's, as looks() finds it
        const QFont font(family, 10);
        QChar widest = QLatin1Char('0');
        for (const QChar ch : QStringLiteral("0123456789abcdef")) {
            if (QFontMetricsF(font).horizontalAdvance(ch) > QFontMetricsF(font).horizontalAdvance(widest))
                widest = ch;
        }
        const QString digest(64, widest);
        QImage field(qCeil(2 * width * scale), qCeil(40 * scale), QImage::Format_RGB32);
        field.setDevicePixelRatio(scale);
        const QFont fitted = fittedFont(font, digest, width, &field);
        field.fill(Qt::white);
        QPainter painter(&field);
        painter.setFont(fitted);
        painter.drawText(QPointF(0, 30), digest);
        painter.end();
        int ink = 0;
        for (int x = 0; x < field.width(); ++x) {
            for (int y = 0; y < field.height(); ++y)
                ink = qGray(field.pixel(x, y)) < 192 ? x : ink;
        }
        QVERIFY2(ink < width * scale,
                 qPrintable(QStringLiteral("%1 pt: ink to %2").arg(fitted.pointSizeF()).arg(ink)));
        QFont larger = fitted;
        larger.setPointSizeF(fitted.pointSizeF() + 0.25);
        QVERIFY(fitted.pointSizeF() == font.pointSizeF() ||
                QFontMetricsF(larger, &field).horizontalAdvance(digest) > width - 2);
    }

    // The verify button shows its colours in every state, the receipt button shows its focus, and
    // the chain field has the text width the fit is tested against.
    void looks()
    {
        filehash w;
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(lineEditTextWidth(w.leChain), 491);
        const auto pixel = [](QWidget *widget, int x) {
            return widget->grab().toImage().pixelColor(x, widget->height() / 2);
        };
        const QColor blue(30, 144, 255), ring(10, 38, 92);
        w.cbType->setFocus();
        QCOMPARE(pixel(w.btnCheck, 8), blue);
        w.btnCheck->setFocus();
        QCOMPARE(pixel(w.btnCheck, 8), blue);
        QCOMPARE(pixel(w.btnCheck, 0), ring);
        w.lePanel->show();
        w.btnReceipt->show();
        w.btnCheck->setFocus();
        QVERIFY(pixel(w.btnReceipt, 0) != ring);
        w.btnReceipt->setFocus();
        QCOMPARE(pixel(w.btnReceipt, 0), ring);
    }
};
QTEST_MAIN(TestWindow)
#include "tst_window.moc"
