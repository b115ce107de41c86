#include "core/texts.h"

#include <QSet>
#include <QTest>

// Every fixed text is kept as GB2312 bytes; each must come out of the codec as the text the
// user is meant to read, spelled here independently in UTF-8.
class TestTexts : public QObject
{
    Q_OBJECT
private slots:
    void convertsToItsSpelling_data();
    void convertsToItsSpelling();
    void typeCatalogueIsComplete();
};

void TestTexts::convertsToItsSpelling_data()
{
    QTest::addColumn<QByteArray>("gb2312");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Title") << QByteArray(texts::kTitle) << QString::fromUtf8(u8"电子证据验证中心");
    QTest::newRow("InfoTitle") << QByteArray(texts::kInfoTitle) << QString::fromUtf8(u8"信息");
    QTest::newRow("CloseQuestion") << QByteArray(texts::kCloseQuestion)
                                   << QString::fromUtf8(u8"确定要退出登录么？");
    QTest::newRow("ChooseFile") << QByteArray(texts::kChooseFile) << QString::fromUtf8(u8"请选择文件");
    QTest::newRow("Check") << QByteArray(texts::kCheck) << QString::fromUtf8(u8"点击验证");
    QTest::newRow("TypeCaption") << QByteArray(texts::kTypeCaption) << QString::fromUtf8(u8"存证类型：");
    QTest::newRow("OrderCaption") << QByteArray(texts::kOrderCaption)
                                  << QString::fromUtf8(u8"Quorvel订单号：");
    QTest::newRow("FileCaption") << QByteArray(texts::kFileCaption) << QString::fromUtf8(u8"取证文件：");
    QTest::newRow("ResultTitle") << QByteArray(texts::kResultTitle) << QString::fromUtf8(u8"验证结果");
    QTest::newRow("Applicant") << QByteArray(texts::kApplicant) << QString::fromUtf8(u8"申请人：");
    QTest::newRow("TimeInfo") << QByteArray(texts::kTimeInfo) << QString::fromUtf8(u8"时间信息：");
    QTest::newRow("LocationInfo") << QByteArray(texts::kLocationInfo) << QString::fromUtf8(u8"位置信息：");
    QTest::newRow("Chain") << QByteArray(texts::kChain) << QString::fromUtf8(u8"Quorvel链：");
    QTest::newRow("PassHeading") << QByteArray(texts::kPassHeading)
                                 << QString::fromUtf8(u8"该电子证据已通过验证");
    QTest::newRow("PassDesc") << QByteArray(texts::kPassDesc)
                              << QString::fromUtf8(u8"证明该电子证据自生成时起内容完整，未被篡改");
    QTest::newRow("FailHeading") << QByteArray(texts::kFailHeading)
                                 << QString::fromUtf8(u8"该电子证据未通过验证");
    QTest::newRow("FailDesc") << QByteArray(texts::kFailDesc)
                              << QString::fromUtf8(u8"证明该电子证据存在被篡改的可能");
    QTest::newRow("OrderEmpty") << QByteArray(texts::kOrderEmpty)
                                << QString::fromUtf8(u8"Quorvel订单号不能为空");
    QTest::newRow("NoFile") << QByteArray(texts::kNoFile) << QString::fromUtf8(u8"请选择取证文件");
    QTest::newRow("TimedOut") << QByteArray(texts::kTimedOut) << QString::fromUtf8(u8"服务器响应超时");
    QTest::newRow("AbnormalAnswer") << QByteArray(texts::kAbnormalAnswer)
                                    << QString::fromUtf8(u8"返回信息异常");
    QTest::newRow("NetworkFailed") << QByteArray(texts::kNetworkFailed)
                                   << QString::fromUtf8(u8"网络请求失败：");
    QTest::newRow("OpenFile") << QByteArray(texts::kOpenFile) << QString::fromUtf8(u8"打开文件");
    QTest::newRow("CannotRead") << QByteArray(texts::kCannotRead) << QString::fromUtf8(u8"无法读取所选文件");
    QTest::newRow("FileEmpty") << QByteArray(texts::kFileEmpty) << QString::fromUtf8(u8"所选文件为空");
    QTest::newRow("FileChanged") << QByteArray(texts::kFileChanged)
                                 << QString::fromUtf8(u8"文件在读取过程中被修改，请重新选择");
    QTest::newRow("Hashing") << QByteArray(texts::kHashing) << QString::fromUtf8(u8"正在计算文件摘要…");
    QTest::newRow("Cancel") << QByteArray(texts::kCancel) << QString::fromUtf8(u8"取消");
    QTest::newRow("ProgressSeparator") << QByteArray(texts::kProgressSeparator) << QString::fromUtf8(u8"，");
    QTest::newRow("AnswerTooLarge") << QByteArray(texts::kAnswerTooLarge)
                                    << QString::fromUtf8(u8"服务器返回的数据过大");
    QTest::newRow("type 1") << QByteArray(texts::kTypeNames[0]) << QString::fromUtf8(u8"电子文书");
    QTest::newRow("type 2") << QByteArray(texts::kTypeNames[1]) << QString::fromUtf8(u8"邮件存证");
    QTest::newRow("type 3") << QByteArray(texts::kTypeNames[2]) << QString::fromUtf8(u8"权属登记");
    QTest::newRow("type 4") << QByteArray(texts::kTypeNames[3]) << QString::fromUtf8(u8"在线签约");
    QTest::newRow("type 5") << QByteArray(texts::kTypeNames[4]) << QString::fromUtf8(u8"录音存证");
    QTest::newRow("type 6") << QByteArray(texts::kTypeNames[5]) << QString::fromUtf8(u8"录像存证");
    QTest::newRow("type 7") << QByteArray(texts::kTypeNames[6]) << QString::fromUtf8(u8"委托取证");
    QTest::newRow("type 8") << QByteArray(texts::kTypeNames[7]) << QString::fromUtf8(u8"照片存证");
    QTest::newRow("type 9") << QByteArray(texts::kTypeNames[8]) << QString::fromUtf8(u8"网页存证");
    QTest::newRow("type 10") << QByteArray(texts::kTypeNames[9]) << QString::fromUtf8(u8"录屏存证");
    QTest::newRow("type 11") << QByteArray(texts::kTypeNames[10]) << QString::fromUtf8(u8"聊天存证");
    QTest::newRow("type 12") << QByteArray(texts::kTypeNames[11]) << QString::fromUtf8(u8"本地视频存证");
    QTest::newRow("type 13") << QByteArray(texts::kTypeNames[12]) << QString::fromUtf8(u8"本地录屏存证");
    QTest::newRow("type 14") << QByteArray(texts::kTypeNames[13]) << QString::fromUtf8(u8"网页录屏存证");
    QTest::newRow("type 15") << QByteArray(texts::kTypeNames[14]) << QString::fromUtf8(u8"授权委托存证");
    QTest::newRow("type 16") << QByteArray(texts::kTypeNames[15]) << QString::fromUtf8(u8"线上电子文书存证");
    QTest::newRow("type 17") << QByteArray(texts::kTypeNames[16]) << QString::fromUtf8(u8"遗嘱公证");
    QTest::newRow("type 18") << QByteArray(texts::kTypeNames[17]) << QString::fromUtf8(u8"自书遗嘱");
}

void TestTexts::convertsToItsSpelling()
{
    QFETCH(QByteArray, gb2312);
    QFETCH(QString, expected);
    QCOMPARE(gbText(gb2312.constData()), expected);
    // Stored as GB2312, not as UTF-8 that happens to decode.
    QVERIFY(gb2312 != expected.toUtf8());
}

void TestTexts::typeCatalogueIsComplete()
{
    QCOMPARE(texts::kTypeCount, 18);
    QSet<QString> names;
    for (const char *name : texts::kTypeNames) {
        const QString text = gbText(name);
        QVERIFY(!text.isEmpty());
        QVERIFY2(!text.contains(QChar(0xFFFD)), qPrintable(text));
        names.insert(text);
    }
    QCOMPARE(names.size(), 18);
}

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
