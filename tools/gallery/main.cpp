// Renders every shared component in light, dark and Arabic right-to-left to PNG
// files, so a person can look at them without starting the application.
// Usage: zephyl-gallery OUTPUT_FOLDER   (QT_QPA_PLATFORM=offscreen works)
#include "base/Clock.h"
#include "design/AppTheme.h"
#include "design/AppearanceService.h"
#include "design/ComponentShowcase.h"
#include "design/L10n.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace {
struct Variant {
    const char *name;
    AppLanguage language;
    AppTheme theme;
};

// The desktop's own scheme plays no part in the pictures.
class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};

bool render(QWidget *widget, const QString &path, FakeClock &clock)
{
    // Full preferred width, and the height that width needs once text wraps; no
    // screen-size cap as a window would get.
    widget->ensurePolished();
    QSize size = widget->sizeHint();
    if (widget->hasHeightForWidth())
        size.setHeight(std::max(size.height(), widget->heightForWidth(size.width())));
    widget->resize(size);
    if (widget->layout())
        widget->layout()->activate();
    // Let held-down sample buttons finish their press animation.
    clock.advance(std::chrono::milliseconds(500));
    QApplication::processEvents();
    const bool ok = widget->grab().save(path);
    delete widget;
    return ok;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream err(stderr), out(stdout);
    if (argc != 2) {
        err << "usage: zephyl-gallery OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    FakeClock clock;
    Clock::setShared(&clock);
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());

    const Variant variants[] = {
        {"light", AppLanguage::en, AppTheme::light},
        {"dark", AppLanguage::en, AppTheme::dark},
        {"arabic-rtl", AppLanguage::ar, AppTheme::light},
    };
    int failures = 0;
    for (const Variant &variant : variants) {
        L10n::setPreference(variant.language);
        QApplication::setLayoutDirection(L10n::layoutDirection());
        AppearanceService::shared().setTheme(variant.theme);
        const QString name = QString::fromLatin1(variant.name);
        if (!root.mkpath(name)) {
            err << "cannot create " << root.filePath(name) << "\n";
            return 1;
        }
        ComponentShowcase::Options options;
        options.pressedSamples = true;
        QStringList written;
        const QString sheet = root.filePath(name + QStringLiteral(".png"));
        if (render(ComponentShowcase::page(options), sheet, clock))
            written.append(sheet);
        else
            ++failures;
        for (const auto &piece : ComponentShowcase::pieces()) {
            const QString file = root.filePath(name + QLatin1Char('/') + piece.name + QStringLiteral(".png"));
            if (render(piece.build(options), file, clock))
                written.append(file);
            else
                ++failures;
        }
        for (const QString &file : written)
            out << file << "\n";
    }
    Clock::setShared(nullptr);
    if (failures)
        err << failures << " picture(s) could not be written\n";
    return failures ? 1 : 0;
}
