#pragma once

#include "app/AppTheme.h"
#include "design/ZephylPalette.h"

#include <QDBusVariant>
#include <QObject>

#include <memory>
#include <optional>

class QWidget;

// Where the desktop's colour-scheme preference comes from. Values follow the XDG
// desktop portal: 0 no preference, 1 prefer dark, 2 prefer light.
class ColorSchemeSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Nothing when the desktop does not say.
    virtual std::optional<quint32> colorScheme() = 0;

Q_SIGNALS:
    void changed();
};

// The desktop's preference read from org.freedesktop.portal.Settings over the
// session bus. Asks once, on first use, then follows SettingChanged.
class PortalColorScheme final : public ColorSchemeSource {
    Q_OBJECT
public:
    explicit PortalColorScheme(QObject *parent = nullptr);
    std::optional<quint32> colorScheme() override;

private Q_SLOTS:
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void connectOnce();

    bool m_asked = false;
    bool m_connected = false;
    std::optional<quint32> m_value;
};

// Decides whether windows draw light or dark: the theme setting wins; `system`
// follows the desktop's colour scheme when it answers, else light. Widgets repaint
// on appearanceChanged, which is emitted only on a real change.
class AppearanceService final : public QObject {
    Q_OBJECT
public:
    // Without a source, the desktop portal is asked.
    explicit AppearanceService(std::unique_ptr<ColorSchemeSource> source = nullptr, QObject *parent = nullptr);
    ~AppearanceService() override;

    static AppearanceService &shared();

    AppTheme theme() const { return m_theme; }
    void setTheme(AppTheme theme);
    // Worked out on first use, so a test can swap the source before anything asks.
    Appearance appearance() const;
    void setSource(std::unique_ptr<ColorSchemeSource> source);

    // Repaints `widget` whenever the appearance changes, for as long as it lives.
    static void repaintOnChange(QWidget *widget);

Q_SIGNALS:
    void appearanceChanged(Appearance appearance);

private:
    void reevaluate();
    Appearance compute() const;

    std::unique_ptr<ColorSchemeSource> m_source;
    AppTheme m_theme = AppTheme::system;
    mutable bool m_evaluated = false;
    mutable Appearance m_appearance = Appearance::light;
};
