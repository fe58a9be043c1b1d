#pragma once

#include "design/AppTheme.h"
#include "design/ZephylPalette.h"

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
