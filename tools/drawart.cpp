// filehash-art: draws every picture of the window with QPainter and writes them as PNGs, plus the
// application icon.
//
//   filehash-art [--res DIR] [--ico FILE] [--icons DIR]
//
// --res      the window's pictures, each as NAME.png and NAME@2x.png (Qt's name for the picture at
//            device pixel ratio 2); default: the source tree's res/
// --ico      the Windows icon; default: the source tree's app/filehash.ico
// --icons    the desktop package's icon theme folder, written as DIR/hicolor/NxN/apps/ID.png and
//            DIR/hicolor/scalable/apps/ID.svg, ID being the desktop id; default: the source tree's
//            packaging/icons/
//
// Everything is drawn from shapes (no text, no fonts), so the output does not depend on the machine
// it is run on.

#include <QColor>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#ifndef FILEHASH_RES_DIR
#define FILEHASH_RES_DIR "res"
#endif
#ifndef FILEHASH_ICON_FILE
#define FILEHASH_ICON_FILE "filehash.ico"
#endif
#ifndef FILEHASH_ICONS_DIR
#define FILEHASH_ICONS_DIR "icons"
#endif
#ifndef FILEHASH_APP_ID
#define FILEHASH_APP_ID "filehash"
#endif

namespace
{

// ---- palette -------------------------------------------------------------------------------------

const QColor kNavy(10, 38, 92);         // top-left of the band
const QColor kMidBlue(19, 82, 172);     // behind the title
const QColor kBrightBlue(30, 132, 238); // bottom-right of the band, next to the button's (30,144,255)
// White, like the line edits: the empty result fields, shown before any verdict, then blend in.
const QColor kBody(255, 255, 255);
const QColor kEdge(214, 222, 234); // hairline round the body
const QColor kPassGreen(46, 160, 67);
const QColor kFailRed(215, 58, 73);
const QColor kCloseRed(232, 17, 35);

constexpr int kBgWidth = 700;
constexpr int kBgHeight = 600;
constexpr int kBand = 110;

// The icon's name in the desktop icon theme: the desktop id the build names (FILEHASH_APP_ID).
const QString kIconName = QStringLiteral(FILEHASH_APP_ID);

// An image of w x h logical pixels at device pixel ratio dpr. A painter on it works in logical
// coordinates, so every picture is designed once and drawn as vectors at each ratio, never upscaled.
QImage canvas(int w, int h, int dpr, const QColor &fill)
{
    QImage img(w * dpr, h * dpr, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.fill(fill);
    return img;
}

QImage transparentImage(int w, int h, int dpr)
{
    return canvas(w, h, dpr, Qt::transparent);
}

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(alpha);
    return c;
}

QColor mix(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// The band's gradient, shared by the background and the application icon.
QLinearGradient bandGradient(QPointF from, QPointF to)
{
    QLinearGradient g(from, to);
    g.setColorAt(0.0, kNavy);
    g.setColorAt(0.5, kMidBlue);
    g.setColorAt(1.0, kBrightBlue);
    return g;
}

// ---- the emblem: a shield with a check mark --------------------------------------------------------

// The shield's outline in a 100 x 100 design box (it spans x 20..80, y 10..92).
QPainterPath shieldPath()
{
    QPainterPath p;
    p.moveTo(50, 10);
    p.cubicTo(60, 17, 70, 20, 80, 20.5);
    p.lineTo(80, 47);
    p.cubicTo(80, 68, 67, 83, 50, 92);
    p.cubicTo(33, 83, 20, 68, 20, 47);
    p.lineTo(20, 20.5);
    p.cubicTo(30, 20, 40, 17, 50, 10);
    p.closeSubpath();
    return p;
}

QPainterPath checkPath()
{
    QPainterPath p;
    p.moveTo(36, 50);
    p.lineTo(46.5, 60.5);
    p.lineTo(65, 40);
    return p;
}

// The emblem for the band: a white shield outline on a light veil, with a white check.
void drawBandEmblem(QPainter &p, const QRectF &box)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 100.0, box.height() / 100.0);

    const QPainterPath shield = shieldPath();
    QLinearGradient veil(0, 10, 0, 92);
    veil.setColorAt(0, QColor(255, 255, 255, 70));
    veil.setColorAt(1, QColor(255, 255, 255, 22));
    p.fillPath(shield, veil);

    // A faint inner line, like an engraved rim.
    p.save();
    p.translate(50, 50);
    p.scale(0.83, 0.83);
    p.translate(-50, -50);
    p.setPen(QPen(QColor(255, 255, 255, 80), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shield);
    p.restore();

    p.setPen(QPen(Qt::white, 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shield);

    p.setPen(QPen(Qt::white, 7.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(checkPath());
    p.restore();
}

// ---- bg.png ---------------------------------------------------------------------------------------

// A hexagon lattice (flat-topped hexagons of circumradius r), white lines on transparent, with a few
// vertices marked as nodes: the "chain" motif.
QImage hexLayer(int w, int h, qreal r, int dpr)
{
    QImage layer = transparentImage(w, h, dpr);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.0));
    p.setBrush(Qt::NoBrush);

    const qreal dx = 1.5 * r;
    const qreal dy = qSqrt(3.0) * r;
    int column = 0;
    for (qreal cx = -r; cx < w + 2 * r; cx += dx, ++column) {
        const qreal offset = (column % 2) ? dy / 2 : 0;
        int row = 0;
        for (qreal cy = -dy + offset; cy < h + dy; cy += dy, ++row) {
            QPolygonF hex;
            for (int k = 0; k < 6; ++k) {
                const qreal a = qDegreesToRadians(60.0 * k);
                hex << QPointF(cx + r * qCos(a), cy + r * qSin(a));
            }
            p.drawPolygon(hex);
            // Nodes on a sparse, regular-looking but not grid-like subset of vertices.
            if ((column * 7 + row * 3) % 5 == 0) {
                p.save();
                p.setBrush(Qt::white);
                p.setPen(Qt::NoPen);
                p.drawEllipse(hex[(column + row) % 6], 2.0, 2.0);
                p.restore();
            }
        }
    }
    return layer;
}

// Multiplies the layer's alpha by a horizontal profile: clear on the left, rising to the right.
void fadeLeftwards(QImage &layer, qreal clearUntil, qreal fullFrom)
{
    QPainter p(&layer);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    QLinearGradient mask(clearUntil, 0, fullFrom, 0);
    mask.setColorAt(0, QColor(0, 0, 0, 0));
    mask.setColorAt(1, QColor(0, 0, 0, 255));
    p.fillRect(QRectF(QPointF(), QSizeF(layer.size()) / layer.devicePixelRatio()), mask);
}

QImage drawBackground(int dpr)
{
    QImage img = canvas(kBgWidth, kBgHeight, dpr, kBody);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF band(0, 0, kBgWidth, kBand);

    // The band: navy on the left to a bright blue on the right, slightly diagonal.
    p.fillRect(band, bandGradient(QPointF(0, 0), QPointF(kBgWidth, kBand * 2.2)));

    // A soft light from the upper right.
    QRadialGradient glow(QPointF(kBgWidth - 80, -30), 360);
    glow.setColorAt(0, QColor(255, 255, 255, 34));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(band, glow);

    // The lattice, only towards the right, well away from the logo and faint behind the title.
    QImage lattice = hexLayer(kBgWidth, kBand, 17, dpr);
    fadeLeftwards(lattice, 330, 660);
    p.setOpacity(0.13);
    p.drawImage(0, 0, lattice);
    p.setOpacity(1.0);

    // A faint darker fall-off towards the band's bottom, then a light hairline closing it.
    QLinearGradient depth(0, kBand - 30, 0, kBand);
    depth.setColorAt(0, QColor(0, 10, 40, 0));
    depth.setColorAt(1, QColor(0, 10, 40, 28));
    p.fillRect(QRectF(0, kBand - 30, kBgWidth, 30), depth);
    p.fillRect(QRectF(0, kBand - 1, kBgWidth, 1), QColor(255, 255, 255, 40));

    // Under the band, a short soft shadow on the body.
    QLinearGradient shade(0, kBand, 0, kBand + 6);
    shade.setColorAt(0, QColor(15, 40, 80, 30));
    shade.setColorAt(1, QColor(15, 40, 80, 0));
    p.fillRect(QRectF(0, kBand, kBgWidth, 6), shade);

    // A hairline round the body so the light window keeps its edge on a light desktop.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(0, kBand, 1, kBgHeight - kBand), kEdge);
    p.fillRect(QRect(kBgWidth - 1, kBand, 1, kBgHeight - kBand), kEdge);
    p.fillRect(QRect(0, kBgHeight - 1, kBgWidth, 1), kEdge);
    return img;
}

// ---- logo.png -------------------------------------------------------------------------------------

QImage drawLogo(int dpr)
{
    // 90 x 90 placed at (15,10): vertically centred in the 110 px band.
    QImage img = transparentImage(90, 90, dpr);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawBandEmblem(p, QRectF(13, 13, 64, 64));
    return img;
}

// ---- title bar buttons ----------------------------------------------------------------------------

enum class ButtonState { Normal, Hover, Press };
enum class Glyph { Close, Minimise };

constexpr int kButton = 30;

QImage drawButton(Glyph glyph, ButtonState state, int dpr)
{
    QImage img = transparentImage(kButton, kButton, dpr);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    if (state != ButtonState::Normal) {
        QColor back;
        if (glyph == Glyph::Close)
            back = state == ButtonState::Hover ? kCloseRed : kCloseRed.darker(125);
        else
            back = state == ButtonState::Hover ? QColor(255, 255, 255, 46) : QColor(0, 12, 40, 56);
        p.setPen(Qt::NoPen);
        p.setBrush(back);
        p.drawRoundedRect(QRectF(1, 1, kButton - 2, kButton - 2), 5, 5);
    }

    QColor ink = Qt::white;
    if (state == ButtonState::Press)
        ink = QColor(255, 255, 255, 225);
    if (glyph == Glyph::Close) {
        // Two strokes of a 10 px square, centred on the pixel grid.
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
        const qreal a = 10.0, b = 20.0;
        p.drawLine(QPointF(a, a), QPointF(b, b));
        p.drawLine(QPointF(a, b), QPointF(b, a));
    } else {
        // A bar on whole pixels so it stays sharp: 10 x 2 at the button's centre.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRect(10, 15, 10, 2), ink);
    }
    return img;
}

// ---- verdict icons --------------------------------------------------------------------------------

constexpr int kVerdict = 40;

void drawVerdictDisc(QPainter &p, const QColor &base)
{
    const QRectF disc(1, 1, kVerdict - 2, kVerdict - 2);
    QLinearGradient fill(0, disc.top(), 0, disc.bottom());
    fill.setColorAt(0, base.lighter(112));
    fill.setColorAt(1, base.darker(106));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(disc);
    // A thin darker rim keeps the edge crisp on the light panel.
    p.setPen(QPen(withAlpha(base.darker(130), 0.55), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
}

QImage drawPass(int dpr)
{
    QImage img = transparentImage(kVerdict, kVerdict, dpr);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawVerdictDisc(p, kPassGreen);
    QPainterPath check;
    check.moveTo(11.5, 20.5);
    check.lineTo(17.5, 26.5);
    check.lineTo(28.5, 14.5);
    p.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
    return img;
}

QImage drawFail(int dpr)
{
    QImage img = transparentImage(kVerdict, kVerdict, dpr);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawVerdictDisc(p, kFailRed);
    p.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap));
    const qreal a = 13.5, b = 26.5;
    p.drawLine(QPointF(a, a), QPointF(b, b));
    p.drawLine(QPointF(a, b), QPointF(b, a));
    return img;
}

// ---- application icon -----------------------------------------------------------------------------

// The icon's design on a 256 x 256 box, shared by the bitmaps and the SVG so the two cannot drift.
const QRectF kTile(8, 8, 240, 240);
constexpr qreal kTileRadius = 52;
const QPointF kGlowCentre(210, 20);
constexpr qreal kGlowRadius = 220;
const QColor kGlow(255, 255, 255, 40);
// The shield's 100-unit design box placed on the tile.
const QPointF kShieldOrigin(28, 26);
constexpr qreal kShieldScale = 2.0;
const QColor kShieldTop(Qt::white);
const QColor kShieldBottom(226, 236, 250);
constexpr qreal kIconCheckWidth = 9.0;

// The check is cut in the tile's blue.
QColor iconCheckColour()
{
    return mix(kNavy, kMidBlue, 0.6);
}

QImage drawAppIcon(int size)
{
    QImage img = transparentImage(size, size, 1);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 256.0;
    p.scale(s, s);

    // A rounded tile in the band's colours.
    p.setPen(Qt::NoPen);
    p.setBrush(bandGradient(kTile.topLeft(), kTile.bottomRight()));
    p.drawRoundedRect(kTile, kTileRadius, kTileRadius);
    QRadialGradient glow(kGlowCentre, kGlowRadius);
    glow.setColorAt(0, kGlow);
    glow.setColorAt(1, withAlpha(kGlow, 0));
    p.setBrush(glow);
    p.drawRoundedRect(kTile, kTileRadius, kTileRadius);

    // A solid white shield with the check cut in the tile's blue: bold enough to read at 16 px.
    p.save();
    p.translate(kShieldOrigin);
    p.scale(kShieldScale, kShieldScale);
    QLinearGradient shieldFill(0, 10, 0, 92);
    shieldFill.setColorAt(0, kShieldTop);
    shieldFill.setColorAt(1, kShieldBottom);
    p.fillPath(shieldPath(), shieldFill);
    p.setPen(QPen(iconCheckColour(), kIconCheckWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(checkPath());
    p.restore();
    return img;
}

// ---- the icon as SVG ------------------------------------------------------------------------------

QString svgNumber(qreal v)
{
    return QString::number(v, 'g', 6);
}

// SVG path data from a QPainterPath made of moves, lines and cubic curves (all the emblem uses).
QString svgPathData(const QPainterPath &path, bool closed)
{
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QString point = svgNumber(e.x) + QLatin1Char(' ') + svgNumber(e.y);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            parts << QLatin1String("M ") + point;
            break;
        case QPainterPath::LineToElement:
            parts << QLatin1String("L ") + point;
            break;
        case QPainterPath::CurveToElement:
            parts << QLatin1String("C ") + point;
            break;
        case QPainterPath::CurveToDataElement:
            parts << point;
            break;
        }
    }
    if (closed)
        parts << QStringLiteral("Z");
    return parts.join(QLatin1Char(' '));
}

QString svgStop(qreal offset, const QColor &c)
{
    return QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\" stop-opacity=\"%3\"/>")
        .arg(svgNumber(offset), c.name(QColor::HexRgb), svgNumber(c.alphaF()));
}

// The same picture as drawAppIcon, written from the same shapes and colours.
QString appIconSvg()
{
    const QString band = svgStop(0, kNavy) + svgStop(0.5, kMidBlue) + svgStop(1, kBrightBlue);
    const QString tile = QStringLiteral("x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" ry=\"%5\"")
                             .arg(svgNumber(kTile.x()), svgNumber(kTile.y()), svgNumber(kTile.width()),
                                  svgNumber(kTile.height()), svgNumber(kTileRadius));
    QString svg;
    QTextStream out(&svg);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
        << "  <defs>\n"
        << "    <linearGradient id=\"band\" gradientUnits=\"userSpaceOnUse\" x1=\"" << svgNumber(kTile.left())
        << "\" y1=\"" << svgNumber(kTile.top()) << "\" x2=\"" << svgNumber(kTile.right()) << "\" y2=\""
        << svgNumber(kTile.bottom()) << "\">" << band << "</linearGradient>\n"
        << "    <radialGradient id=\"glow\" gradientUnits=\"userSpaceOnUse\" cx=\""
        << svgNumber(kGlowCentre.x()) << "\" cy=\"" << svgNumber(kGlowCentre.y()) << "\" r=\""
        << svgNumber(kGlowRadius) << "\">" << svgStop(0, kGlow) << svgStop(1, withAlpha(kGlow, 0))
        << "</radialGradient>\n"
        << "    <linearGradient id=\"shield\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" y1=\"10\" x2=\"0\" "
           "y2=\"92\">"
        << svgStop(0, kShieldTop) << svgStop(1, kShieldBottom) << "</linearGradient>\n"
        << "  </defs>\n"
        << "  <rect " << tile << " fill=\"url(#band)\"/>\n"
        << "  <rect " << tile << " fill=\"url(#glow)\"/>\n"
        << "  <g transform=\"translate(" << svgNumber(kShieldOrigin.x()) << ' '
        << svgNumber(kShieldOrigin.y()) << ") scale(" << svgNumber(kShieldScale) << ")\">\n"
        << "    <path d=\"" << svgPathData(shieldPath(), true) << "\" fill=\"url(#shield)\"/>\n"
        << "    <path d=\"" << svgPathData(checkPath(), false) << "\" fill=\"none\" stroke=\""
        << iconCheckColour().name(QColor::HexRgb) << "\" stroke-width=\"" << svgNumber(kIconCheckWidth)
        << "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
        << "  </g>\n"
        << "</svg>\n";
    out.flush();
    return svg;
}

// ---- output ---------------------------------------------------------------------------------------

void report(const QString &line)
{
    QTextStream(stdout) << line << '\n';
}

bool fail(const QString &what)
{
    QTextStream(stderr) << "filehash-art: " << what << '\n';
    return false;
}

bool save(const QImage &image, const QString &path, const char *format)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("cannot create the folder of ") + path);
    QImageWriter writer(path, format);
    if (!writer.write(image.convertToFormat(QImage::Format_ARGB32)))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, writer.errorString()));
    report(QStringLiteral("%1 (%2x%3)").arg(path).arg(image.width()).arg(image.height()));
    return true;
}

bool saveText(const QString &text, const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("cannot create the folder of ") + path);
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
        !file.flush())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    report(path);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing is shown: any platform plugin will do, and the offscreen one runs without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws filehash's pictures and icons."));
    parser.addHelpOption();
    const QCommandLineOption resOption(QStringLiteral("res"),
                                       QStringLiteral("Folder for the window's pictures (default: %1).")
                                           .arg(QStringLiteral(FILEHASH_RES_DIR)),
                                       QStringLiteral("dir"), QStringLiteral(FILEHASH_RES_DIR));
    const QCommandLineOption icoOption(
        QStringLiteral("ico"),
        QStringLiteral("The Windows icon file (default: %1).").arg(QStringLiteral(FILEHASH_ICON_FILE)),
        QStringLiteral("file"), QStringLiteral(FILEHASH_ICON_FILE));
    const QCommandLineOption iconsOption(
        QStringLiteral("icons"),
        QStringLiteral("Folder that receives the hicolor icon theme (default: %1).")
            .arg(QStringLiteral(FILEHASH_ICONS_DIR)),
        QStringLiteral("dir"), QStringLiteral(FILEHASH_ICONS_DIR));
    parser.addOptions({resOption, icoOption, iconsOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument ") + parser.positionalArguments().first());
        parser.showHelp(2);
    }
    const QDir res(parser.value(resOption));
    const QDir icons(parser.value(iconsOption));

    using Draw = std::function<QImage(int dpr)>;
    const std::vector<std::pair<const char *, Draw>> pictures = {
        {"bg", drawBackground},
        {"logo", drawLogo},
        {"btn_close", [](int dpr) { return drawButton(Glyph::Close, ButtonState::Normal, dpr); }},
        {"btn_close_hover", [](int dpr) { return drawButton(Glyph::Close, ButtonState::Hover, dpr); }},
        {"btn_close_press", [](int dpr) { return drawButton(Glyph::Close, ButtonState::Press, dpr); }},
        {"btn_min", [](int dpr) { return drawButton(Glyph::Minimise, ButtonState::Normal, dpr); }},
        {"btn_min_hover", [](int dpr) { return drawButton(Glyph::Minimise, ButtonState::Hover, dpr); }},
        {"btn_min_press", [](int dpr) { return drawButton(Glyph::Minimise, ButtonState::Press, dpr); }},
        {"dui", drawPass},
        {"cuo", drawFail},
    };

    bool ok = true;
    for (const auto &picture : pictures) {
        const QString name = QString::fromLatin1(picture.first);
        ok &= save(picture.second(1), res.filePath(name + QLatin1String(".png")), "png");
        ok &= save(picture.second(2), res.filePath(name + QLatin1String("@2x.png")), "png");
    }

    // Qt's ICO writer stores one image per file, so the icon is the 256 px picture alone; Windows
    // scales it for the smaller sizes.
    ok &= save(drawAppIcon(256), parser.value(icoOption), "ico");

    // The desktop's icon theme picks the nearest size, so each common one is drawn rather than scaled.
    for (const int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString path = QStringLiteral("hicolor/%1x%1/apps/%2.png").arg(size).arg(kIconName);
        ok &= save(drawAppIcon(size), icons.filePath(path), "png");
    }
    ok &=
        saveText(appIconSvg(), icons.filePath(QStringLiteral("hicolor/scalable/apps/%1.svg").arg(kIconName)));
    return ok ? 0 : 1;
}
