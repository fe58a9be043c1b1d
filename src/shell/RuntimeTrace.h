#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>

class PlanRow;
class QTimer;
class Runtime;

// With ZEPHYL_TRACE set, the application writes what a user would see happen
// to standard error, one "trace: ..." line each: the page's phase, the signed-in
// account, the surface, the ask panel, where the keyboard is (and each Tab a
// window has taken), each menu that comes up, where the cat stands and the plan's rows are, the composer's
// outcome page, what it says. End-to-end tests read
// these lines; nothing private (no token, no typed text) is written.
class RuntimeTrace final : public QObject {
    Q_OBJECT
public:
    explicit RuntimeTrace(Runtime &runtime, QObject *parent = nullptr);
    static bool wanted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void line(const QString &text);
    void watchCat();
    void watchPlanRows();
    void watchOutcomePage();

    Runtime &m_runtime;
    QTimer *m_poll = nullptr;
    QString m_standing;
    bool m_askShown = false;
    bool m_grips = false;
    QPointF m_catAt;
    QList<QPointer<const PlanRow>> m_planRows;
    QString m_planRowsSaid;
    QString m_outcomePage = QStringLiteral("none");
    bool m_settingsShown = false;
    bool m_firstFrame = false;
    bool m_trayShown = false;
    int m_earlyTicks = 0;
};
