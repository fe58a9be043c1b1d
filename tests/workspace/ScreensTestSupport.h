#pragma once

// The workspace screens over a model of the scripted service and the virtual
// clock, shown offscreen so that layouts, clicks and keys run as for a user.

#include "app/FlowTestSupport.h"

#include "design/AppearanceService.h"
#include "design/TextBlock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace screentest {

// The desktop's colour scheme as a test states it (1 dark, 2 light).
class StatedScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> scheme = 2u;
    std::optional<quint32> colorScheme() override { return scheme; }
    void set(std::optional<quint32> value)
    {
        scheme = value;
        Q_EMIT changed();
    }
};

// Installs a stated desktop scheme and the system theme for the test, and puts
// both back afterwards.
struct AppearanceGuard {
    StatedScheme *scheme = new StatedScheme;
    AppearanceGuard()
    {
        AppearanceService::shared().setSource(std::unique_ptr<ColorSchemeSource>(scheme));
        AppearanceService::shared().setTheme(AppTheme::system);
    }
    ~AppearanceGuard()
    {
        AppearanceService::shared().setTheme(AppTheme::system);
        AppearanceService::shared().setSource(std::make_unique<StatedScheme>());
    }
};

// Runs posted events (deferred deletions, queued rebuilds) and lets the
// coroutines of the scripted service move on.
inline void settle()
{
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// A top-level host of a workspace-sized window around one screen.
struct Host {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    explicit Host(QSize size = QSize(1180, 760)) { window->resize(size); }
    template <typename W>
    W *show(W *widget)
    {
        widget->setParent(window.get());
        widget->setGeometry(QRect(QPoint(0, 0), window->size()));
        window->show();
        widget->show();
        settle();
        return widget;
    }
};

inline QStringList texts(const QWidget *root)
{
    QStringList out;
    for (const TextBlock *block : root->findChildren<TextBlock *>()) {
        if (block->isVisibleTo(root))
            out << block->text();
    }
    return out;
}

inline QAbstractButton *buttonNamed(const QWidget *root, const QString &text)
{
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisibleTo(root))
            return button;
    }
    return nullptr;
}

inline void click(QAbstractButton *button)
{
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    settle();
}

inline void key(QWidget *widget, Qt::Key key)
{
    QTest::keyClick(widget, key);
    settle();
}

} // namespace screentest
