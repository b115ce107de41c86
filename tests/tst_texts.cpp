// The fixed texts are kept as GB2312 bytes; each is spelt out here once more, independently, in
// UTF-8. A group is compared joined, so that one row names the whole group.
#include "core/texts.h"

#include <QTest>

namespace
{
template <typename List> QByteArray joinedList(const List &texts)
{
    QByteArray all;
    for (const char *text : texts)
        all += QByteArray(text) + '|';
    return all;
}
QByteArray joined(std::initializer_list<const char *> texts)
{
    return joinedList(texts);
}
} // namespace

class TestTexts : public QObject
{
    Q_OBJECT
private slots:
    void spelling_data()
    {
        using namespace texts;
        QTest::addColumn<QByteArray>("gb2312");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &gb, const char *utf8) {
            QTest::newRow(name) << gb << QString::fromUtf8(utf8);
        };
        row("window",
            joined({kTitle, kInfoTitle, kCloseQuestion, kChooseFile, kCheck, kTypeCaption, kOrderCaption,
                    kFileCaption, kResultTitle, kApplicant, kTimeInfo, kLocationInfo, kChain, kClose,
                    kMinimise, kSaveReceipt}),
            u8"电子证据验证中心|信息|确定要退出登录么？|请选择文件|点击验证|存证类型：|Quorvel订单号：|"
            u8"取证文件：|验证结果|申请人：|时间信息：|位置信息：|Quorvel链：|关闭|最小化|保存验证报告|");
        row("verdicts", joined({kPassHeading, kPassDesc, kFailHeading, kFailDesc}),
            u8"该电子证据已通过验证|证明该电子证据自生成时起内容完整，未被篡改|该电子证据未通过验证|"
            u8"证明该电子证据存在被篡改的可能|");
        row("messages",
            joined({kOrderEmpty, kNoFile, kTimedOut, kAbnormalAnswer, kNetworkFailed, kAnswerTooLarge,
                    kInputsChanged, kOpenFile, kCannotRead, kFileEmpty, kFileChanged, kHashing, kCancel,
                    kProgressSeparator, kDropOneFile, kReceiptExists, kReceiptNotSaved}),
            u8"Quorvel订单号不能为空|请选择取证文件|服务器响应超时|返回信息异常|网络请求失败：|"
            u8"服务器返回的数据过大|输入已更改，请重新验证|打开文件|无法读取所选文件|所选文件为空|"
            u8"文件在读取过程中被修改，请重新选择|正在计算文件摘要…|取消|，|请只拖入一个本地文件|"
            u8"同名的验证报告已存在，是否替换？|验证报告未能保存：|");
        row("receipt",
            joined(
                {kReceiptFileName,    kReceiptTitle,  kReceiptEvidence,    kReceiptService,    kReceiptAnswer,
                 kReceiptRecord,      kReceiptName,   kReceiptPath,        kReceiptSize,       kReceiptBytes,
                 kReceiptModified,    kReceiptDigest, kReceiptUrl,         kReceiptSubject,    kReceiptIssuer,
                 kReceiptValidity,    kReceiptUntil,  kReceiptFingerprint, kReceiptConnection, kReceiptBody,
                 kReceiptBodyNotText, kReceiptSentAt, kReceiptAnsweredAt,  kReceiptTool,       kReceiptNote}),
            u8"验证报告|电子证据验证报告|证据文件|验证服务|服务应答|本报告|文件名：|完整路径：|文件大小：| "
            u8"字节|"
            u8"修改时间：|SHA-256：|服务地址：|证书主体：|证书颁发者：|证书有效期：| 至 "
            u8"|证书指纹：|加密连接：|"
            u8"应答原文：|（不是有效的UTF-8文本，原始字节见JSON文件）|请求发送时间：|应答接收时间：|"
            u8"生成工具：|"
            u8"本报告是本工具对验证服务应答的自行记录，并非验证服务出具的文件。|");
        row("types", joinedList(kTypeNames),
            u8"电子文书|邮件存证|权属登记|在线签约|录音存证|录像存证|委托取证|照片存证|网页存证|录屏存证|"
            u8"聊天存证|本地视频存证|本地录屏存证|网页录屏存证|授权委托存证|线上电子文书存证|遗嘱公证|"
            u8"自书遗嘱|");
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
