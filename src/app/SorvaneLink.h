#pragma once

#include <QString>

#include <optional>

// A "sorvane:" link taken apart as written. Links reach the application from any
// page or program, so nothing is normalised: the host and the path keep their
// raw text (QUrl would lower-case the host and decode the path), and a link of
// any other shape is no link at all.
struct SorvaneLink {
    // A longer text is refused outright: no link of ours comes near it, and an
    // access token in a fragment stays well below it.
    static constexpr qsizetype kMaxLength = 16 * 1024;

    QString host;     // raw, case kept; never empty
    QString path;     // raw, from the first "/" after the host; may be empty
    QString query;    // raw, without "?"; none when there is no "?"
    QString fragment; // raw, without "#"
    bool hasQuery = false;
    bool hasFragment = false;

    // The link in `raw` (white space around it ignored) when its scheme is
    // "sorvane" in any case and it names a host: "sorvane://host[/path][?query][#fragment]".
    // None for every other text, and for an authority with a user or a port.
    static std::optional<SorvaneLink> parse(const QString &raw);

    // The decoded value of the first query item named exactly `name`; none when
    // there is no such item, it has no "=", or it does not decode as UTF-8.
    std::optional<QString> queryItem(const QString &name) const;
};
