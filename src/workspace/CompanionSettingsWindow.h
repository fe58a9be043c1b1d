#pragma once

#include "companion/CatWellbeing.h"
#include "companion/CompanionVariant.h"
#include "design/AppNotice.h"
#include "workspace/ScreenKit.h"

#include <QPointer>

#include <functional>

class AppModel;

// Opening at login, as the application keeps it (an XDG autostart entry). The
// shell hands it in; without it the settings have no login row.
struct LoginItemSwitch {
    // Whether the application opens at login now.
    std::function<bool()> opensAtLogin;
    // Registers or unregisters it; the outcome is read back through opensAtLogin.
    std::function<void(bool)> setOpensAtLogin;

    bool available() const { return opensAtLogin && setOpensAtLogin; }
};

// The one place to choose the cat's look and how it behaves: shown or not,
// opening at login, strolling, temperament, walking on windows, a click that
// asks, the care reminders, the focus length, tucking feeds away and the right
// to do so; with how the cat is doing. Every control reads and writes the state
// object, so a change here or elsewhere shows at once; there is no Apply.
class CompanionSettingsView final : public Screen {
    Q_OBJECT
public:
    CompanionSettingsView(AppModel &model, LoginItemSwitch login, QWidget *parent = nullptr);

    bool opensAtLogin() const { return m_opensAtLogin; }
    // Reads the login item again.
    void readLoginItem();
    // The scrolling cards are at least 560 x 560, or no larger than `room`
    // where a short screen leaves less; they scroll in what they get.
    void fitLeastSizeTo(const QSize &room);

    // The mood line and its tone for the cat's record at `now`.
    static QString moodWord(const CatWellbeing &wellbeing, const QDateTime &now);
    static PillTone moodTone(const CatWellbeing &wellbeing, const QDateTime &now);

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *behaviourCard(QWidget *parent);
    QWidget *careCard(QWidget *parent);
    QWidget *focusCard(QWidget *parent);

    LoginItemSwitch m_login;
    bool m_opensAtLogin = false;
    QSize m_leastSize{560, 560};
    QPointer<QScrollArea> m_cards;
};

// One look in the look grid: its poster (or the drawn cat) over its name,
// outlined in the accent colour while chosen.
class VariantCard final : public QAbstractButton {
    Q_OBJECT
public:
    VariantCard(const CompanionVariant &variant, bool selected, std::function<void()> choose,
                QWidget *parent = nullptr);

    const CompanionVariant &variant() const { return m_variant; }
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    // The look's poster picture when it has a readable one; null for the drawn cat.
    const QImage &poster() const { return m_poster; }

    QSize sizeHint() const override { return {170, 148}; }
    QSize minimumSizeHint() const override { return {150, 148}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CompanionVariant m_variant;
    bool m_selected;
    QImage m_poster;
};

// Makes the settings window on first use and brings it forward on every show;
// closing it only hides it. Each time it comes up it keeps inside the free area
// of its screen, title bar included.
class CompanionSettingsWindowController final : public QObject {
    Q_OBJECT
public:
    CompanionSettingsWindowController(AppModel &model, LoginItemSwitch login = {}, QObject *parent = nullptr);
    ~CompanionSettingsWindowController() override;

    void show();
    // None until the first show.
    QWidget *window() const { return m_window; }
    CompanionSettingsView *view() const { return m_view; }
    AppModel &model() const { return m_model; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    AppModel &m_model;
    LoginItemSwitch m_login;
    QPointer<QWidget> m_window;
    QPointer<CompanionSettingsView> m_view;
    // Fitted into its screen's free area at its next exposure, once the window
    // manager has framed it.
    bool m_fitPending = false;
};
