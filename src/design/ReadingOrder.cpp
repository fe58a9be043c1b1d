#include "design/ReadingOrder.h"

#include "design/EventTargets.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

namespace {

bool takesTab(const QWidget *w) { return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy(); }

void visit(QWidget *w, QList<QWidget *> &out, QSet<const QWidget *> &seen);

// The widgets a layout places, in its order, its nested layouts' in their place.
void visitLayout(const QLayout *layout, QList<QWidget *> &out, QSet<const QWidget *> &seen)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *w = item->widget())
            visit(w, out, seen);
        else if (const QLayout *inner = item->layout())
            visitLayout(inner, out, seen);
    }
}

void visitChildren(const QWidget *parent, QList<QWidget *> &out, QSet<const QWidget *> &seen)
{
    if (const QLayout *layout = parent->layout())
        visitLayout(layout, out, seen);
    // Then what no layout places (a scroller's page, a layer over the rest), as made.
    for (QObject *child : parent->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && !w->isWindow() && !seen.contains(w))
            visit(w, out, seen);
    }
}

void visit(QWidget *w, QList<QWidget *> &out, QSet<const QWidget *> &seen)
{
    if (seen.contains(w))
        return;
    seen.insert(w);
    if (takesTab(w))
        out.append(w);
    visitChildren(w, out, seen);
}

// Follows the application's widgets being added below the roots kept in order.
class Keeper final : public QObject {
public:
    static Keeper &shared()
    {
        static auto *keeper = new Keeper;
        return *keeper;
    }

    void add(QWidget *root)
    {
        m_roots.removeAll(nullptr);
        if (!m_roots.contains(root))
            m_roots.append(root);
        apply(root);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A widget child once it is polished (made whole and about to show):
        // when it is added it may not be constructed yet, and nothing may be
        // asked of it.
        if (event->type() != QEvent::ChildPolished)
            return false;
        const QWidget *parent = EventTargets::widget(watched);
        if (!parent)
            return false;
        for (const QPointer<QWidget> &root : std::as_const(m_roots)) {
            if (root && (root == parent || root->isAncestorOf(parent)))
                schedule(root);
        }
        return false;
    }

private:
    Keeper() { qApp->installEventFilter(this); }

    // Once the event that added the widget is over: a part is usually made
    // of many widgets, and put in its layout after it was made.
    void schedule(QWidget *root)
    {
        if (root->property(kPending).toBool())
            return;
        root->setProperty(kPending, true);
        QTimer::singleShot(0, root, [this, root] {
            root->setProperty(kPending, false);
            apply(root);
        });
    }

    static void apply(QWidget *root)
    {
        const QList<QWidget *> order = ReadingOrder::controls(root);
        // Already so, as a view built once in order is: nothing to move. A
        // control of the window's own between two of the view's counts: Tab
        // would leave the view half-way through it.
        QList<QWidget *> now;
        if (!order.isEmpty()) {
            QWidget *start = order.first();
            for (QWidget *w = start; w && now.size() < order.size(); w = w->nextInFocusChain()) {
                if (takesTab(w))
                    now.append(w);
                if (w->nextInFocusChain() == start)
                    break;
            }
        }
        if (now == order)
            return;
        for (qsizetype i = 1; i < order.size(); ++i)
            QWidget::setTabOrder(order.at(i - 1), order.at(i));
    }

    static constexpr const char *kPending = "zkReadingOrderPending";
    QList<QPointer<QWidget>> m_roots;
};

} // namespace

QList<QWidget *> ReadingOrder::controls(const QWidget *root)
{
    QList<QWidget *> out;
    QSet<const QWidget *> seen{root};
    visitChildren(root, out, seen);
    return out;
}

void ReadingOrder::keep(QWidget *root) { Keeper::shared().add(root); }
