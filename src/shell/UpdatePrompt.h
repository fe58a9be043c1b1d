#pragma once

#include "shell/UpdateEngine.h"
#include "shell/Updater.h"

#include <QPointer>
#include <QWidget>

#include <functional>

#include <QDialog>

// The content of the update prompt: the icon, the title, the step from the
// running version to the new one, the notes as plain text, the reassurance,
// and the Later and Update buttons.
class UpdatePromptView final : public QWidget {
    Q_OBJECT
public:
    UpdatePromptView(const UpdateOffer &offer, const QString &runningVersion, QWidget *parent = nullptr);

    QWidget *notesArea() const { return m_notes; }
    QWidget *laterButton() const { return m_later; }
    QWidget *updateButton() const { return m_update; }

signals:
    void updateChosen();
    void laterChosen();

private:
    QWidget *m_notes = nullptr;
    QWidget *m_later = nullptr;
    QWidget *m_update = nullptr;
};

// The prompt's window: a sheet (window-modal dialog) on the workspace window
// when that is visible, otherwise a centred window of its own.
class UpdatePromptController final : public QObject, public UpdatePrompt {
    Q_OBJECT
public:
    explicit UpdatePromptController(QObject *parent = nullptr);
    ~UpdatePromptController() override;

    void show(const UpdateOffer &offer, QObject *parent, std::function<void()> update,
              std::function<void()> later) override;
    void dismiss() override;
    bool isVisible() const override;
    bool hasSheet(QObject *parent) const override;

    QDialog *panel() const { return m_panel; }
    // The running version shown before the arrow.
    static QString runningVersion();

private:
    QPointer<QDialog> m_panel;
    QPointer<QWidget> m_parent;
};

// The updater's own messages for the user's checks: plain message windows, and
// the prompt again for an update that is ready.
class UpdateWindows final : public QObject, public UpdateEngine::UserDriver {
    Q_OBJECT
public:
    explicit UpdateWindows(QObject *parent = nullptr);
    ~UpdateWindows() override;

    void showUpToDate() override;
    void showFailure(UpdateError error) override;
    void showInstalledElsewhere(const AppcastItem &item) override;
    void showReady(const AppcastItem &item, std::function<void()> install, std::function<void()> closed) override;

    // The message on screen, if any (tests).
    QString shownMessage() const;
    UpdatePromptController &prompt() { return m_prompt; }

private:
    void message(const QString &text);

    UpdatePromptController m_prompt;
    QPointer<QWidget> m_message;
};
