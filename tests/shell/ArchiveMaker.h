#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// Test archives and signatures: tar.gz bytes made with libarchive, signed with a
// key made from a fixed seed.
namespace ArchiveMaker {

struct Entry {
    enum class Type { file, folder, symlink, hardlink };
    QString path;
    QByteArray content; // the file's bytes, or the link's target
    int mode = 0644;
    Type type = Type::file;
};

QByteArray tarGz(const std::vector<Entry> &entries);
// A well-formed update: the executable (a shell script writing `marker`) and the bundle.
std::vector<Entry> release(const QString &build, const QString &version, const QByteArray &marker);

struct Keys {
    QByteArray publicKey;
    QByteArray secretKey;
};
Keys keys(char seedByte);
QByteArray sign(const QByteArray &bytes, const Keys &keys);

} // namespace ArchiveMaker
