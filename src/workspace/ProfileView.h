#pragma once

#include "focus/FocusGuard.h"
#include "workspace/ScreenKit.h"

#include <QPointer>

#include <vector>

class ConfirmationDialog;
class MenuPicker;
class ProfilePicture;
class RoundedField;
class SegmentedPicker;
class Stepper;
class ToggleSwitch;

// The profile and settings screen: the Instagram connection, the desktop cat,
// the focus timer and its tucking away of feeds, theme and language, the
// account with signing out, and the version. Every control writes the state
// object; the screen keeps only the two confirmations it may be showing.
class ProfileView final : public Screen {
    Q_OBJECT
public:
    explicit ProfileView(AppModel &model, QWidget *parent = nullptr);

    // Reads the right to see other windows (without asking for it) and scans
    // for feed windows; done when the screen is shown and by "Scan".
    void refreshPermission();
    // "Disconnect" and "Sign out" only ask; the dialogs' own button acts.
    void askToDisconnect();
    void askToSignOut();
    ConfirmationDialog *disconnectDialog() const { return m_disconnect; }
    ConfirmationDialog *signOutDialog() const { return m_signOut; }

    // "%1 (%2)" of the bundle's short version and build, "0" for either missing.
    static QString versionText();
    // One line per feed window for the first four, the title cut to 48
    // characters; "None found." without any.
    static QString distractionsText(const std::vector<DistractingWindow> &windows);
    // The account type as words with capitals ("BUSINESS" reads "Business").
    static QString headerLine(const std::optional<QString> &name, const std::optional<QString> &accountType);

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *instagramCard(QWidget *parent);
    QWidget *companionCard(QWidget *parent);
    QWidget *focusCard(QWidget *parent);
    QWidget *appearanceCard(QWidget *parent);
    QWidget *accountCard(QWidget *parent);

    QPointer<ConfirmationDialog> m_disconnect;
    QPointer<ConfirmationDialog> m_signOut;
};
