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
    QTest::newRow("SaveReceipt") << QByteArray(texts::kSaveReceipt) << QString::fromUtf8(u8"保存验证报告");
    QTest::newRow("DropOneFile") << QByteArray(texts::kDropOneFile)
                                 << QString::fromUtf8(u8"请只拖入一个本地文件");
    QTest::newRow("ReceiptFileName") << QByteArray(texts::kReceiptFileName)
                                     << QString::fromUtf8(u8"验证报告");
    QTest::newRow("ReceiptExists") << QByteArray(texts::kReceiptExists)
                                   << QString::fromUtf8(u8"同名的验证报告已存在，是否替换？");
    QTest::newRow("ReceiptNotSaved") << QByteArray(texts::kReceiptNotSaved)
                                     << QString::fromUtf8(u8"验证报告未能保存：");
    QTest::newRow("ReceiptTitle") << QByteArray(texts::kReceiptTitle)
                                  << QString::fromUtf8(u8"电子证据验证报告");
    QTest::newRow("ReceiptEvidence") << QByteArray(texts::kReceiptEvidence)
                                     << QString::fromUtf8(u8"证据文件");
    QTest::newRow("ReceiptService") << QByteArray(texts::kReceiptService) << QString::fromUtf8(u8"验证服务");
    QTest::newRow("ReceiptAnswer") << QByteArray(texts::kReceiptAnswer) << QString::fromUtf8(u8"服务应答");
    QTest::newRow("ReceiptRecord") << QByteArray(texts::kReceiptRecord) << QString::fromUtf8(u8"本报告");
    QTest::newRow("ReceiptName") << QByteArray(texts::kReceiptName) << QString::fromUtf8(u8"文件名：");
    QTest::newRow("ReceiptPath") << QByteArray(texts::kReceiptPath) << QString::fromUtf8(u8"完整路径：");
    QTest::newRow("ReceiptSize") << QByteArray(texts::kReceiptSize) << QString::fromUtf8(u8"文件大小：");
    QTest::newRow("ReceiptBytes") << QByteArray(texts::kReceiptBytes) << QString::fromUtf8(u8" 字节");
    QTest::newRow("ReceiptModified") << QByteArray(texts::kReceiptModified)
                                     << QString::fromUtf8(u8"修改时间：");
    QTest::newRow("ReceiptDigest") << QByteArray(texts::kReceiptDigest) << QString::fromUtf8(u8"SHA-256：");
    QTest::newRow("ReceiptUrl") << QByteArray(texts::kReceiptUrl) << QString::fromUtf8(u8"服务地址：");
    QTest::newRow("ReceiptSubject") << QByteArray(texts::kReceiptSubject)
                                    << QString::fromUtf8(u8"证书主体：");
    QTest::newRow("ReceiptIssuer") << QByteArray(texts::kReceiptIssuer)
                                   << QString::fromUtf8(u8"证书颁发者：");
    QTest::newRow("ReceiptValidity") << QByteArray(texts::kReceiptValidity)
                                     << QString::fromUtf8(u8"证书有效期：");
    QTest::newRow("ReceiptUntil") << QByteArray(texts::kReceiptUntil) << QString::fromUtf8(u8" 至 ");
    QTest::newRow("ReceiptFingerprint")
        << QByteArray(texts::kReceiptFingerprint) << QString::fromUtf8(u8"证书指纹：");
    QTest::newRow("ReceiptConnection")
        << QByteArray(texts::kReceiptConnection) << QString::fromUtf8(u8"加密连接：");
    QTest::newRow("ReceiptBody") << QByteArray(texts::kReceiptBody) << QString::fromUtf8(u8"应答原文：");
    QTest::newRow("ReceiptBodyNotText") << QByteArray(texts::kReceiptBodyNotText)
                                        << QString::fromUtf8(u8"（不是有效的UTF-8文本，原始字节见JSON文件）");
    QTest::newRow("ReceiptSentAt") << QByteArray(texts::kReceiptSentAt)
                                   << QString::fromUtf8(u8"请求发送时间：");
    QTest::newRow("ReceiptAnsweredAt")
        << QByteArray(texts::kReceiptAnsweredAt) << QString::fromUtf8(u8"应答接收时间：");
    QTest::newRow("ReceiptTool") << QByteArray(texts::kReceiptTool) << QString::fromUtf8(u8"生成工具：");
    QTest::newRow("ReceiptNote") << QByteArray(texts::kReceiptNote)
                                 << QString::fromUtf8(
                                        u8"本报告是本工具对验证服务应答的自行记录，并非验证服务出具的文件。");
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
