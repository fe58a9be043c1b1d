#include "web/PageMessage.h"

#include <QJsonObject>

#include <cmath>

namespace PageMessage {

namespace {
QString textOr(const QJsonObject &o, const char *key, const QString &fallback = {})
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : fallback;
}

std::optional<QString> optionalText(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

std::optional<SceneName> sceneName(const QString &name)
{
    if (name == QLatin1String("composer-open"))
        return SceneName::composerOpen;
    if (name == QLatin1String("composer-sheet"))
        return SceneName::composerSheet;
    if (name == QLatin1String("assistant-open"))
        return SceneName::assistantOpen;
    if (name == QLatin1String("composer-close"))
        return SceneName::composerClose;
    return std::nullopt;
}
} // namespace

std::optional<QRectF> rect(const QJsonValue &value)
{
    constexpr double kLargestCoordinate = 100'000;
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    double n[4];
    const char *keys[4] = {"x", "y", "w", "h"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue v = o.value(QLatin1String(keys[i]));
        // No page is a hundred thousand points across: larger numbers are
        // garbage, and would only push the cat out of any window.
        if (!v.isDouble() || !std::isfinite(v.toDouble()) || std::abs(v.toDouble()) > kLargestCoordinate)
            return std::nullopt;
        n[i] = v.toDouble();
    }
    return QRectF(n[0], n[1], n[2], n[3]);
}

std::optional<Message> parse(const QJsonValue &body)
{
    if (!body.isObject())
        return std::nullopt;
    const QJsonObject o = body.toObject();
    const QJsonValue type = o.value(QLatin1String("type"));
    if (!type.isString())
        return std::nullopt;
    const QString t = type.toString();

    if (t == QLatin1String("session")) {
        Session s;
        const QJsonValue signedIn = o.value(QLatin1String("signedIn"));
        s.signedIn = signedIn.isBool() && signedIn.toBool();
        s.path = textOr(o, "path");
        s.email = textOr(o, "email");
        s.displayName = textOr(o, "displayName");
        return s;
    }
    if (t == QLatin1String("state")) {
        State s;
        s.view = optionalText(o, "view");
        s.composerOpen = textOr(o, "composer") == QLatin1String("open");
        s.theme = optionalText(o, "theme");
        s.lang = optionalText(o, "lang");
        return s;
    }
    if (t == QLatin1String("focus"))
        return Focus{};
    if (t == QLatin1String("scene")) {
        const QJsonValue name = o.value(QLatin1String("name"));
        if (!name.isString())
            return std::nullopt;
        const auto known = sceneName(name.toString());
        if (!known)
            return std::nullopt;
        Scene s;
        s.name = *known;
        s.from = rect(o.value(QLatin1String("from")));
        s.target = rect(o.value(QLatin1String("target")));
        s.sheet = rect(o.value(QLatin1String("sheet")));
        s.plan = rect(o.value(QLatin1String("plan")));
        s.outcome = optionalText(o, "outcome");
        return s;
    }
    if (t == QLatin1String("mood")) {
        const QJsonValue look = o.value(QLatin1String("look"));
        if (!look.isString())
            return std::nullopt;
        const auto known = InWindowCatStage::lookFromRaw(look.toString());
        if (!known)
            return std::nullopt;
        return Mood{*known};
    }
    if (t == QLatin1String("publication")) {
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue status = o.value(QLatin1String("status"));
        if (!id.isString() || id.toString().isEmpty() || !status.isString())
            return std::nullopt;
        Publication p;
        p.id = id.toString();
        p.status = status.toString();
        if (const auto link = optionalText(o, "platformUrl"); link && !link->isEmpty()) {
            const QUrl url(*link, QUrl::StrictMode);
            if (url.isValid() && !url.scheme().isEmpty())
                p.platformURL = url;
        }
        p.scheduledAt = optionalText(o, "scheduledAt");
        return p;
    }
    return std::nullopt;
}

} // namespace PageMessage
