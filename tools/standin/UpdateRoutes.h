#pragma once

#include "StandinServer.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Standin {

// A release the stand-in offers in its update feed. The archive and its
// signature are given as they are to be served: a test signs with its own key,
// or serves bytes that do not match their signature.
struct Release {
    QString build;
    QString version;
    QString notes; // put into the feed as it is (markup included)
    QString fileName;
    QByteArray archive;
    QByteArray signature;
    // The length the feed announces; the archive's size when negative.
    qint64 announcedLength = -1;
};

// The releases on offer, kept by the caller for as long as the server runs.
struct Releases {
    QList<Release> items;
    // When set, served instead of the feed built from `items` (hostile feeds).
    std::optional<QByteArray> rawFeed;
};

// GET /updates/appcast.xml (the feed, archive addresses on the server's own
// origin, https when it serves https) and GET /updates/<fileName>.
void addUpdateRoutes(Server &server, Releases &releases, QString origin);
QByteArray appcast(const QList<Release> &releases, const QString &origin);

} // namespace Standin
