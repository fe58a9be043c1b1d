#include "companion/CompanionLibrary.h"

#include "base/DefaultsStore.h"

#include <QFileInfo>

QList<CompanionVariant> CompanionLibrary::variants() { return {CompanionVariant::drawn()}; }

QString CompanionLibrary::selectedVariantID()
{
    const QList<CompanionVariant> looks = variants();
    if (const auto stored = DefaultsStore::shared().string(QStringLiteral("zephyl.mac.companion.variant"))) {
        for (const CompanionVariant &look : looks) {
            if (look.id == *stored)
                return look.id;
        }
    }
    for (const CompanionVariant &look : looks) {
        if (look.isFilmed())
            return look.id;
    }
    return CompanionVariant::drawn().id;
}

CompanionVariant CompanionLibrary::variant(const QString &id)
{
    for (const CompanionVariant &look : variants()) {
        if (look.id == id)
            return look;
    }
    return CompanionVariant::drawn();
}

std::optional<QString> CompanionLibrary::fileOf(const QString &id, const char *name)
{
    const CompanionVariant look = variant(id);
    if (!look.folder)
        return std::nullopt;
    const QString path = *look.folder + u'/' + QLatin1String(name);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

std::optional<QString> CompanionLibrary::faceURL(const QString &id) { return fileOf(id, "face.jpg"); }
std::optional<QString> CompanionLibrary::liveFaceURL(const QString &id) { return fileOf(id, "face-live.webp"); }

std::optional<QString> CompanionLibrary::portraitURL(const QString &id)
{
    if (auto portrait = fileOf(id, "portrait.jpg"))
        return portrait;
    return faceURL(id);
}
