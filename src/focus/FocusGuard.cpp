#include "focus/FocusGuard.h"

#include "base/Phrases.h"
#include "design/L10n.h"

namespace {

class UntrustedSource final : public WindowSource {
public:
    bool trusted() const override { return false; }
    std::vector<Application> applications() const override { return {}; }
    bool minimize(uint64_t) override { return false; }
};

WindowSource *g_source = nullptr;

} // namespace

WindowSource &WindowSource::system()
{
    static UntrustedSource none;
    return g_source ? *g_source : none;
}

void WindowSource::setSystem(WindowSource *source) { g_source = source; }

namespace FocusGuard {

const std::array<QString, 12> keywords = {
    QStringLiteral("instagram"), QStringLiteral("reels"),   QStringLiteral("tiktok"),   QStringLiteral("youtube"),
    QStringLiteral("shorts"),    QStringLiteral("twitter"), QStringLiteral("x.com"),    QStringLiteral("threads"),
    QStringLiteral("facebook"),  QStringLiteral("vk.com"),  QStringLiteral("вконтакте"), QStringLiteral("лента"),
};

std::optional<QString> matchingKeyword(const QString &title)
{
    const QString *keyword = Phrases::firstContained(Phrases::folded(title), keywords);
    return keyword ? std::optional<QString>(*keyword) : std::nullopt;
}

std::vector<DistractingWindow> scan(const WindowSource &source)
{
    std::vector<DistractingWindow> found;
    if (!source.trusted())
        return found;
    for (const WindowSource::Application &app : source.applications()) {
        if (!app.regular)
            continue;
        for (size_t i = 0; i < app.windows.size(); ++i) {
            const WindowSource::Window &w = app.windows[i];
            if (!w.title || !matchingKeyword(*w.title))
                continue;
            if (w.minimized.value_or(false))
                continue;
            found.push_back(DistractingWindow{
                QString::number(app.pid) + QLatin1Char('-') + QString::number(i),
                app.name.isEmpty() ? L10n::t("Browser") : app.name,
                *w.title,
                w.frame,
                w.element,
            });
        }
    }
    return found;
}

} // namespace FocusGuard
