// filehash-digest FILE...: the SHA-256 of each file as the window computes it, printed like
// sha256sum ("<hex>  FILE"). Exit status 0 when every file was read, 1 otherwise, 2 on misuse.

#include "core/filedigest.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>

namespace
{

const char *problem(FileDigest::Status status)
{
    switch (status) {
    case FileDigest::Status::CannotRead:
        return "cannot read it (missing, a directory, no permission or a read error)";
    case FileDigest::Status::Changed:
        return "it changed while it was read; the digest would not match any one state of it";
    case FileDigest::Status::Cancelled:
        return "cancelled";
    case FileDigest::Status::NotRegular:
        return "not a regular file";
    case FileDigest::Status::Ok:
    case FileDigest::Status::Empty:
        break;
    }
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout, "usage: filehash-digest FILE...\n"
                                                 "Prints the SHA-256 of each FILE like sha256sum.\n");
        return argc < 2 ? 2 : 0;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const FileDigest digest = digestFile(QFile::decodeName(argv[i]));
        QByteArray hex = digest.hex.toLatin1();
        // An empty file has a digest like any other: the SHA-256 of no bytes. Only the window
        // refuses to submit one.
        if (digest.status == FileDigest::Status::Empty)
            hex = QByteArrayLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        if (const char *why = problem(digest.status)) {
            std::fprintf(stderr, "filehash-digest: %s: %s\n", argv[i], why);
            status = 1;
            continue;
        }
        std::printf("%s  %s\n", hex.constData(), argv[i]);
    }
    if (std::fflush(stdout) != 0) {
        std::perror("filehash-digest: writing the output");
        return 1;
    }
    return status;
}
