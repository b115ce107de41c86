// Every fixed text the user sees, stored once as GB2312 bytes and turned into
// Unicode with the GB2312 codec where it is shown (see gbText()).
#ifndef FILEHASH_TEXTS_H
#define FILEHASH_TEXTS_H

#include <QString>

namespace texts
{
// 电子证据验证中心: window heading
constexpr char kTitle[] = "\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xD1\xE9\xD6\xA4\xD6\xD0\xD0\xC4";
// 信息: title of every message box
constexpr char kInfoTitle[] = "\xD0\xC5\xCF\xA2";
// 确定要退出登录么？: close question
constexpr char kCloseQuestion[] = "\xC8\xB7\xB6\xA8\xD2\xAA\xCD\xCB\xB3\xF6\xB5\xC7\xC2\xBC\xC3\xB4\xA3\xBF";
// 请选择文件: choose-file button
constexpr char kChooseFile[] = "\xC7\xEB\xD1\xA1\xD4\xF1\xCE\xC4\xBC\xFE";
// 点击验证: verify button
constexpr char kCheck[] = "\xB5\xE3\xBB\xF7\xD1\xE9\xD6\xA4";
// 存证类型：: evidence type caption
constexpr char kTypeCaption[] = "\xB4\xE6\xD6\xA4\xC0\xE0\xD0\xCD\xA3\xBA";
// Quorvel订单号：: order number caption
constexpr char kOrderCaption[] = "Quorvel\xB6\xA9\xB5\xA5\xBA\xC5\xA3\xBA";
// 取证文件：: evidence file caption
constexpr char kFileCaption[] = "\xC8\xA1\xD6\xA4\xCE\xC4\xBC\xFE\xA3\xBA";
// 验证结果: result panel heading
constexpr char kResultTitle[] = "\xD1\xE9\xD6\xA4\xBD\xE1\xB9\xFB";
// 申请人：: result caption: applicant
constexpr char kApplicant[] = "\xC9\xEA\xC7\xEB\xC8\xCB\xA3\xBA";
// 时间信息：: result caption: time
constexpr char kTimeInfo[] = "\xCA\xB1\xBC\xE4\xD0\xC5\xCF\xA2\xA3\xBA";
// 位置信息：: result caption: location
constexpr char kLocationInfo[] = "\xCE\xBB\xD6\xC3\xD0\xC5\xCF\xA2\xA3\xBA";
// Quorvel链：: result caption: chain record
constexpr char kChain[] = "Quorvel\xC1\xB4\xA3\xBA";
// 该电子证据已通过验证: pass verdict
constexpr char kPassHeading[] =
    "\xB8\xC3\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xD2\xD1\xCD\xA8\xB9\xFD\xD1\xE9\xD6\xA4";
// 证明该电子证据自生成时起内容完整，未被篡改: pass explanation
constexpr char kPassDesc[] =
    "\xD6\xA4\xC3\xF7\xB8\xC3\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xD7\xD4\xC9\xFA\xB3\xC9\xCA\xB1\xC6\xF0\xC4\xDA"
    "\xC8\xDD\xCD\xEA\xD5\xFB\xA3\xAC\xCE\xB4\xB1\xBB\xB4\xDB\xB8\xC4";
// 该电子证据未通过验证: fail verdict
constexpr char kFailHeading[] =
    "\xB8\xC3\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xCE\xB4\xCD\xA8\xB9\xFD\xD1\xE9\xD6\xA4";
// 证明该电子证据存在被篡改的可能: fail explanation
constexpr char kFailDesc[] = "\xD6\xA4\xC3\xF7\xB8\xC3\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xB4\xE6\xD4\xDA\xB1"
                             "\xBB\xB4\xDB\xB8\xC4\xB5\xC4\xBF\xC9\xC4\xDC";
// Quorvel订单号不能为空: validation: no order number
constexpr char kOrderEmpty[] = "Quorvel\xB6\xA9\xB5\xA5\xBA\xC5\xB2\xBB\xC4\xDC\xCE\xAA\xBF\xD5";
// 请选择取证文件: validation: no evidence file
constexpr char kNoFile[] = "\xC7\xEB\xD1\xA1\xD4\xF1\xC8\xA1\xD6\xA4\xCE\xC4\xBC\xFE";
// 服务器响应超时: no answer within the time-out
constexpr char kTimedOut[] = "\xB7\xFE\xCE\xF1\xC6\xF7\xCF\xEC\xD3\xA6\xB3\xAC\xCA\xB1";
// 返回信息异常: success answer without a record
constexpr char kAbnormalAnswer[] = "\xB7\xB5\xBB\xD8\xD0\xC5\xCF\xA2\xD2\xEC\xB3\xA3";
// 网络请求失败：: failed request, followed by the error
constexpr char kNetworkFailed[] = "\xCD\xF8\xC2\xE7\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC\xA3\xBA";
// 服务器返回的数据过大: the answer exceeded the size limit
constexpr char kAnswerTooLarge[] =
    "\xB7\xFE\xCE\xF1\xC6\xF7\xB7\xB5\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB9\xFD\xB4\xF3";
// 输入已更改，请重新验证: an answer came for inputs that are no longer on screen
constexpr char kInputsChanged[] =
    "\xCA\xE4\xC8\xEB\xD2\xD1\xB8\xFC\xB8\xC4\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xD1\xE9\xD6\xA4";
// 关闭: accessible name of the close button
constexpr char kClose[] = "\xB9\xD8\xB1\xD5";
// 最小化: accessible name of the minimise button
constexpr char kMinimise[] = "\xD7\xEE\xD0\xA1\xBB\xAF";
// 打开文件: file dialog caption
constexpr char kOpenFile[] = "\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE";
// 无法读取所选文件: chosen file cannot be read
constexpr char kCannotRead[] = "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xCB\xF9\xD1\xA1\xCE\xC4\xBC\xFE";
// 所选文件为空: chosen file is empty
constexpr char kFileEmpty[] = "\xCB\xF9\xD1\xA1\xCE\xC4\xBC\xFE\xCE\xAA\xBF\xD5";
// 文件在读取过程中被修改，请重新选择: file modified while it was read
constexpr char kFileChanged[] = "\xCE\xC4\xBC\xFE\xD4\xDA\xB6\xC1\xC8\xA1\xB9\xFD\xB3\xCC\xD6\xD0\xB1\xBB\xD0"
                                "\xDE\xB8\xC4\xA3\xAC\xC7\xEB\xD6\xD8\xD0\xC2\xD1\xA1\xD4\xF1";
// 正在计算文件摘要…: progress label while hashing
constexpr char kHashing[] = "\xD5\xFD\xD4\xDA\xBC\xC6\xCB\xE3\xCE\xC4\xBC\xFE\xD5\xAA\xD2\xAA\xA1\xAD";
// 取消: cancel button of the progress dialog
constexpr char kCancel[] = "\xC8\xA1\xCF\xFB";
// ，: full-width comma between amount and speed
constexpr char kProgressSeparator[] = "\xA3\xAC";

// 保存验证报告: button in the result panel: save a receipt
constexpr char kSaveReceipt[] = "\xB1\xA3\xB4\xE6\xD1\xE9\xD6\xA4\xB1\xA8\xB8\xE6";
// 请只拖入一个本地文件: a drop that is not exactly one local file
constexpr char kDropOneFile[] =
    "\xC7\xEB\xD6\xBB\xCD\xCF\xC8\xEB\xD2\xBB\xB8\xF6\xB1\xBE\xB5\xD8\xCE\xC4\xBC\xFE";
// 窗口所需的图片无法读取：: a picture of the window cannot be loaded, followed by its names
constexpr char kPicturesMissing[] =
    "\xB4\xB0\xBF\xDA\xCB\xF9\xD0\xE8\xB5\xC4\xCD\xBC\xC6\xAC\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xA3\xBA";
// 已查找的文件夹：: the folders the pictures were looked for in, followed by them
constexpr char kFoldersSearched[] = "\xD2\xD1\xB2\xE9\xD5\xD2\xB5\xC4\xCE\xC4\xBC\xFE\xBC\xD0\xA3\xBA";
// 已保存：: a receipt was saved, followed by its files
constexpr char kReceiptSaved[] = "\xD2\xD1\xB1\xA3\xB4\xE6\xA3\xBA";
// 验证报告: first part of a receipt's default file name
constexpr char kReceiptFileName[] = "\xD1\xE9\xD6\xA4\xB1\xA8\xB8\xE6";
// 同名的验证报告已存在，是否替换？: a receipt of that name exists
constexpr char kReceiptExists[] = "\xCD\xAC\xC3\xFB\xB5\xC4\xD1\xE9\xD6\xA4\xB1\xA8\xB8\xE6\xD2\xD1\xB4\xE6"
                                  "\xD4\xDA\xA3\xAC\xCA\xC7\xB7\xF1\xCC\xE6\xBB\xBB\xA3\xBF";
// 验证报告未能保存：: saving a receipt failed, followed by the reason
constexpr char kReceiptNotSaved[] =
    "\xD1\xE9\xD6\xA4\xB1\xA8\xB8\xE6\xCE\xB4\xC4\xDC\xB1\xA3\xB4\xE6\xA3\xBA";
// 电子证据验证报告: receipt: heading
constexpr char kReceiptTitle[] = "\xB5\xE7\xD7\xD3\xD6\xA4\xBE\xDD\xD1\xE9\xD6\xA4\xB1\xA8\xB8\xE6";
// 证据文件: receipt: section on the file
constexpr char kReceiptEvidence[] = "\xD6\xA4\xBE\xDD\xCE\xC4\xBC\xFE";
// 验证服务: receipt: section on the service and connection
constexpr char kReceiptService[] = "\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1";
// 服务应答: receipt: section on the answer
constexpr char kReceiptAnswer[] = "\xB7\xFE\xCE\xF1\xD3\xA6\xB4\xF0";
// 本报告: receipt: section on the record itself
constexpr char kReceiptRecord[] = "\xB1\xBE\xB1\xA8\xB8\xE6";
// 文件名：: receipt: file name
constexpr char kReceiptName[] = "\xCE\xC4\xBC\xFE\xC3\xFB\xA3\xBA";
// 完整路径：: receipt: full path
constexpr char kReceiptPath[] = "\xCD\xEA\xD5\xFB\xC2\xB7\xBE\xB6\xA3\xBA";
// 文件大小：: receipt: size
constexpr char kReceiptSize[] = "\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xA3\xBA";
//  字节: receipt: unit after the size
constexpr char kReceiptBytes[] = " \xD7\xD6\xBD\xDA";
// 修改时间：: receipt: modification time
constexpr char kReceiptModified[] = "\xD0\xDE\xB8\xC4\xCA\xB1\xBC\xE4\xA3\xBA";
// SHA-256：: receipt: the digest that was sent
constexpr char kReceiptDigest[] = "SHA-256\xA3\xBA";
// 服务地址：: receipt: service URL
constexpr char kReceiptUrl[] = "\xB7\xFE\xCE\xF1\xB5\xD8\xD6\xB7\xA3\xBA";
// 证书主体：: receipt: certificate subject
constexpr char kReceiptSubject[] = "\xD6\xA4\xCA\xE9\xD6\xF7\xCC\xE5\xA3\xBA";
// 证书颁发者：: receipt: certificate issuer
constexpr char kReceiptIssuer[] = "\xD6\xA4\xCA\xE9\xB0\xE4\xB7\xA2\xD5\xDF\xA3\xBA";
// 证书有效期：: receipt: certificate validity
constexpr char kReceiptValidity[] = "\xD6\xA4\xCA\xE9\xD3\xD0\xD0\xA7\xC6\xDA\xA3\xBA";
//  至 : receipt: between the two ends of the validity
constexpr char kReceiptUntil[] = " \xD6\xC1 ";
// 证书指纹：: receipt: certificate SHA-256 fingerprint
constexpr char kReceiptFingerprint[] = "\xD6\xA4\xCA\xE9\xD6\xB8\xCE\xC6\xA3\xBA";
// 加密连接：: receipt: protocol and cipher
constexpr char kReceiptConnection[] = "\xBC\xD3\xC3\xDC\xC1\xAC\xBD\xD3\xA3\xBA";
// 应答原文：: receipt: the answer body
constexpr char kReceiptBody[] = "\xD3\xA6\xB4\xF0\xD4\xAD\xCE\xC4\xA3\xBA";
// （不是有效的UTF-8文本，原始字节见JSON文件）: receipt: body that is not text
constexpr char kReceiptBodyNotText[] =
    "\xA3\xA8\xB2\xBB\xCA\xC7\xD3\xD0\xD0\xA7\xB5\xC4UTF-"
    "8\xCE\xC4\xB1\xBE\xA3\xAC\xD4\xAD\xCA\xBC\xD7\xD6\xBD\xDA\xBC\xFBJSON\xCE\xC4\xBC\xFE\xA3\xA9";
// 请求发送时间：: receipt: when the request was sent
constexpr char kReceiptSentAt[] = "\xC7\xEB\xC7\xF3\xB7\xA2\xCB\xCD\xCA\xB1\xBC\xE4\xA3\xBA";
// 应答接收时间：: receipt: when the answer came
constexpr char kReceiptAnsweredAt[] = "\xD3\xA6\xB4\xF0\xBD\xD3\xCA\xD5\xCA\xB1\xBC\xE4\xA3\xBA";
// 生成工具：: receipt: tool name and version
constexpr char kReceiptTool[] = "\xC9\xFA\xB3\xC9\xB9\xA4\xBE\xDF\xA3\xBA";
// 本报告是本工具对验证服务应答的自行记录，并非验证服务出具的文件。: receipt: what it is and is not
constexpr char kReceiptNote[] =
    "\xB1\xBE\xB1\xA8\xB8\xE6\xCA\xC7\xB1\xBE\xB9\xA4\xBE\xDF\xB6\xD4\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xD3\xA6"
    "\xB4\xF0\xB5\xC4\xD7\xD4\xD0\xD0\xBC\xC7\xC2\xBC\xA3\xAC\xB2\xA2\xB7\xC7\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1"
    "\xB3\xF6\xBE\xDF\xB5\xC4\xCE\xC4\xBC\xFE\xA1\xA3";

// The evidence type catalogue; the type code is the index plus one.
constexpr int kTypeCount = 18;
constexpr const char *kTypeNames[kTypeCount] = {
    "\xB5\xE7\xD7\xD3\xCE\xC4\xCA\xE9",                                 // 1 电子文书
    "\xD3\xCA\xBC\xFE\xB4\xE6\xD6\xA4",                                 // 2 邮件存证
    "\xC8\xA8\xCA\xF4\xB5\xC7\xBC\xC7",                                 // 3 权属登记
    "\xD4\xDA\xCF\xDF\xC7\xA9\xD4\xBC",                                 // 4 在线签约
    "\xC2\xBC\xD2\xF4\xB4\xE6\xD6\xA4",                                 // 5 录音存证
    "\xC2\xBC\xCF\xF1\xB4\xE6\xD6\xA4",                                 // 6 录像存证
    "\xCE\xAF\xCD\xD0\xC8\xA1\xD6\xA4",                                 // 7 委托取证
    "\xD5\xD5\xC6\xAC\xB4\xE6\xD6\xA4",                                 // 8 照片存证
    "\xCD\xF8\xD2\xB3\xB4\xE6\xD6\xA4",                                 // 9 网页存证
    "\xC2\xBC\xC6\xC1\xB4\xE6\xD6\xA4",                                 // 10 录屏存证
    "\xC1\xC4\xCC\xEC\xB4\xE6\xD6\xA4",                                 // 11 聊天存证
    "\xB1\xBE\xB5\xD8\xCA\xD3\xC6\xB5\xB4\xE6\xD6\xA4",                 // 12 本地视频存证
    "\xB1\xBE\xB5\xD8\xC2\xBC\xC6\xC1\xB4\xE6\xD6\xA4",                 // 13 本地录屏存证
    "\xCD\xF8\xD2\xB3\xC2\xBC\xC6\xC1\xB4\xE6\xD6\xA4",                 // 14 网页录屏存证
    "\xCA\xDA\xC8\xA8\xCE\xAF\xCD\xD0\xB4\xE6\xD6\xA4",                 // 15 授权委托存证
    "\xCF\xDF\xC9\xCF\xB5\xE7\xD7\xD3\xCE\xC4\xCA\xE9\xB4\xE6\xD6\xA4", // 16 线上电子文书存证
    "\xD2\xC5\xD6\xF6\xB9\xAB\xD6\xA4",                                 // 17 遗嘱公证
    "\xD7\xD4\xCA\xE9\xD2\xC5\xD6\xF6",                                 // 18 自书遗嘱
};

} // namespace texts

// Converts one of the texts above (GB2312 bytes) to Unicode.
QString gbText(const char *gb2312);

#endif
