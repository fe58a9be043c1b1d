#pragma once

// Imported media made up for the composer's tests, and an importer that answers
// from a table, holding chosen files back until released.

#include "app/ComposerState.h"
#include "services/AsyncSupport.h"

#include <QHash>
#include <QSet>
#include <QUuid>

#include <functional>
#include <vector>

#include <map>

namespace composertest {

inline ImportedMedia picture(QSizeF size = QSizeF(1080, 1350))
{
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.kind = ImportedMedia::Kind::image;
    m.fileName = QStringLiteral("photo.jpg");
    m.data = MediaData::fromBytes(QByteArrayLiteral("\xff\xd8\xff\xe0 picture"));
    m.contentType = QStringLiteral("image/jpeg");
    m.pixelSize = size;
    return m;
}

inline ImportedMedia video(double seconds, QSizeF size = QSizeF(1080, 1920))
{
    ImportedMedia m = picture(size);
    m.kind = ImportedMedia::Kind::video;
    m.fileName = QStringLiteral("clip.mp4");
    m.contentType = QStringLiteral("video/mp4");
    m.duration = seconds;
    return m;
}

inline QUrl file(const char *name) { return QUrl::fromLocalFile(QStringLiteral("/tmp/") + QString::fromUtf8(name)); }

class FakeImporter {
public:
    void add(const QString &name, ImportedMedia media) { m_made.insert(name, std::move(media)); }
    void fail(const QString &name, MediaImportError error) { m_failures.insert_or_assign(name, std::move(error)); }
    ImportedMedia made(const QString &name) const { return m_made.value(name); }
    // Imports of this file wait until release().
    void hold(const QString &name) { m_held.insert(name); }
    void release()
    {
        m_held.clear();
        for (auto &wake : std::exchange(m_waiters, {}))
            wake();
    }
    QStringList asked;

    ComposerState::ImportFile function()
    {
        return [this](QUrl url) { return importOne(std::move(url)); };
    }

private:
    QCoro::Task<ImportedMedia> importOne(QUrl url)
    {
        const QString name = url.fileName();
        asked << name;
        while (m_held.contains(name)) {
            Async::Trigger released(&m_gate);
            m_waiters.push_back(released.firer());
            co_await released;
        }
        if (const auto it = m_failures.find(name); it != m_failures.end())
            throw it->second;
        if (!m_made.contains(name))
            throw MediaImportError::unreadable(name);
        co_return m_made.value(name);
    }

    QHash<QString, ImportedMedia> m_made;
    std::map<QString, MediaImportError> m_failures;
    QSet<QString> m_held;
    QObject m_gate;
    std::vector<std::function<void()>> m_waiters;
};

} // namespace composertest
