#include "UpdateRoutes.h"

#include <QXmlStreamWriter>

namespace Standin {

QByteArray appcast(const QList<Release> &releases, const QString &origin)
{
    static const QString ns = QStringLiteral("https://www.sorvane.app/xmlns/zephyl-update");
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeNamespace(ns, QStringLiteral("zk"));
    xml.writeStartElement(QStringLiteral("rss"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("channel"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Zephyl Kitty"));
    for (const Release &release : releases) {
        xml.writeStartElement(QStringLiteral("item"));
        xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Version ") + release.version);
        xml.writeTextElement(ns, QStringLiteral("build"), release.build);
        xml.writeTextElement(ns, QStringLiteral("version"), release.version);
        xml.writeTextElement(QStringLiteral("description"), release.notes);
        xml.writeEmptyElement(QStringLiteral("enclosure"));
        xml.writeAttribute(QStringLiteral("url"), origin + QStringLiteral("/updates/") + release.fileName);
        xml.writeAttribute(QStringLiteral("length"),
                           QString::number(release.announcedLength >= 0 ? release.announcedLength : release.archive.size()));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("application/gzip"));
        xml.writeAttribute(ns, QStringLiteral("signature"), QString::fromLatin1(release.signature.toBase64()));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

void addUpdateRoutes(Server &server, Releases &releases, QString origin)
{
    server.route("GET", QStringLiteral("/updates/appcast.xml"), [&releases, origin](const Seen &) {
        return Answer(200, releases.rawFeed.value_or(appcast(releases.items, origin)), "application/rss+xml");
    });
    server.routePrefix("GET", QStringLiteral("/updates/"), [&releases](const Seen &seen) {
        const QString name = seen.path.section(u'/', -1);
        for (const Release &release : releases.items) {
            if (release.fileName == name)
                return Answer(200, release.archive, "application/gzip");
        }
        return Answer::error(404, QStringLiteral("not_found"));
    });
}

} // namespace Standin
