// zephyl-webwindow: the web workspace in a window, with a row of the calls the
// application makes and a line of what the page reports. Against the local
// stand-in by default (demo account kitty@example.com, meow-meow-meow).

#include "WebApp.h"
#include "design/L10n.h"
#include "services/Surface.h"
#include "web/WebSchemes.h"
#include "web/WebWorkspace.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QWidget>

namespace {
QString phaseName(const WebWorkspaceModel::Phase &phase)
{
    using K = WebWorkspaceModel::Phase::Kind;
    switch (phase.kind) {
    case K::loading: return QStringLiteral("loading");
    case K::signIn: return QStringLiteral("signIn");
    case K::workspace: return QStringLiteral("workspace");
    case K::outdated: return QStringLiteral("outdated");
    case K::failed: return QStringLiteral("failed: ") + phase.message;
    }
    return {};
}
} // namespace

int main(int argc, char **argv)
{
    WebSchemes::registerAll();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zephyl-webwindow"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The web workspace in a window, against the local stand-in."));
    parser.addHelpOption();
    QCommandLineOption serviceOption(QStringLiteral("service"), QStringLiteral("Open this service origin instead."),
                                     QStringLiteral("URL"));
    QCommandLineOption trustOption(QStringLiteral("trust-standin"),
                                   QStringLiteral("With --service on 127.0.0.1 or localhost: trust the certificate of a "
                                                  "separate 'zephyl-standin --https'."));
    parser.addOption(serviceOption);
    parser.addOption(trustOption);
    parser.process(app);

    Standin::Server server;
    WebWorkspace::Options options;
    options.storageName = QStringLiteral("zephyl-webwindow");
    QUrl origin(parser.value(serviceOption));
    // The workspace accepts this certificate for loopback hosts only.
    if (parser.isSet(trustOption))
        options.trustedCertificate = Standin::certificate();
    if (!parser.isSet(serviceOption)) {
        server.addAccount(QStringLiteral("kitty@example.com"), QStringLiteral("meow-meow-meow"), QStringLiteral("Kitty"));
        if (Standin::startSecure(server) == 0) {
            QTextStream(stderr) << "zephyl-webwindow: the stand-in cannot listen\n";
            return 1;
        }
        server.setProviderURL(Standin::secureOrigin(server));
        origin = QUrl(Standin::secureOrigin(server));
        options.trustedCertificate = Standin::certificate();
        QTextStream(stdout) << "stand-in at " << origin.toString() << Qt::endl;
    }

    WebWorkspace web(origin, options);
    web.openExternally = [](const QUrl &url) { QTextStream(stdout) << "to the desktop: " << url.toString() << Qt::endl; };

    QWidget window;
    window.setWindowTitle(QStringLiteral("Zephyl Kitty"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(6, 6, 6, 6);
    auto *row = new QHBoxLayout;
    for (Surface surface : Surfaces::allCases) {
        auto *button = new QPushButton(Surfaces::title(surface));
        QObject::connect(button, &QPushButton::clicked, &web, [&web, surface] { web.show(surface); });
        row->addWidget(button);
    }
    auto *focus = new QPushButton(L10n::t("Focus"));
    focus->setCheckable(true);
    QObject::connect(focus, &QPushButton::toggled, &web, [&web](bool on) {
        web.updateFocus(on, false, on ? QStringLiteral("25:00") : QString(), 25);
    });
    row->addWidget(focus);
    auto *retry = new QPushButton(L10n::t("Try again"));
    QObject::connect(retry, &QPushButton::clicked, &web, [&web] { web.retry(); });
    row->addWidget(retry);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(web.webView(), 1);
    auto *status = new QLabel;
    status->setTextFormat(Qt::PlainText);
    layout->addWidget(status);

    auto refresh = [&] {
        QStringList parts{phaseName(web.phase())};
        if (web.account())
            parts << web.account()->email + QStringLiteral(" (") + web.account()->displayName + u')';
        if (!web.screen().isEmpty())
            parts << web.screen();
        if (web.composerOpen())
            parts << QStringLiteral("composer open");
        if (web.moment())
            parts << QStringLiteral("“") + web.moment()->text + QStringLiteral("”");
        retry->setEnabled(web.phase().kind == WebWorkspaceModel::Phase::Kind::failed);
        status->setText(parts.join(QStringLiteral(" · ")));
    };
    for (auto signal : {&WebWorkspaceModel::phaseChanged, &WebWorkspaceModel::accountChanged,
                        &WebWorkspaceModel::screenChanged, &WebWorkspaceModel::composerOpenChanged,
                        &WebWorkspaceModel::momentChanged})
        QObject::connect(&web, signal, &window, refresh);
    web.onPublication = [&web](const WebWorkspaceModel::PublicationEvent &event) {
        QTextStream(stdout) << "publication " << event.id << ": " << event.status << Qt::endl;
        if (event.status == QLatin1String("published"))
            web.say(L10n::t("Published."), 6);
    };
    web.onFocusToggle = [focus] { focus->toggle(); };
    refresh();

    window.resize(1100, 800);
    window.show();
    web.start();
    const int code = app.exec();
    // The view belongs to the workspace, which hands it back before it goes.
    layout->removeWidget(web.webView());
    web.webView()->setParent(nullptr);
    return code;
}
