#include "app/filehash.h"

#include "app/resources.h"
#include "core/texts.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPalette>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace
{

const int kDragBandHeight = 110;

QFont yaHei(int pointSize)
{
    return QFont(QStringLiteral("Microsoft YaHei"), pointSize);
}

int textWidth(const QFontMetrics &metrics, const QString &text)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 11, 0)
    return metrics.horizontalAdvance(text);
#else
    return metrics.width(text);
#endif
}

// A label whose position is derived from its text's width in the default font (the font a new
// label inherits, before its own font is applied).
QLabel *placedLabel(QWidget *parent, const char *gbTextBytes, const QFont &font, int right, int y,
                    const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    const QString text = gbText(gbTextBytes);
    const int w = textWidth(QFontMetrics(label->font()), text);
    label->setText(text);
    label->setFont(font);
    label->move(right - w, y);
    return label;
}

QLineEdit *fixedLineEdit(QWidget *parent, const QString &name, int width, int height, int x, int y)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setFixedSize(width, height);
    edit->move(x, y);
    return edit;
}

} // namespace

filehash::filehash(QWidget *parent) : baseWnd(parent)
{
    const QStringList folders = resourceFolders();
    resDir = findResourceFolder(folders);
    if (resDir.isEmpty()) {
        std::fprintf(stderr, "filehash: the window's images are in none of: %s\n",
                     qPrintable(folders.join(QStringLiteral(", "))));
        resDir = folders.first();
    }
    setBackground(res(QStringLiteral("bg.png")).toUtf8().constData());
    const int W = backgroundSize().width();
    const int M = W / 2;
    setDragArea(0, 0, W, kDragBandHeight);

    for (int code = 1; code <= texts::kTypeCount; ++code)
        typeNames.insert(code, gbText(texts::kTypeNames[code - 1]));
    typeCode = 1;

    const QFont fieldFont = yaHei(10);
    const QFont captionFont = yaHei(12);
    const QFont titleFont = yaHei(16);

    btnClose = new cButton(imgBg);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setImage(res(QStringLiteral("btn_close")));
    btnClose->move(W - 10 - btnClose->width(), 10);
    connect(btnClose, &QAbstractButton::clicked, this, &filehash::onClickBtnClose);

    btnMin = new cButton(imgBg);
    btnMin->setObjectName(QStringLiteral("btnMin"));
    btnMin->setImage(res(QStringLiteral("btn_min")));
    btnMin->move(btnClose->x() - 15 - btnMin->width(), 10);
    connect(btnMin, &QAbstractButton::clicked, this, &filehash::onClickBtnMin);

    imgLogo = new cImg(imgBg);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setImage(res(QStringLiteral("logo.png")), 1.0f);
    imgLogo->move(15, 10);

    cbType = new QComboBox(imgBg);
    cbType->setObjectName(QStringLiteral("cbType"));
    cbType->setFixedSize(300, 30);
    cbType->setFont(fieldFont);
    for (auto it = typeNames.constBegin(); it != typeNames.constEnd(); ++it)
        cbType->addItem(it.value());
    cbType->move(M - 130, 140);
    // Connected only now, so filling the list does not reach the window.
    connect(cbType, SIGNAL(currentIndexChanged(int)), this, SLOT(onCBChanged(int)));

    leOrder = fixedLineEdit(imgBg, QStringLiteral("leOrder"), 300, 30, M - 130, 190);
    leOrder->setFont(fieldFont);
    leFile = fixedLineEdit(imgBg, QStringLiteral("leFile"), 300, 30, M - 130, 240);
    leFile->setFont(fieldFont);
    leFile->setFocusPolicy(Qt::NoFocus);
    leHash = new QLineEdit(imgBg);
    leHash->setObjectName(QStringLiteral("leHash"));
    leHash->move(M - 130, 290);
    leHash->hide();

    btnChoose = new QPushButton(gbText(texts::kChooseFile), imgBg);
    btnChoose->setObjectName(QStringLiteral("btnChoose"));
    btnChoose->setFixedSize(100, 30);
    btnChoose->move(M + 190, 240);

    btnCheck = new QPushButton(gbText(texts::kCheck), imgBg);
    btnCheck->setObjectName(QStringLiteral("btnCheck"));
    btnCheck->setFixedSize(150, 30);
    btnCheck->move(M - 75, 290);
    // The focus mark: with a style sheet the style draws none of its own.
    btnCheck->setStyleSheet(QStringLiteral("QPushButton{background-color: rgb(30, 144, 255);color:white}"
                                           "QPushButton:focus{border:2px solid rgb(10, 38, 92)}"));

    placedLabel(imgBg, texts::kTypeCaption, captionFont, M - 155, 140, QStringLiteral("labTypeCaption"));
    placedLabel(imgBg, texts::kOrderCaption, captionFont, M - 159, 190, QStringLiteral("labOrderCaption"));
    placedLabel(imgBg, texts::kFileCaption, captionFont, M - 155, 240, QStringLiteral("labFileCaption"));
    {
        auto *labTitle = new QLabel(imgBg);
        labTitle->setObjectName(QStringLiteral("labTitle"));
        const QString title = gbText(texts::kTitle);
        const int w = textWidth(QFontMetrics(labTitle->font()), title);
        labTitle->setText(title);
        labTitle->setFont(titleFont);
        const int h = QFontMetrics(labTitle->font()).height();
        QPalette palette = labTitle->palette();
        palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::white));
        labTitle->setPalette(palette);
        labTitle->move(M - w / 2, 55 - h / 2);
    }

    netManager = new QNetworkAccessManager(this);
    connect(netManager, SIGNAL(finished(QNetworkReply *)), this, SLOT(finishedPostSlot(QNetworkReply *)));
    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(onTimeout()));

    connect(btnCheck, SIGNAL(clicked()), this, SLOT(ClickBtnCheck()));
    connect(btnChoose, SIGNAL(clicked()), this, SLOT(ClickBtnChoose()));

    // The result panel, bottom layer first: later siblings are drawn above the frame.
    lePanel = fixedLineEdit(imgBg, QStringLiteral("lePanel"), 630, 210, M - 290, 350);
    lePanel->setFocusPolicy(Qt::NoFocus);
    lePanel->hide();
    leResultTitle = fixedLineEdit(imgBg, QStringLiteral("leResultTitle"), 100, 30, M - 260, 335);
    leResultTitle->setFont(fieldFont);
    leResultTitle->setStyleSheet(
        QStringLiteral("QLineEdit{border-width:0;border-style:outset;qproperty-alignment:AlignHCenter;}"));
    leResultTitle->setFocusPolicy(Qt::NoFocus);
    leResultTitle->hide();
    const QString valueStyle = QStringLiteral("QLineEdit{border-width:0;border-style:outset}");
    QLineEdit **values[] = {&leApplicant, &leTime, &leLocation, &leChain};
    const char *valueNames[] = {"leApplicant", "leTime", "leLocation", "leChain"};
    for (int row = 0; row < 4; ++row) {
        QLineEdit *edit = fixedLineEdit(imgBg, QString::fromLatin1(valueNames[row]), row == 3 ? 495 : 300, 30,
                                        M - 180, 430 + 30 * row);
        edit->setFont(fieldFont);
        edit->setStyleSheet(valueStyle);
        edit->setFocusPolicy(Qt::NoFocus);
        *values[row] = edit;
    }

    labResult = placedLabel(imgBg, texts::kPassHeading, titleFont, M + 50, 360, QStringLiteral("labResult"));
    labResult->setStyleSheet(QStringLiteral("color:green"));
    labResult->hide();
    labResultDesc =
        placedLabel(imgBg, texts::kPassDesc, captionFont, M + 185, 400, QStringLiteral("labResultDesc"));
    labResultDesc->setStyleSheet(QStringLiteral("color:green"));
    labResultDesc->hide();
    labApplicant =
        placedLabel(imgBg, texts::kApplicant, fieldFont, M - 200, 435, QStringLiteral("labApplicant"));
    labApplicant->hide();
    labLocation =
        placedLabel(imgBg, texts::kLocationInfo, fieldFont, M - 200, 495, QStringLiteral("labLocation"));
    labLocation->hide();
    labTime = placedLabel(imgBg, texts::kTimeInfo, fieldFont, M - 200, 465, QStringLiteral("labTime"));
    labTime->hide();
    labChain = placedLabel(imgBg, texts::kChain, fieldFont, M - 200, 525, QStringLiteral("labChain"));
    labChain->hide();

    imgResult = new cImg(imgBg);
    imgResult->setObjectName(QStringLiteral("imgResult"));
    imgResult->setImage(res(QStringLiteral("dui.png")), 1.0f);
    imgResult->move(M - 130, 360);
    imgResult->hide();

    // Part of the panel, so it never outlives it on screen: in the frame's free right-hand part,
    // between the verdict's lines and the chain line.
    btnReceipt = new QPushButton(gbText(texts::kSaveReceipt), lePanel);
    btnReceipt->setObjectName(QStringLiteral("btnReceipt"));
    btnReceipt->setFont(fieldFont);
    btnReceipt->setCursor(Qt::ArrowCursor); // not the frame's text cursor
    btnReceipt->setFixedSize(130, 30);
    btnReceipt->move(M + 190 - lePanel->x(), 455 - lePanel->y());
    btnReceipt->hide();
    connect(btnReceipt, &QAbstractButton::clicked, this, [this] { saveReceiptAs(); });

    setAcceptDrops(true);
    // A file dropped on the order field is chosen, not typed into it.
    leOrder->setAcceptDrops(false);

    setUpKeyboardAndReaders();
}

void filehash::setUpKeyboardAndReaders()
{
    // What the verdict panel shows came from the service or from the digest: nothing the user can
    // edit, paste or clear; copying stays.
    for (QLineEdit *edit : {leFile, leApplicant, leTime, leLocation, leChain, leResultTitle, lePanel})
        edit->setReadOnly(true);
    // A verdict describes the inputs it was given: any change takes it off the screen.
    connect(cbType, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { hidePanel(); });
    connect(leOrder, &QLineEdit::textChanged, this, [this] { hidePanel(); });

    // Enter verifies from the order field and on the focused buttons; Tab goes through the inputs in
    // the order they are filled. The window's own buttons are for the mouse, as a title bar's are.
    connect(leOrder, &QLineEdit::returnPressed, btnCheck, &QAbstractButton::click);
    btnChoose->setAutoDefault(true);
    btnCheck->setAutoDefault(true);
    btnClose->setFocusPolicy(Qt::NoFocus);
    btnMin->setFocusPolicy(Qt::NoFocus);
    setTabOrder(cbType, leOrder);
    setTabOrder(leOrder, btnChoose);
    setTabOrder(btnChoose, btnCheck);
    setTabOrder(btnCheck, btnReceipt);
    btnReceipt->setAutoDefault(true);
    cbType->setFocus();

    // What a screen reader says for each control and field.
    const auto caption = [](const char *gb) { return gbText(gb).remove(QChar(0xFF1A)); };
    btnClose->setAccessibleName(gbText(texts::kClose));
    btnMin->setAccessibleName(gbText(texts::kMinimise));
    cbType->setAccessibleName(caption(texts::kTypeCaption));
    leOrder->setAccessibleName(caption(texts::kOrderCaption));
    leFile->setAccessibleName(caption(texts::kFileCaption));
    leResultTitle->setAccessibleName(gbText(texts::kResultTitle));
    lePanel->setAccessibleName(gbText(texts::kResultTitle));
    leApplicant->setAccessibleName(caption(texts::kApplicant));
    leTime->setAccessibleName(caption(texts::kTimeInfo));
    leLocation->setAccessibleName(caption(texts::kLocationInfo));
    leChain->setAccessibleName(caption(texts::kChain));
}

QString filehash::res(const QString &name) const
{
    return resDir + QLatin1Char('/') + name;
}

void filehash::hidePanel()
{
    for (QWidget *w : std::initializer_list<QWidget *>{imgResult, labResult, labResultDesc, labApplicant,
                                                       labLocation, labTime, labChain, lePanel, leResultTitle,
                                                       leApplicant, leTime, leLocation, leChain, btnReceipt})
        w->hide();
    receipt.reset();
}

void filehash::onClickBtnMin()
{
    showMinimized();
}

void filehash::onClickBtnClose()
{
    const QMessageBox::StandardButton answer =
        QMessageBox::question(nullptr, gbText(texts::kInfoTitle), gbText(texts::kCloseQuestion),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        QCoreApplication::quit();
}

void filehash::onCBChanged(int newIndex)
{
    typeCode = newIndex + 1;
}
