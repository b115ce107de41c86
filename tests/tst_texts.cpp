// The fixed texts are kept as GB2312 bytes. The window's own words are spelt out here once,
// independently, in UTF-8; the texts of boxes, panels and receipts are checked where they show.
#include "core/texts.h"

#include <QTest>

class TestTexts : public QObject
{
    Q_OBJECT
private slots:
    void spelling_data()
    {
        QTest::addColumn<QByteArray>("gb2312");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *gb, const char *utf8) {
            QTest::newRow(utf8) << QByteArray(gb) << QString::fromUtf8(utf8);
        };
        row(texts::kTitle, u8"电子证据验证中心");
        row(texts::kInfoTitle, u8"信息");
        row(texts::kChooseFile, u8"请选择文件");
        row(texts::kCheck, u8"点击验证");
        row(texts::kTypeCaption, u8"存证类型：");
        row(texts::kOrderCaption, u8"Quorvel订单号：");
        row(texts::kFileCaption, u8"取证文件：");
        row(texts::kApplicant, u8"申请人：");
        row(texts::kTimeInfo, u8"时间信息：");
        row(texts::kLocationInfo, u8"位置信息：");
        row(texts::kChain, u8"Quorvel链：");
        row(texts::kSaveReceipt, u8"保存验证报告");
        row(texts::kReceiptNote, u8"本报告是本工具对验证服务应答的自行记录，并非验证服务出具的文件。");
        QByteArray types;
        for (const char *name : texts::kTypeNames)
            types += QByteArray(name) + '|';
        QTest::newRow("types") << types
                               << QString::fromUtf8(
                                      u8"电子文书|邮件存证|权属登记|在线签约|录音存证|录像存证|委托取证|"
                                      u8"照片存证|网页存证|录屏存证|聊天存证|本地视频存证|本地录屏存证|"
                                      u8"网页录屏存证|授权委托存证|线上电子文书存证|遗嘱公证|自书遗嘱|");
    }
    void spelling()
    {
        QFETCH(QByteArray, gb2312);
        QFETCH(QString, expected);
        QCOMPARE(gbText(gb2312.constData()), expected);
        QVERIFY(gb2312 != expected.toUtf8()); // stored as GB2312, not as UTF-8 that happens to decode
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
