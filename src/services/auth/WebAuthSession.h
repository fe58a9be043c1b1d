#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

#include <exception>
#include <functional>

class QWidget;

// One browser sign-in: shows `url`, lets the user act on the page, and ends when
// the page navigates to a URL of `callbackScheme`, returning that URL. The
// desktop implementation is an in-app web view dialog; tests use scripted ones.
class WebAuthSession {
public:
    class Failure final : public std::exception {
    public:
        enum class Kind {
            cancelled,     // the user closed the dialog
            couldNotStart, // the dialog could not start, or ended with no URL
        };
        explicit Failure(Kind kind) : m_kind(kind) {}
        Kind kind() const { return m_kind; }
        bool operator==(const Failure &other) const { return m_kind == other.m_kind; }
        const char *what() const noexcept override;

    private:
        Kind m_kind;
    };

    // The window a session's dialog belongs to; may answer none.
    using AnchorProvider = std::function<QWidget *()>;
    // Makes the session used for one sign-in attempt.
    using Factory = std::function<std::unique_ptr<WebAuthSession>(AnchorProvider)>;

    virtual ~WebAuthSession() = default;

    // `ephemeral`: no cookies shared with earlier sessions, so the user can log
    // in afresh. Throws Failure, or another error of the browser unchanged.
    virtual QCoro::Task<QUrl> run(QUrl url, QString callbackScheme, bool ephemeral) = 0;

    // The desktop library installs its dialog-backed factory at start-up.
    static void setFactory(Factory factory);
    // A session from the installed factory; one that always fails with
    // couldNotStart when none is installed (a headless run).
    static std::unique_ptr<WebAuthSession> make(AnchorProvider anchorProvider);
};
