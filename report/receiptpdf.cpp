#include "report/receiptpdf.h"

#include "core/texts.h"
#include "core/visibletext.h"
#include "core/wholefile.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextLayout>

namespace
{

// Device units per point: fine enough that text advances are not rounded visibly.
constexpr qreal kPt = 10;
constexpr qreal kMarginPt = 50;
constexpr qreal kLabelPt = 100; // width of the caption column
// The answer keeps its line breaks up to this many lines: with the cut at 2,000 characters its row
// stays within a page, whatever the answer.
constexpr int kBodyLines = 30;

QFont textFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont monoFont(qreal points)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Consolas"),
                      QStringLiteral("WenQuanYi Micro Hei Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(points);
    return font;
}

// Draws text top to bottom, page after page.
class Pages
{
public:
    explicit Pages(QPdfWriter *writer)
        : m_writer(writer), m_painter(writer), m_width(writer->width()), m_bottom(writer->height())
    {
    }

    QPainter &painter() { return m_painter; }
    qreal width() const { return m_width; }
    qreal y() const { return m_y; }
    int page() const { return m_page; }
    void skip(qreal height) { m_y += height; }

    // Starts a new page if less than height is left on this one.
    void need(qreal height)
    {
        if (m_y + height > m_bottom && m_y > 0) {
            m_writer->newPage();
            m_y = 0;
            ++m_page;
        }
    }

    // Lays text out in [x, x + width), wrapping where it must, and draws it line by line.
    void paragraphs(const QString &text, const QFont &font, qreal x, qreal width,
                    QTextOption::WrapMode wrap = QTextOption::WrapAtWordBoundaryOrAnywhere)
    {
        QTextOption option;
        option.setWrapMode(wrap);
        const QFontMetricsF metrics(font, m_writer);
        for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
            QTextLayout layout(paragraph, font, m_writer);
            layout.setTextOption(option);
            layout.beginLayout();
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
                line.setLineWidth(width);
            layout.endLayout();
            for (int i = 0; i < layout.lineCount(); ++i) {
                const QTextLine line = layout.lineAt(i);
                need(line.height());
                line.draw(&m_painter, QPointF(x, m_y - line.y()));
                m_y += line.height();
            }
            if (layout.lineCount() == 0)
                m_y += metrics.height();
        }
    }

private:
    QPdfWriter *m_writer;
    QPainter m_painter;
    qreal m_width;
    qreal m_bottom;
    qreal m_y = 0;
    int m_page = 0;
};

// A circle with a tick or a cross: tells the verdict in black and white as well as in colour.
void drawVerdictIcon(QPainter &p, const QRectF &box, bool pass)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, box.width() / 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const qreal inset = box.width() / 24;
    p.drawEllipse(box.adjusted(inset, inset, -inset, -inset));
    const auto at = [&box](qreal fx, qreal fy) {
        return QPointF(box.left() + fx * box.width(), box.top() + fy * box.height());
    };
    QPainterPath mark;
    if (pass) {
        mark.moveTo(at(0.28, 0.52));
        mark.lineTo(at(0.44, 0.68));
        mark.lineTo(at(0.73, 0.36));
    } else {
        mark.moveTo(at(0.33, 0.33));
        mark.lineTo(at(0.67, 0.67));
        mark.moveTo(at(0.67, 0.33));
        mark.lineTo(at(0.33, 0.67));
    }
    p.drawPath(mark);
    p.restore();
}

QString timeLine(const QDateTime &at)
{
    if (!at.isValid())
        return gbText(texts::kReceiptNotRecorded);
    return localTimeText(at) + QStringLiteral("   (UTC ") + utcTimeText(at) + QLatin1Char(')');
}

// The body as text when it is valid UTF-8; a null string when it is not.
QString bodyText(const QByteArray &body)
{
    const QString text = QString::fromUtf8(body);
    // Malformed UTF-8 comes back as U+FFFD, so does not encode to the same bytes.
    return text.toUtf8() == body ? text : QString();
}

// The digest's face: as large as reads well, small enough that 64 characters fit on one line.
QFont digestFont(const QString &digest, qreal width, const QPaintDevice *device)
{
    qreal points = 10;
    QFont font = monoFont(points);
    while (points > 5 && QFontMetricsF(font, device).horizontalAdvance(digest) > width) {
        points -= 0.25;
        font = monoFont(points);
    }
    return font;
}

} // namespace

QByteArray receiptPdf(const Receipt &r, const QString &unstampedBecause, QRectF *markBox)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(static_cast<int>(72 * kPt));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(kMarginPt, kMarginPt, kMarginPt, kMarginPt), QPageLayout::Point);
    writer.setTitle(gbText(texts::kReceiptTitle) + QLatin1Char(' ') + visibleText(r.order).text);
    writer.setCreator(r.toolName + QLatin1Char(' ') + r.toolVersion);

    Pages pages(&writer);
    QPainter &p = pages.painter();
    const qreal W = pages.width();
    const qreal label = kLabelPt * kPt;
    const QFont body = textFont(9.5);
    const QFont caption = textFont(9.5);
    const QColor grey(90, 90, 90);

    p.setPen(Qt::black);
    pages.paragraphs(gbText(texts::kReceiptTitle), textFont(18, true), 0, W);
    pages.skip(14 * kPt);

    // The verdict, with its mark beside it, and what exactly was compared.
    const qreal icon = 34 * kPt;
    const qreal top = pages.y();
    drawVerdictIcon(p, QRectF(0, top, icon, icon), r.pass);
    if (markBox)
        *markBox = QRectF(kMarginPt, kMarginPt + top / kPt, icon / kPt, icon / kPt);
    pages.skip(1 * kPt);
    pages.paragraphs(gbText(r.pass ? texts::kPassHeading : texts::kFailHeading), textFont(15, true),
                     icon + 12 * kPt, W - icon - 12 * kPt);
    const QString digested =
        r.digestedAt.isValid() ? localTimeText(r.digestedAt) : gbText(texts::kReceiptNotRecorded);
    pages.paragraphs(gbText(r.pass ? texts::kReceiptComparedPass : texts::kReceiptComparedFail).arg(digested),
                     textFont(10.5), icon + 12 * kPt, W - icon - 12 * kPt);
    pages.skip(qMax<qreal>(0, top + icon - pages.y()) + 10 * kPt);

    const auto section = [&](const char *title) {
        pages.skip(8 * kPt);
        pages.need(40 * kPt);
        p.setPen(Qt::black);
        pages.paragraphs(gbText(title), textFont(11.5, true), 0, W);
        p.setPen(QPen(grey, 0.6 * kPt));
        p.drawLine(QPointF(0, pages.y() + 2 * kPt), QPointF(W, pages.y() + 2 * kPt));
        pages.skip(7 * kPt);
    };
    // Every value is drawn as visibleText() shows it: most came from outside, and what this tool
    // wrote itself has nothing to escape. maxLines as visibleText() takes it.
    const auto row = [&](const char *name, const QString &value, const QFont &font = QFont(),
                         int maxLines = 1) {
        const QFont valueFont = font == QFont() ? body : font;
        const VisibleText shown = visibleText(value, maxLines);
        // The caption's lines and the value's first one on the same page.
        const QStringList captionLines = gbText(name).split(QLatin1Char('\n'));
        pages.need(qMax(QFontMetricsF(caption, &writer).height() * captionLines.size(),
                        QFontMetricsF(valueFont, &writer).height()));
        const qreal y = pages.y();
        const int page = pages.page();
        p.setPen(grey);
        pages.paragraphs(gbText(name), caption, 0, label - 6 * kPt);
        const qreal after = pages.y();
        pages.skip(y - after);
        p.setPen(Qt::black);
        pages.paragraphs(shown.text, valueFont, label, W - label);
        if (shown.cut)
            pages.paragraphs(gbText(texts::kReceiptCut).arg(shown.characters), body, label, W - label);
        // A value that went on to the next page has left its caption behind.
        pages.skip((pages.page() == page ? qMax<qreal>(0, after - pages.y()) : 0) + 3 * kPt);
    };
    const auto field = [](const std::optional<QString> &value) {
        return value ? *value : gbText(texts::kReceiptNotReturned);
    };

    section(texts::kReceiptEvidence);
    row(texts::kTypeCaption, QStringLiteral("%1  %2").arg(r.type).arg(r.typeName));
    row(texts::kOrderCaption, r.order);
    row(texts::kReceiptName, r.fileName);
    row(texts::kReceiptPath, r.filePath);
    row(texts::kReceiptSize,
        QLocale(QLocale::Chinese, QLocale::China).toString(r.fileSize) + gbText(texts::kReceiptBytes));
    row(texts::kReceiptModified, timeLine(r.fileModified));
    row(texts::kReceiptDigestedAt, timeLine(r.digestedAt));
    row(texts::kReceiptDigest, r.sha256, digestFont(r.sha256, W - label, &writer));

    const hashquery::Connection &c = r.connection;
    section(texts::kReceiptService);
    row(texts::kReceiptUrl, r.serviceUrl);
    row(texts::kReceiptSubject, c.certSubject);
    row(texts::kReceiptIssuer, c.certIssuer);
    row(texts::kReceiptValidity, c.certNotBefore.toUTC().toString(Qt::ISODate) +
                                     gbText(texts::kReceiptUntil) +
                                     c.certNotAfter.toUTC().toString(Qt::ISODate));
    // Sixteen pairs a line: the fingerprint breaks between pairs, never inside one.
    const QString fingerprint = c.certSha256.size() > 48
                                    ? c.certSha256.left(48) + QLatin1Char('\n') + c.certSha256.mid(48)
                                    : c.certSha256;
    row(texts::kReceiptFingerprint, fingerprint, monoFont(8.5), 2);
    row(texts::kReceiptConnection, c.protocol + QStringLiteral(", ") + c.cipher);

    section(texts::kReceiptAnswer);
    row(texts::kApplicant, field(r.applicant));
    row(texts::kReceiptServiceTime, field(r.time));
    row(texts::kLocationInfo, field(r.location));
    const QString text = bodyText(r.body);
    if (text.isNull())
        row(texts::kReceiptBody, gbText(texts::kReceiptBodyNotText));
    else
        row(texts::kReceiptBody, text, monoFont(8), kBodyLines);

    section(texts::kReceiptRecord);
    row(texts::kReceiptSentAt, timeLine(r.sentAt));
    row(texts::kReceiptAnsweredAt, timeLine(r.answeredAt));
    row(texts::kReceiptTool, r.toolName + QLatin1Char(' ') + r.toolVersion);

    // Who vouches for the time of this record, if anyone does.
    section(texts::kStampSection);
    if (r.stamp) {
        const timestamping::TokenInfo &info = r.stamp->info;
        row(texts::kStampTsa, visibleText(info.tsaName).text);
        row(texts::kStampTime, timeLine(info.time));
        row(texts::kStampSerial, info.serial, monoFont(8.5));
        row(texts::kStampDigest, info.digest, digestFont(info.digest, W - label, &writer));
    } else {
        p.setPen(Qt::black);
        QString none = gbText(texts::kStampNone);
        if (!unstampedBecause.isEmpty())
            none += QLatin1Char(' ') + gbText(texts::kStampFailed) + visibleText(unstampedBecause).text;
        pages.paragraphs(none, body, 0, W);
    }
    pages.skip(10 * kPt);
    p.setPen(Qt::black);
    pages.paragraphs(gbText(texts::kReceiptNote), textFont(10, true), 0, W);
    p.end();
    return pdf;
}

bool saveReceipt(const Receipt &receipt, const QByteArray &unstampedJson, const QByteArray &tsaResponse,
                 const QString &unstampedBecause, const QString &basePath, QString *error)
{
    const QString sidecar = basePath + QStringLiteral(".tsr");
    const QByteArray json = receipt.stamp ? stampedReceiptJson(unstampedJson, *receipt.stamp) : unstampedJson;
    // One without the other would be a receipt that people, or machines, cannot read.
    QVector<WholeFile> files{{basePath + QStringLiteral(".pdf"), receiptPdf(receipt, unstampedBecause)},
                             {basePath + QStringLiteral(".json"), json}};
    if (receipt.stamp)
        files.append({sidecar, tsaResponse});
    if (!writeWholeFiles(files, error))
        return false;
    // A stamp of an earlier receipt of this name would stamp other bytes.
    if (!receipt.stamp && QFile::exists(sidecar) && !QFile::remove(sidecar)) {
        if (error)
            *error =
                QDir::toNativeSeparators(sidecar) + QStringLiteral(": an earlier stamp could not be removed");
        return false;
    }
    return true;
}
