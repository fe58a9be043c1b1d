#include "web/BootScript.h"

#include "base/Bundle.h"
#include "companion/CompanionLibrary.h"
#include "design/AppLanguage.h"
#include "design/Strings.h"
#include "web/WebRules.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringDecoder>

namespace BootScript {

QString userAgentName(const QString &version)
{
    if (version.isEmpty())
        return QStringLiteral("ZephylMac");
    return QStringLiteral("ZephylMac/") + version;
}

std::optional<QString> dataURI(const std::optional<QString> &path)
{
    if (!path)
        return std::nullopt;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    const QString ext = QFileInfo(*path).suffix().toLower();
    const char *mime = ext == QLatin1String("png") ? "image/png" : ext == QLatin1String("webp") ? "image/webp" : "image/jpeg";
    return QStringLiteral("data:") + QLatin1String(mime) + QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64());
}

QString resource(const QString &ext)
{
    QFile file(Bundle::shared().webDir() + QStringLiteral("/zephyl-mac.") + ext);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return {};
    return text;
}

QJsonObject words()
{
    auto wordsFor = [](const QString &english) {
        QJsonObject inner;
        for (AppLanguage language : AppLanguages::spoken()) {
            QString text = english;
            if (const auto *table = Strings::table(language)) {
                const auto it = table->constFind(english);
                if (it != table->constEnd())
                    text = it.value();
            }
            inner.insert(AppLanguages::rawValue(language), text);
        }
        return inner;
    };
    return QJsonObject{{QStringLiteral("focus"), wordsFor(QStringLiteral("Focus"))},
                       {QStringLiteral("minutes"), wordsFor(QStringLiteral("%d min"))}};
}

QJsonObject configuration()
{
    const QString look = CompanionLibrary::selectedVariantID();
    const auto folder = CompanionLibrary::variant(look).folder;
    auto named = [&folder](const char *name) -> std::optional<QString> {
        if (!folder)
            return std::nullopt;
        return dataURI(*folder + u'/' + QLatin1String(name));
    };
    // The face is the look's "face.jpg", so its type is fixed.
    QString face;
    if (const auto path = CompanionLibrary::faceURL(look)) {
        QFile file(*path);
        if (file.open(QIODevice::ReadOnly))
            face = QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(file.readAll().toBase64());
    }
    return QJsonObject{
        {QStringLiteral("workspacePath"), QString::fromLatin1(WebRules::workspacePath)},
        {QStringLiteral("signInPath"), QString::fromLatin1(WebRules::signInPath)},
        {QStringLiteral("catFace"), face},
        {QStringLiteral("catFaceLive"), dataURI(CompanionLibrary::liveFaceURL(look)).value_or(QString())},
        {QStringLiteral("catPortrait"), dataURI(CompanionLibrary::portraitURL(look)).value_or(QString())},
        {QStringLiteral("catHappy"), named("face-happy.png").value_or(QString())},
        {QStringLiteral("catConcerned"), named("face-concerned.png").value_or(QString())},
        {QStringLiteral("css"), resource(QStringLiteral("css"))},
        {QStringLiteral("words"), words()},
    };
}

QString script()
{
    const QByteArray json = QJsonDocument(configuration()).toJson(QJsonDocument::Compact);
    QString text = QString::fromUtf8(json);
    if (json.isEmpty())
        text = QStringLiteral("{}");
    return QStringLiteral("window.__zephylMacConfig = ") + text + QStringLiteral(";\n") + resource(QStringLiteral("js"));
}

} // namespace BootScript
