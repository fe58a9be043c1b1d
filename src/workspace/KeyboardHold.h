#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Keeps the keyboard on a layer drawn over the rest of its window (a sheet on
// its dimmed layer) while the layer shows, as the layer already keeps the
// mouse: Tab and Shift+Tab go round the layer's own controls, and a focus that
// lands behind it (a screen taking the keyboard as it shows, a control under
// the keyboard hidden or disabled) is brought back. Once the layer hides, the
// keyboard goes back to the control that had it when the layer showed, or to
// one of the same name when that screen was built anew meanwhile.
// The layer hands its focusNextPrevChild to `cycle`.
class KeyboardHold final : public QObject {
public:
    explicit KeyboardHold(QWidget *layer);
    ~KeyboardHold() override;

    // Moves the keyboard to the layer's next (or previous) control, round from
    // the last to the first; true, as the keyboard stays on the layer either way.
    bool cycle(bool next);

    // The control below `within` that can take the keyboard and is of the same
    // kind and name as `like` (a button's text, a field's placeholder, else the
    // accessible name), else null; one without a name has no counterpart. With
    // several, the one at `like`'s place among its namesakes below `was`.
    static QWidget *sameControl(const QWidget *like, const QWidget *within, const QWidget *was = nullptr);
    // For a control given an identity that has no counterpart below `within`:
    // the one of its kind, also given one, that stands at its place among them
    // below `was` (the next row of a list once its row went), or the last of
    // them; null when there is none.
    static QWidget *samePlace(const QWidget *like, const QWidget *within, const QWidget *was);
    // The control below `within` of the same kind as `like` that stands at its
    // place among them, in reading order, as it stood below `was`: the same
    // control of a view built anew in other words. Null when there is none.
    static QWidget *sameSpot(const QWidget *like, const QWidget *within, const QWidget *was);
    // Names `control` for the above by `identity` rather than by its words, so
    // a list built anew finds it again though its words changed (a plan row by
    // its entry, whatever its title now reads).
    static void setIdentity(QWidget *control, const QString &identity);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Opener {
        QPointer<QWidget> widget;
        // What it is and is called, for its counterpart once it is gone.
        QString kind;
        QString label;
    };
    void engage();
    void release();
    void follow(QWidget *now);
    bool onTop() const;
    QList<QWidget *> controls() const;
    QWidget *returnPlace() const;

    QWidget *m_layer;
    bool m_engaged = false;
    // Where the keyboard was when the layer showed; when that was on another
    // layer, that layer's own openers follow, nearest first.
    QList<Opener> m_openers;
    QPointer<QWidget> m_last;
};
