#include "companion/CompanionLibrary.h"

#include "base/Bundle.h"
#include "base/DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

// A manifest is a few hundred bytes; anything far larger is not one.
constexpr qint64 kMaxManifestBytes = 256 * 1024;
// Bounds of the numbers that size, divide or pace a clip.
constexpr double kMaxPixels = 4096;   // a clip frame's side
constexpr double kMaxPoints = 2000;   // a figure's side on screen
constexpr double kMaxWalkSpeed = 2000;
// A rate is any number a 32-bit float holds; the player plays one of 0 or below
// at the clip's own speed.
constexpr double kMaxRate = std::numeric_limits<float>::max();

// A strict reader of one JSON object: a required key that is missing or of
// another type, or a number outside its range, fails the whole manifest.
class Fields {
public:
    explicit Fields(QJsonObject o) : m_o(std::move(o)) {}
    bool ok() const { return m_ok; }

    QString string(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString())
            m_ok = false;
        return v.toString();
    }
    QJsonObject object(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isObject())
            m_ok = false;
        return v.toObject();
    }
    // An optional object: absent or null gives none.
    std::optional<QJsonObject> optionalObject(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isObject()) {
            m_ok = false;
            return std::nullopt;
        }
        return v.toObject();
    }
    double number(const char *key, double lo, double hi)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        const double d = v.toDouble();
        if (!v.isDouble() || !std::isfinite(d) || d < lo || d > hi)
            m_ok = false;
        return d;
    }
    std::optional<double> optionalNumber(const char *key, double lo, double hi)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        return number(key, lo, hi);
    }
    void fail() { m_ok = false; }

private:
    QJsonObject m_o;
    bool m_ok = true;
};

constexpr double kHuge = 1e6; // plain placement numbers: finite and sane

std::optional<CompanionClip> decodeClip(const QJsonObject &object)
{
    Fields f(object);
    CompanionClip clip;
    clip.file = f.string("file");
    if (!CompanionClip::isPlainFileName(clip.file))
        return std::nullopt;
    // Sizes divide the placement: zero, negative or absurd values would divide
    // by nothing or ask for gigantic frames.
    clip.height = f.number("height", 1, kMaxPoints);
    clip.pixelWidth = f.number("pixelWidth", 1, kMaxPixels);
    clip.pixelHeight = f.number("pixelHeight", 1, kMaxPixels);
    clip.floor = f.number("floor", -kHuge, kHuge);
    clip.facing = f.number("facing", -kHuge, kHuge);
    clip.sink = f.optionalNumber("sink", -kHuge, kHuge);
    if (const auto rate = f.optionalNumber("rate", -kMaxRate, kMaxRate))
        clip.rate = float(*rate);
    if (const auto prop = f.optionalObject("prop")) {
        Fields p(*prop);
        clip.prop = CompanionClip::Prop{p.number("centerX", -kHuge, kHuge), p.number("top", -kHuge, kHuge)};
        if (!p.ok())
            f.fail();
    }
    if (const auto head = f.optionalObject("head")) {
        Fields h(*head);
        // A head box is divided by its side; one below a pixel is read as a pixel
        // where it is used, but it must be a positive, finite square.
        clip.head = CompanionClip::HeadBox{h.number("x", -kMaxPixels, kMaxPixels), h.number("y", -kMaxPixels, kMaxPixels),
                                           h.number("size", 0, kMaxPixels)};
        if (!h.ok() || clip.head->size <= 0)
            f.fail();
    }
    if (!f.ok())
        return std::nullopt;
    return clip;
}

struct Catalogue {
    std::mutex lock;
    std::optional<QString> folder;
    QList<CompanionVariant> looks;
};

Catalogue &catalogue()
{
    static Catalogue c;
    return c;
}

} // namespace

std::optional<CompanionVariant> CompanionLibrary::decode(const QByteArray &manifest, const QString &folder)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(manifest, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    Fields f(document.object());
    CompanionVariant look;
    look.id = f.string("id");
    Fields name(f.object("name"));
    look.nameEnglish = name.string("en");
    look.walkSpeed = f.number("walkSpeed", 0.5, kMaxWalkSpeed);
    look.size = QSizeF(f.number("width", 1, kMaxPoints), f.number("height", 1, kMaxPoints));
    const QJsonObject clips = f.object("clips");
    if (!f.ok() || !name.ok())
        return std::nullopt;
    for (auto it = clips.begin(); it != clips.end(); ++it) {
        if (!it.value().isObject())
            return std::nullopt;
        auto clip = decodeClip(it.value().toObject());
        if (!clip)
            return std::nullopt;
        look.clips.emplace(it.key(), std::move(*clip));
    }
    look.folder = folder;
    return look;
}

std::optional<CompanionVariant> CompanionLibrary::readLook(const QString &folder)
{
    QFile file(folder + QStringLiteral("/manifest.json"));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > kMaxManifestBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxManifestBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxManifestBytes)
        return std::nullopt;
    return decode(bytes, folder);
}

QList<CompanionVariant> CompanionLibrary::read(const QString &catsFolder)
{
    QList<CompanionVariant> looks;
    QDir cats(catsFolder);
    if (!catsFolder.isEmpty() && cats.exists()) {
        QStringList names = cats.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                           QDir::NoSort);
        // By character code: upper-case names before lower-case ones.
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a < b; });
        for (const QString &name : names) {
            if (auto look = readLook(cats.filePath(name)))
                looks.append(std::move(*look));
        }
    }
    looks.append(CompanionVariant::drawn());
    return looks;
}

const QList<CompanionVariant> &CompanionLibrary::variants()
{
    Catalogue &c = catalogue();
    const std::lock_guard guard(c.lock);
    const QString folder = Bundle::shared().catsDir();
    if (c.folder != folder) {
        c.looks = read(folder);
        c.folder = folder;
    }
    return c.looks;
}

CompanionVariant CompanionLibrary::variant(const QList<CompanionVariant> &looks, const QString &id)
{
    for (const CompanionVariant &look : looks) {
        if (look.id == id)
            return look;
    }
    return CompanionVariant::drawn();
}

CompanionVariant CompanionLibrary::variant(const QString &id) { return variant(variants(), id); }

QString CompanionLibrary::selectedVariantID(const QList<CompanionVariant> &looks, const std::optional<QString> &stored)
{
    if (stored) {
        for (const CompanionVariant &look : looks) {
            if (look.id == *stored)
                return look.id;
        }
    }
    return looks.isEmpty() ? CompanionVariant::drawn().id : looks.front().id;
}

QString CompanionLibrary::selectedVariantID()
{
    return selectedVariantID(variants(), DefaultsStore::shared().string(QLatin1String(kVariantKey)));
}

std::optional<QString> CompanionLibrary::fileURL(const CompanionVariant &look, const QString &name)
{
    if (!look.folder || !CompanionClip::isPlainFileName(name))
        return std::nullopt;
    const QString path = *look.folder + u'/' + name;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

std::optional<QString> CompanionLibrary::faceURL(const CompanionVariant &look)
{
    return fileURL(look, QStringLiteral("face.jpg"));
}

std::optional<QString> CompanionLibrary::faceURL(const CompanionVariant &look, CatLook expression)
{
    if (auto face = fileURL(look, QStringLiteral("face-") + rawValue(expression) + QStringLiteral(".png")))
        return face;
    if (expression != CatLook::neutral)
        return faceURL(look, CatLook::neutral);
    return faceURL(look);
}

std::optional<QString> CompanionLibrary::portraitURL(const CompanionVariant &look)
{
    if (auto portrait = fileURL(look, QStringLiteral("portrait.jpg")))
        return portrait;
    return faceURL(look);
}

std::optional<QString> CompanionLibrary::liveFaceURL(const CompanionVariant &look)
{
    return fileURL(look, QStringLiteral("face-live.webp"));
}

std::optional<QString> CompanionLibrary::faceURL(const QString &id) { return faceURL(variant(id)); }
std::optional<QString> CompanionLibrary::faceURL(const QString &id, CatLook look) { return faceURL(variant(id), look); }
std::optional<QString> CompanionLibrary::portraitURL(const QString &id) { return portraitURL(variant(id)); }
std::optional<QString> CompanionLibrary::liveFaceURL(const QString &id) { return liveFaceURL(variant(id)); }
