// libFuzzer target for readHashAnswer: any body gives an answer, never a crash or a leak, and the
// rules that hold for every body hold. Each check abort()s with a note so libFuzzer keeps the input.

#include "core/hashanswer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_hashanswer: violated: %s\n", what);
        std::abort();
    }
}

bool same(const HashAnswer &a, const HashAnswer &b)
{
    return a.kind == b.kind && a.des == b.des && a.userName == b.userName && a.optTime == b.optTime &&
           a.deviceInfo == b.deviceInfo;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    const HashAnswer answer = readHashAnswer(body);
    using Kind = HashAnswer::Kind;
    // Each kind carries only its own texts.
    check(answer.kind == Kind::Message || answer.des.isEmpty(), "des only for a message");
    check(answer.kind == Kind::Pass ||
              (answer.userName.isEmpty() && answer.optTime.isEmpty() && answer.deviceInfo.isEmpty()),
          "record texts only for a pass");
    // The parser sees the body up to its first NUL: what follows never matters.
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        check(same(answer, readHashAnswer(body.left(nul))), "bytes after a NUL changed the answer");
    else
        check(same(answer, readHashAnswer(body + QByteArray(1, '\0') + body)), "a tail after a NUL mattered");
    return 0;
}
