#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>

class QLocalServer;
class QLocalSocket;

// One application per user session. The first launch listens on a local socket
// in the user's runtime folder; a later launch hands its links to it and ends.
// A socket left behind by a crashed instance is taken over; an instance that
// accepts the connection but never answers is waited for only so long.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        primary,    // this process is the one instance now
        forwarded,  // another instance took the links
        unanswered, // another instance holds the socket but did not answer in time
        failed,     // the socket could not be made
    };

    // `socketPath` empty: $XDG_RUNTIME_DIR/zephyl-kitty.socket (or a private
    // folder under the temporary folder when the runtime folder is not set, or
    // is not this user's alone).
    explicit SingleInstance(QString socketPath = {}, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Empty when no private folder can be had (claim() then fails).
    static QString defaultSocketPath();
    // The links among command-line arguments worth handing over: "sorvane:"
    // addresses of reasonable length, at most a few of them.
    static QStringList linksFrom(const QStringList &arguments);

    // Becomes the one instance, or hands `links` to the one that is running.
    Outcome claim(const QStringList &links, std::chrono::milliseconds timeout = std::chrono::seconds(8));
    // Stops listening, so a relaunched copy can take over at once.
    void release();

    QString socketPath() const { return m_path; }
    bool listening() const;

    // Wire limits, so a hostile peer cannot make the instance buffer without end.
    static constexpr int maximumLinks = 8;
    static constexpr int maximumLinkLength = 8192;

signals:
    // Another launch reached this instance; `links` may be empty (show the workspace).
    void activated(const QStringList &links);

private:
    Outcome forward(QLocalSocket &socket, const QStringList &links, std::chrono::milliseconds timeout);
    bool listen();
    void accept();

    QString m_path;
    QLocalServer *m_server = nullptr;
};
