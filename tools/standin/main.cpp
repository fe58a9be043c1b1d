// zephyl-standin: the local stand-in for the service, for running the
// application and for end-to-end tests that want a separate process.

#include "Certificate.h"
#include "OperationRoutes.h"
#include "StandinServer.h"
#include "WebApp.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zephyl-standin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Local stand-in for the Zephyl service on 127.0.0.1.\n"
        "A demo account is ready: kitty@example.com, password meow-meow-meow."));
    parser.addHelpOption();
    QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free one)."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    QCommandLineOption portFileOption(QStringLiteral("port-file"),
                                      QStringLiteral("Write the chosen port to this file once listening."),
                                      QStringLiteral("PATH"));
    QCommandLineOption httpsOption(QStringLiteral("https"),
                                   QStringLiteral("Serve over https with the stand-in's own certificate (the web app's "
                                                  "session cookie needs it)."));
    QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("A fault on one path, repeatable: hang:/signin (never answers), slow:/signin:3000 (answers "
                       "after that many milliseconds), drop:/instagram (cut off half-way), error:/instagram (500)."),
        QStringLiteral("KIND:PATH[:MS]"));
    parser.addOption(faultOption);
    QCommandLineOption planOption(QStringLiteral("plan-megabytes"),
                                  QStringLiteral("Give the demo account a plan whose answer is about N MB (for measuring)."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(planOption);
    QCommandLineOption certificateOption(
        QStringLiteral("certificate-file"),
        QStringLiteral("With --https: write the stand-in's certificate (PEM) to this file, for the application's "
                       "ZEPHYL_STANDIN_CERTIFICATE."),
        QStringLiteral("PATH"));
    parser.addOption(certificateOption);
    parser.addOption(portOption);
    parser.addOption(httpsOption);
    parser.addOption(portFileOption);
    parser.process(app);

    bool ok = false;
    const uint requested = parser.value(portOption).toUInt(&ok);
    if (!ok || requested > 65535) {
        QTextStream(stderr) << "zephyl-standin: --port takes a number from 0 to 65535\n";
        return 2;
    }

    Standin::Server server;
    for (const QString &text : parser.values(faultOption)) {
        const QStringList parts = text.split(u':');
        static const QHash<QString, Standin::Fault::Kind> kinds{{QStringLiteral("hang"), Standin::Fault::Kind::hang},
                                                                {QStringLiteral("slow"), Standin::Fault::Kind::slow},
                                                                {QStringLiteral("drop"), Standin::Fault::Kind::drop},
                                                                {QStringLiteral("error"), Standin::Fault::Kind::serverError}};
        const bool slow = parts.value(0) == QLatin1String("slow");
        if (parts.size() != (slow ? 3 : 2) || !kinds.contains(parts[0]) || !parts[1].startsWith(u'/')) {
            QTextStream(stderr) << "zephyl-standin: --fault takes KIND:PATH or slow:PATH:MS, not " << text << "\n";
            return 2;
        }
        Standin::Fault fault;
        fault.kind = kinds.value(parts[0]);
        fault.path = parts[1];
        fault.delayMs = slow ? parts[2].toInt() : 0;
        server.addFault(fault);
    }
    server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
    if (const qint64 megabytes = parser.value(planOption).toLongLong(); megabytes > 0) {
        QJsonArray drafts;
        qint64 size = 0;
        const QString caption = QStringLiteral("A caption for the plan, with a few words about the week. ").repeated(6);
        for (qint64 id = 1; size < megabytes * 1000 * 1000; ++id) {
            const QJsonObject d{{"id", id},
                                {"title", QStringLiteral("Draft %1").arg(id)},
                                {"caption", caption},
                                {"hashtags", "#cats #plan #week"},
                                {"format", id % 4 == 0 ? "reel" : "post"},
                                {"scheduledAt", "2025-06-02T09:30:00Z"}};
            size += QJsonDocument(d).toJson(QJsonDocument::Compact).size() + 1;
            drafts.append(d);
        }
        const QString user = server.state().accounts.value(QStringLiteral("kitty@example.com")).userId;
        Standin::operations(server).drafts.insert(user, drafts);
    }
    const bool secure = parser.isSet(httpsOption);
    const quint16 port = secure ? Standin::startSecure(server, quint16(requested)) : server.start(quint16(requested));
    if (secure)
        server.setProviderURL(Standin::secureOrigin(server));
    if (port == 0) {
        QTextStream(stderr) << "zephyl-standin: cannot listen on 127.0.0.1:" << requested << "\n";
        return 1;
    }
    if (secure && parser.isSet(certificateOption)) {
        QSaveFile file(parser.value(certificateOption));
        if (!file.open(QIODevice::WriteOnly) || file.write(Standin::certificate().toPem()) < 0 || !file.commit()) {
            QTextStream(stderr) << "zephyl-standin: cannot write the certificate file\n";
            return 1;
        }
    }
    if (parser.isSet(portFileOption)) {
        QSaveFile file(parser.value(portFileOption));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(port)) < 0 || !file.commit()) {
            QTextStream(stderr) << "zephyl-standin: cannot write the port file\n";
            return 1;
        }
    }
    QTextStream(stdout) << "zephyl-standin listening on " << (secure ? Standin::secureOrigin(server) : server.origin())
                        << Qt::endl;
    return app.exec();
}
