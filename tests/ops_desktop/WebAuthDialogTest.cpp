#include "services/auth/WebAuthDialog.h"

#include "../ops/OpsTestSupport.h"
#include "support/TestSupport.h"

#include <QTimer>
#include <QWebEngineView>
#include <gtest/gtest.h>


TEST(WebAuthDialog, ClosingTheWindowEndsAsCancelled)
{
    {
        WebAuthDialogSession session({});
        const QUrl page(QStringLiteral("data:text/html,<p>Choose an account</p>"));
        // The user closes the window instead of signing in.
        QTimer::singleShot(300, [&session] {
            if (session.dialog())
                session.dialog()->reject();
        });
        auto kind = opstest::kindThrown<WebAuthSession::Failure>(
            [&] { opstest::run(session.run(page, QStringLiteral("sorvane"), false)); });
        EXPECT_EQ(kind, WebAuthSession::Failure::Kind::cancelled);
    }
}
