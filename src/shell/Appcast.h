#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

// One release in the update feed.
struct AppcastItem {
    QString versionString;        // the build number, compared numerically
    QString displayVersionString; // the version shown to people
    std::optional<QString> itemDescription; // release notes as the feed has them (may hold markup)
    QUrl archiveURL;
    qint64 archiveLength = 0;
    QByteArray signature; // Ed25519 over the archive's bytes, 64 bytes

    friend bool operator==(const AppcastItem &, const AppcastItem &) = default;
};

// The update feed: an RSS channel whose items carry the build, the version,
// the notes and a signed archive:
//   <item><zk:build>12</zk:build><zk:version>1.2</zk:version><description>…</description>
//     <enclosure url="https://…" length="…" zk:signature="base64"/></item>
namespace Appcast {

inline constexpr char kNamespace[] = "https://www.sorvane.app/xmlns/zephyl-update";
// A feed larger than this is not read.
inline constexpr qint64 kMaximumFeedBytes = 1 << 20;

// The usable items, in feed order. Items that lack a build, a version, an
// https archive address, a length or a well-formed signature are skipped; a
// document that is not a feed gives none.
std::vector<AppcastItem> parse(const QByteArray &xml);

// Numeric comparison of version texts: runs of digits compare as numbers, so
// "10" is above "9" and "1.10" above "1.9"; other characters compare as text.
int compareVersions(const QString &a, const QString &b);

// The newest item whose build is above `runningBuild`, if any.
std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items, const QString &runningBuild);

} // namespace Appcast
