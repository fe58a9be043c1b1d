// Fuzzes the importer's three ways in: pictures (Qt's readers), HEIC (libheif)
// and videos (FFmpeg, conversion included). The first byte picks the name the
// bytes are imported under; the rest is the file. Built for libFuzzer under
// clang (ZK_FUZZ), or as a standalone driver that runs each file or folder given.

#include "services/media/MediaImporter.h"
#include "CorpusRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace {

struct Harness {
    // In memory where there is a tmpfs: the file is rewritten on every run.
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/zk-fuzz-XXXXXX")
                                                               : QDir::temp().filePath(QStringLiteral("zk-fuzz-XXXXXX"))};
    MediaImporter::Limits limits;
    Harness()
    {
        // Small bounds keep each run short and its memory low; the logic is the same.
        limits.largestDecodedPixels = 4'000'000;
        limits.largestVideoPixels = 1'000'000;
        limits.longestVideoSeconds = 20;
        limits.largestVideoBytes = 8 << 20;
        limits.temporaryDirectory = dir.path();
    }
};

Harness &harness()
{
    static int argc = 1;
    static char name[] = "media_import_fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Harness h;
    return h;
}

const char *const kNames[] = {"input.jpg", "input.png", "input.heic", "input.mp4", "input.mov", "input"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Harness &h = harness();
    const QString path = h.dir.filePath(QString::fromLatin1(kNames[data[0] % std::size(kNames)]));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }
    auto outcome = MediaImporter::importNow(path, h.limits);
    if (auto *media = std::get_if<ImportedMedia>(&outcome)) {
        // What was made must hold together.
        if (media->data.isEmpty() || (media->thumbnail && media->thumbnail->isNull()))
            __builtin_trap();
        (void)media->data.readAll();
    }
    QFile::remove(path);
    if (!QDir(h.limits.temporaryDirectory).entryList({QStringLiteral("zephyl-*")}, QDir::Files).isEmpty())
        __builtin_trap(); // a conversion left its file behind
    return 0;
}

#ifndef ZK_LIBFUZZER
// Standalone: every file named, and every file in every folder named, once.
int main(int argc, char **argv)
{
    return CorpusRun::main(argc, argv, [](const QByteArray &bytes) {
        CorpusRun::test(bytes);
        return 1;
    });
}
#endif
