// Imports one file with the importer's own limits, the way the composer does,
// and prints what came out with the wall time and this process's peak memory.
//
//   media_import_bench FILE [--out PATH]
//
// With --out the uploaded bytes are written to PATH (to compare with the ffmpeg tool's).

#include "services/media/MediaImporter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: media_import_bench FILE [--out PATH]\n");
        return 2;
    }
    const qsizetype out = args.indexOf(QStringLiteral("--out"));
    QElapsedTimer timer;
    timer.start();
    auto outcome = MediaImporter::importNow(args.at(1));
    const double seconds = timer.nsecsElapsed() / 1e9;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    if (auto *error = std::get_if<MediaImportError>(&outcome)) {
        std::fprintf(stderr, "refused: %s\n", error->what());
        return 1;
    }
    const ImportedMedia &media = std::get<ImportedMedia>(outcome);
    std::printf("%s: %s %.0fx%.0f, %lld bytes%s, %.3f s, peak %ld MiB\n", qPrintable(media.fileName),
                qPrintable(media.contentType), media.pixelSize.width(), media.pixelSize.height(),
                static_cast<long long>(media.data.size()), media.thumbnail ? ", thumbnail" : "", seconds,
                usage.ru_maxrss / 1024);
    if (out > 0 && out + 1 < args.size()) {
        // Copied a chunk at a time: a kept video is not to be read into memory here either.
        QFile file(args.at(out + 1));
        const std::unique_ptr<QIODevice> in = media.data.open();
        if (!in || !file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (qint64 n; (n = in->read(chunk.data(), chunk.size())) > 0;)
            if (file.write(chunk.constData(), n) != n)
                return 1;
    }
    return 0;
}
