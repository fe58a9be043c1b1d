// Uploads 10 MiB and 100 MiB files to the stand-in, through the direct upload
// and through multipart form data, and reports wall time and the growth of the
// client's peak resident memory for each.
//
//   bench_uploads [--sizes 10,100] [--rounds 3]
//
// The stand-in runs in a child process (this program with --serve).

#include "OperationRoutes.h"
#include "StandinServer.h"

#include "base/Clock.h"
#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"
#include "support/StandinBench.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

using benchsupport::await;
using benchsupport::resetPeak;
using benchsupport::status;


void setSwitch(quint16 port, const QByteArray &json)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/__standin/operations").arg(port)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply *reply = network.post(request, json);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--serve")))
        return benchsupport::serve();

    QList<int> sizesMiB{10, 100};
    int rounds = 3;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--sizes")) {
            sizesMiB.clear();
            for (const QString &s : args[i + 1].split(QLatin1Char(',')))
                sizesMiB << s.toInt();
        } else if (args[i] == QLatin1String("--rounds")) {
            rounds = std::max(1, args[i + 1].toInt());
        }
    }

    benchsupport::StandinChild standin;
    if (!standin.start())
        return 1;
    const quint16 port = standin.port;
    ZephylAPI &api = *standin.api;

    QTemporaryDir dir;
    QTextStream out(stdout);
    out << "size_MiB  path       round  seconds  MiB/s    peak_RSS_growth_MiB  baseline_RSS_MiB\n";
    for (int mib : sizesMiB) {
        const QString path = dir.filePath(QStringLiteral("clip-%1.bin").arg(mib));
        {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            QByteArray block(1 << 20, '\0');
            for (int i = 0; i < block.size(); ++i)
                block[i] = char(i * 37);
            for (int i = 0; i < mib; ++i)
                f.write(block);
        }
        for (const bool direct : {true, false}) {
            // Multipart for a large file is the fallback the service asks for.
            setSwitch(port, direct ? "{\"directUnavailable\": false}" : "{\"directUnavailable\": true}");
            for (int round = 1; round <= rounds; ++round) {
                resetPeak();
                const qint64 baseline = status("VmRSS:");
                QElapsedTimer timer;
                timer.start();
                try {
                    await(api.uploadInstagramMedia(ZephylAPI::MediaSource::fromFile(path), QStringLiteral("video/mp4"),
                                                   QStringLiteral("clip.mp4")));
                } catch (const std::exception &e) {
                    out << "upload failed: " << e.what() << "\n";
                    return 1;
                }
                const double seconds = timer.nsecsElapsed() / 1e9;
                const qint64 peak = status("VmHWM:");
                out << qSetFieldWidth(8) << Qt::left << mib << qSetFieldWidth(0) << "  "
                    << qSetFieldWidth(9) << (direct ? "direct" : "multipart") << qSetFieldWidth(0) << "  "
                    << qSetFieldWidth(5) << round << qSetFieldWidth(0) << "  "
                    << qSetFieldWidth(7) << QString::number(seconds, 'f', 3) << qSetFieldWidth(0) << "  "
                    << qSetFieldWidth(7) << QString::number(mib / seconds, 'f', 1) << qSetFieldWidth(0) << "  "
                    << qSetFieldWidth(19) << QString::number((peak - baseline) / 1024.0, 'f', 1) << qSetFieldWidth(0)
                    << "  " << QString::number(baseline / 1024.0, 'f', 1) << "\n";
                out.flush();
            }
        }
    }
    return 0;
}
