#pragma once

#include "workspace/ScreenKit.h"

#include <QPointer>

#include "design/Controls.h"

class NoticeBanner;

// The sign-in form of the native workspace: an introduction on the leading
// side, on the trailing side the form that signs in with e-mail and password,
// creates an account, starts the Google sign-in and asks for a password-reset
// mail. The work is the state object's; the form only gathers the fields,
// decides what may be pressed and shows the current notice.
class SignInView final : public Screen {
    Q_OBJECT
public:
    explicit SignInView(AppModel &model, QWidget *parent = nullptr);

    bool creating() const { return m_creating; }
    // What the form does on its main button and on Return in any field: nothing
    // while the e-mail or password is empty or a sign-in runs, else one sign-in
    // (or account creation) with the fields as typed.
    void submit();
    void toggleMode();

    // Null in sign-in mode.
    RoundedField *nameField() const { return m_nameField; }
    RoundedField *emailField() const { return m_emailField; }
    RoundedField *passwordField() const { return m_passwordField; }
    RowButton *mainButton() const { return m_main; }
    RowButton *googleButton() const { return m_google; }
    PlainButton *modeButton() const { return m_mode; }
    // Null in create-account mode.
    PlainButton *forgotButton() const { return m_forgot; }
    // Null while there is no notice.
    NoticeBanner *banner() const;

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    void sync();

    bool m_creating = false;
    QString m_name;
    QString m_email;
    QString m_password;

    QPointer<RoundedField> m_nameField;
    QPointer<RoundedField> m_emailField;
    QPointer<RoundedField> m_passwordField;
    QPointer<RowButton> m_main;
    QPointer<RowButton> m_google;
    QPointer<PlainButton> m_mode;
    QPointer<PlainButton> m_forgot;
};
