// The publishing pipeline end to end against the stand-in in another process:
// a one-picture post, a ten-picture carousel and a 100 MiB video. For each, the
// wall time of AppModel::publish split by its steps, the growth of the client's
// peak resident memory, and beside it the same files uploaded bare through the
// client (what the pipeline adds to the uploads themselves).
//
//   bench_publish [--rounds 3]
//
// The stand-in runs in a child process (this program with --serve); its
// publications are published on their first re-read, so the wait is the
// pipeline's one 1.6 s pause before that read.

#include "OperationRoutes.h"
#include "StandinServer.h"

#include "app/AppModel.h"
#include "app/ServiceClient.h"
#include "base/DefaultsStore.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "support/StandinBench.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>

#include <fcntl.h>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

using benchsupport::await;
using benchsupport::resetPeak;
using benchsupport::status;


QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) % 251);
    return bytes;
}

ImportedMedia picture(int index, qint64 size)
{
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.fileName = QStringLiteral("photo-%1.jpg").arg(index);
    m.data = MediaData::fromBytes(pattern(size));
    m.contentType = QStringLiteral("image/jpeg");
    return m;
}

// A video as the importer leaves it: an open descriptor, never in memory.
ImportedMedia video(const QString &path, qint64 size)
{
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        const QByteArray block = pattern(1 << 20);
        for (qint64 written = 0; written < size; written += block.size())
            f.write(block.constData(), std::min<qint64>(block.size(), size - written));
    }
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.kind = ImportedMedia::Kind::video;
    m.fileName = QStringLiteral("clip.mp4");
    m.data = MediaData::adoptDescriptor(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC), size);
    m.contentType = QStringLiteral("video/mp4");
    return m;
}

struct Case {
    const char *name;
    ComposerSubmission submission;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--serve")))
        return benchsupport::serve([](Standin::Server &server) { Standin::operations(server).processingMs = 0; });
    int rounds = 3;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
    }

    benchsupport::StandinChild standin;
    if (!standin.start())
        return 1;
    ZephylAPI &api = *standin.api;
    ZephylServiceClient road(api);
    DefaultsStore store;
    AppModel::Environment env;
    env.api = &road;
    env.defaults = &store;
    env.selectedVariantID = [] { return QStringLiteral("drawn"); };
    AppModel model(env);
    model.setSession(SessionState::signedIn);

    // Step boundaries as the pipeline shows them.
    QElapsedTimer clock;
    qint64 handedOver = 0, waiting = 0;
    QObject::connect(&model, &AppModel::publishingChanged, [&] {
        if (!model.publishing())
            return;
        if (model.publishing()->fraction == 0.85)
            handedOver = clock.nsecsElapsed();
        else if (model.publishing()->fraction == 0.95)
            waiting = clock.nsecsElapsed();
    });

    QTemporaryDir dir;
    QList<Case> cases;
    {
        Case one{"1 picture (2 MiB)", {}};
        one.submission.media = {picture(1, 2 << 20)};
        cases << one;
        Case carousel{"carousel of 10 (2 MiB each)", {}};
        carousel.submission.format = PublishFormat::carousel;
        for (int i = 1; i <= 10; ++i)
            carousel.submission.media << picture(i, 2 << 20);
        cases << carousel;
        Case clip{"video (100 MiB)", {}};
        clip.submission.format = PublishFormat::reel;
        clip.submission.media = {video(dir.filePath(QStringLiteral("clip.mp4")), 100 << 20)};
        cases << clip;
    }

    QTextStream out(stdout);
    out << "case                          round  total_s  uploads_s  create_s  wait_reload_s  bare_uploads_s  "
           "peak_RSS_growth_MiB\n";
    for (Case &c : cases) {
        for (int round = 1; round <= rounds; ++round) {
            c.submission.caption = QStringLiteral("Round %1").arg(round);
            c.submission.idempotencyKey = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            resetPeak();
            const qint64 baseline = status("VmRSS:");
            clock.start();
            const PublishOutcome outcome = await(model.publish(c.submission));
            const qint64 total = clock.nsecsElapsed();
            const qint64 peak = status("VmHWM:");
            if (outcome.kind != PublishOutcome::Kind::published) {
                out << c.name << ": " << outcome.message << "\n";
                return 1;
            }
            // The same files, uploaded bare.
            QElapsedTimer bare;
            bare.start();
            for (const ImportedMedia &m : c.submission.media)
                await(api.uploadInstagramMedia(m.data.source(), m.contentType, m.fileName));
            const double bareSeconds = bare.nsecsElapsed() / 1e9;

            out << qSetFieldWidth(30) << Qt::left << c.name << qSetFieldWidth(7) << round << qSetFieldWidth(9)
                << QString::number(total / 1e9, 'f', 3) << qSetFieldWidth(11)
                << QString::number(handedOver / 1e9, 'f', 3) << qSetFieldWidth(10)
                << QString::number((waiting - handedOver) / 1e9, 'f', 3) << qSetFieldWidth(15)
                << QString::number((total - waiting) / 1e9, 'f', 3) << qSetFieldWidth(16)
                << QString::number(bareSeconds, 'f', 3) << qSetFieldWidth(0)
                << QString::number((peak - baseline) / 1024.0, 'f', 1) << "\n";
            out.flush();
        }
    }
    return 0;
}
