#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The application's bundle folder (share/zephyl-kitty): the cat looks in Cats/,
// the page resources in Web/, and info.json with build values such as
// "SORVANE_API_BASE_URL" and "version".
class Bundle {
public:
    explicit Bundle(QString root);

    // The installed bundle next to the executable, the build tree's copy, or the
    // folder named by ZEPHYL_BUNDLE_DIR.
    static const Bundle &shared();
    static void setShared(const Bundle *bundle);

    QString root() const { return m_root; }
    QString catsDir() const { return m_root + QStringLiteral("/Cats"); }
    QString webDir() const { return m_root + QStringLiteral("/Web"); }
    // A text value of info.json; ZEPHYL_BUNDLE_INFO names another info file to read instead.
    std::optional<QString> info(const QString &key) const;
    QString version() const;

private:
    QString m_root;
    QJsonObject m_info;
};
