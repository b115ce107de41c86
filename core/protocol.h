#ifndef FILEHASH_CORE_PROTOCOL_H
#define FILEHASH_CORE_PROTOCOL_H

// The verification protocol as the client and the reference service both speak it, spelled once:
// where a request goes, the members of a request and of its answer, and the evidence type codes.
namespace protocol
{

constexpr char VerifyPath[] = "/mrv/other/o_getHashByQuorvelOrderRequest";

// A request: one JSON object of strings.
constexpr char Hash[] = "hash";
constexpr char Order[] = "quorvelOrder";
constexpr char Type[] = "type"; // the type code in decimal

// An answer: "code" 0 with "data", or another code with "des".
constexpr char Code[] = "code";
constexpr char Des[] = "des";
constexpr char Data[] = "data";
constexpr char Result[] = "result"; // in "data": whether the digest matches
constexpr char UserName[] = "userName";
constexpr char OptTime[] = "optTime";
constexpr char DeviceInfo[] = "deviceInfo";

// Evidence type codes.
constexpr int FirstType = 1;
constexpr int LastType = 18;

} // namespace protocol

#endif
