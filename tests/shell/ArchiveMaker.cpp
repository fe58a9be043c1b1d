#include "ArchiveMaker.h"

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

namespace ArchiveMaker {

namespace {
la_ssize_t collect(archive *, void *data, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(data)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}
} // namespace

QByteArray tarGz(const std::vector<Entry> &entries)
{
    QByteArray out;
    archive *a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    archive_write_set_bytes_in_last_block(a, 1);
    archive_write_open(a, &out, nullptr, collect, nullptr);
    for (const Entry &e : entries) {
        archive_entry *entry = archive_entry_new();
        const QByteArray path = e.path.toUtf8();
        archive_entry_set_pathname(entry, path.constData());
        archive_entry_set_perm(entry, mode_t(e.mode));
        switch (e.type) {
        case Entry::Type::file:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.content.size());
            break;
        case Entry::Type::folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case Entry::Type::symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.content.constData());
            break;
        case Entry::Type::hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.content.constData());
            break;
        }
        archive_write_header(a, entry);
        if (e.type == Entry::Type::file && !e.content.isEmpty())
            archive_write_data(a, e.content.constData(), size_t(e.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

std::vector<Entry> release(const QString &build, const QString &version, const QByteArray &marker)
{
    return {
        {QStringLiteral("bin/"), {}, 0755, Entry::Type::folder},
        {QStringLiteral("bin/zephyl-kitty"), "#!/bin/sh\necho " + marker + " > \"$ZK_MARK\"\n", 0755, Entry::Type::file},
        {QStringLiteral("share/zephyl-kitty/"), {}, 0755, Entry::Type::folder},
        {QStringLiteral("share/zephyl-kitty/info.json"),
         QStringLiteral("{\"version\": \"%1\", \"build\": \"%2\"}").arg(version, build).toUtf8(), 0644, Entry::Type::file},
        {QStringLiteral("share/zephyl-kitty/Web/zephyl-mac.js"), "// page script " + marker + "\n", 0644,
         Entry::Type::file},
    };
}

Keys keys(char seedByte)
{
    if (sodium_init() < 0)
        return {};
    unsigned char seed[crypto_sign_SEEDBYTES];
    std::fill(std::begin(seed), std::end(seed), static_cast<unsigned char>(seedByte));
    Keys k;
    k.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    k.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(k.publicKey.data()),
                             reinterpret_cast<unsigned char *>(k.secretKey.data()), seed);
    return k;
}

QByteArray sign(const QByteArray &bytes, const Keys &keys)
{
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(bytes.constData()), quint64(bytes.size()),
                         reinterpret_cast<const unsigned char *>(keys.secretKey.constData()));
    return signature;
}

} // namespace ArchiveMaker
