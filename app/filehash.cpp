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

// A button in the verify button's colours, with a dark ring when it has the keyboard's focus.
// A style sheet background shows only with a border of the style sheet's own.
const char kCheckStyle[] = "QPushButton{background-color: rgb(30, 144, 255);color:white;"
                           "border:1px solid rgb(24, 116, 205);border-radius:2px}"
                           "QPushButton:pressed{background-color: rgb(24, 116, 205)}"
                           "QPushButton:focus{border:2px solid rgb(10, 38, 92)}";
// The receipt button: plain, and as plainly focused as the verify button.
const char kReceiptStyle[] = "QPushButton{background-color: white;color:black;"
                             "border:1px solid rgb(160, 160, 160);border-radius:2px}"
                             "QPushButton:hover{background-color: rgb(232, 242, 255)}"
                             "QPushButton:pressed{background-color: rgb(208, 228, 255)}"
                             "QPushButton:focus{border:2px solid rgb(10, 38, 92)}";

// A label whose position is derived from its text's width in the default font (the font a new
// label inherits, before its own font is applied).
QLabel *placedLabel(QWidget *parent, const char *gbTextBytes, const QFont &font, int right, int y,
                    const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    const QString text = gbText(gbTextBytes);
    const int w = QFontMetrics(label->font()).horizontalAdvance(text);
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
    setDragArea(0, 0, W, kDragBandHeight);

    for (int code = 1; code <= texts::kTypeCount; ++code)
        typeNames.insert(code, gbText(texts::kTypeNames[code - 1]));
    typeCode = 1;

    buildTitleBand(W);
    buildInputs(W / 2);

    netManager = new QNetworkAccessManager(this);
    connect(netManager, SIGNAL(finished(QNetworkReply *)), this, SLOT(finishedPostSlot(QNetworkReply *)));
    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(onTimeout()));
    connect(btnCheck, SIGNAL(clicked()), this, SLOT(ClickBtnCheck()));
    connect(btnChoose, SIGNAL(clicked()), this, SLOT(ClickBtnChoose()));

    buildResultPanel(W / 2);

    setAcceptDrops(true);
    // A file dropped on the order field is chosen, not typed into it.
    leOrder->setAcceptDrops(false);

    setUpKeyboardAndReaders();
}

// The window's own buttons, the logo and the heading, on the band that drags the window.
void filehash::buildTitleBand(int width)
{
    btnClose = new cButton(imgBg);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setImage(res(QStringLiteral("btn_close")));
    btnClose->move(width - 10 - btnClose->width(), 10);
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

    auto *labTitle = new QLabel(imgBg);
    labTitle->setObjectName(QStringLiteral("labTitle"));
    const QString title = gbText(texts::kTitle);
    const int w = QFontMetrics(labTitle->font()).horizontalAdvance(title);
    labTitle->setText(title);
    labTitle->setFont(yaHei(16));
    const int h = QFontMetrics(labTitle->font()).height();
    QPalette palette = labTitle->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::white));
    labTitle->setPalette(palette);
    labTitle->move(width / 2 - w / 2, 55 - h / 2);
}

// The evidence type, the order number, the file and the two buttons, with their captions.
void filehash::buildInputs(int M)
{
    const QFont fieldFont = filehash::inputFont();
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
    btnCheck->setStyleSheet(QString::fromLatin1(kCheckStyle));

    const QFont captionFont = yaHei(12);
    placedLabel(imgBg, texts::kTypeCaption, captionFont, M - 155, 140, QStringLiteral("labTypeCaption"));
    placedLabel(imgBg, texts::kOrderCaption, captionFont, M - 159, 190, QStringLiteral("labOrderCaption"));
    placedLabel(imgBg, texts::kFileCaption, captionFont, M - 155, 240, QStringLiteral("labFileCaption"));
}

// The verdict: frame, heading, image, explanation, the record rows of a pass and the receipt
// button, all hidden until an answer comes. Bottom layer first: later siblings are drawn above the
// frame.
void filehash::buildResultPanel(int M)
{
    const QFont fieldFont = filehash::inputFont();
    lePanel = fixedLineEdit(imgBg, QStringLiteral("lePanel"), 630, 210, M - 290, 350);
    lePanel->setFocusPolicy(Qt::NoFocus);
    leResultTitle = fixedLineEdit(imgBg, QStringLiteral("leResultTitle"), 100, 30, M - 260, 335);
    leResultTitle->setFont(fieldFont);
    leResultTitle->setStyleSheet(
        QStringLiteral("QLineEdit{border-width:0;border-style:outset;qproperty-alignment:AlignHCenter;}"));
    leResultTitle->setFocusPolicy(Qt::NoFocus);
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

    labResult = placedLabel(imgBg, texts::kPassHeading, yaHei(16), M + 50, 360, QStringLiteral("labResult"));
    labResult->setStyleSheet(QStringLiteral("color:green"));
    labResultDesc =
        placedLabel(imgBg, texts::kPassDesc, yaHei(12), M + 185, 400, QStringLiteral("labResultDesc"));
    labResultDesc->setStyleSheet(QStringLiteral("color:green"));
    labApplicant =
        placedLabel(imgBg, texts::kApplicant, fieldFont, M - 200, 435, QStringLiteral("labApplicant"));
    labLocation =
        placedLabel(imgBg, texts::kLocationInfo, fieldFont, M - 200, 495, QStringLiteral("labLocation"));
    labTime = placedLabel(imgBg, texts::kTimeInfo, fieldFont, M - 200, 465, QStringLiteral("labTime"));
    labChain = placedLabel(imgBg, texts::kChain, fieldFont, M - 200, 525, QStringLiteral("labChain"));

    imgResult = new cImg(imgBg);
    imgResult->setObjectName(QStringLiteral("imgResult"));
    imgResult->setImage(res(QStringLiteral("dui.png")), 1.0f);
    imgResult->move(M - 130, 360);

    // Part of the panel, so it never outlives it on screen: in the frame's free right-hand part,
    // between the verdict's lines and the chain line.
    btnReceipt = new QPushButton(gbText(texts::kSaveReceipt), lePanel);
    btnReceipt->setObjectName(QStringLiteral("btnReceipt"));
    btnReceipt->setFont(fieldFont);
    btnReceipt->setCursor(Qt::ArrowCursor); // not the frame's text cursor
    btnReceipt->setFixedSize(130, 30);
    btnReceipt->setStyleSheet(QString::fromLatin1(kReceiptStyle));
    btnReceipt->move(M + 190 - lePanel->x(), 455 - lePanel->y());
    connect(btnReceipt, &QAbstractButton::clicked, this, [this] { saveReceiptAs(); });

    panelParts = {{lePanel, false},       {leResultTitle, false}, {imgResult, false},   {labResult, false},
                  {labResultDesc, false}, {btnReceipt, false},    {labApplicant, true}, {labTime, true},
                  {labLocation, true},    {labChain, true},       {leApplicant, true},  {leTime, true},
                  {leLocation, true},     {leChain, true}};
    for (const PanelPart &part : panelParts)
        part.widget->hide();
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

QFont filehash::inputFont()
{
    return yaHei(10);
}

QString filehash::res(const QString &name) const
{
    return resDir + QLatin1Char('/') + name;
}

void filehash::showPanel(bool pass)
{
    for (const PanelPart &part : panelParts)
        part.widget->setVisible(pass || !part.passOnly);
}

void filehash::hidePanel()
{
    for (const PanelPart &part : panelParts)
        part.widget->hide();
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
