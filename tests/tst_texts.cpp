#include "core/texts.h"

#include <QTest>

// Every fixed text is kept as GB2312 bytes; each must come out of the codec as the text the
// user is meant to read, spelled here independently in UTF-8.
class TestTexts : public QObject
{
    Q_OBJECT
private slots:
    void convertsToItsSpelling_data();
    void convertsToItsSpelling();
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
    QTest::newRow("InputsChanged") << QByteArray(texts::kInputsChanged)
                                   << QString::fromUtf8(u8"输入已更改，请重新验证");
    QTest::newRow("Close") << QByteArray(texts::kClose) << QString::fromUtf8(u8"关闭");
    QTest::newRow("Minimise") << QByteArray(texts::kMinimise) << QString::fromUtf8(u8"最小化");
    // The catalogue in code order, as one text.
    QByteArray types;
    for (const char *name : texts::kTypeNames)
        types += QByteArray(name) + '|';
    QTest::newRow("types") << types
                           << QString::fromUtf8(
                                  u8"电子文书|邮件存证|权属登记|在线签约|录音存证|录像存证|委托取证|"
                                  u8"照片存证|网页存证|录屏存证|聊天存证|本地视频存证|本地录屏存证|"
                                  u8"网页录屏存证|授权委托存证|线上电子文书存证|遗嘱公证|自书遗嘱|");
}

void TestTexts::convertsToItsSpelling()
{
    QFETCH(QByteArray, gb2312);
    QFETCH(QString, expected);
    QCOMPARE(gbText(gb2312.constData()), expected);
    // Stored as GB2312, not as UTF-8 that happens to decode.
    QVERIFY(gb2312 != expected.toUtf8());
}

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
