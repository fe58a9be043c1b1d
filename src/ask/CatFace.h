#pragma once

#include "companion/CatLook.h"
#include "companion/CompanionVariant.h"
#include "companion/FilmedFigure.h"
#include "design/ZephylSpring.h"

#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QWidget>

#include <memory>
#include <optional>

class PressAnimator;
class QTimer;

// The cat's still portrait for an expression, round: the look's face picture,
// or the drawn cat when the look has none.
class CatFace final : public QWidget {
    Q_OBJECT
public:
    CatFace(QString variantID, CatLook look, double size, QWidget *parent = nullptr);

    const QString &variantID() const { return m_variantID; }
    CatLook look() const { return m_look; }
    void setPortrait(const QString &variantID, CatLook look);
    // Whether a picture is shown (false: the drawn cat).
    bool showsPicture() const { return !face(m_variantID, m_look).isNull(); }

    // The face picture of a look and expression, read from disk once for the
    // life of the process; a missing or unreadable picture is not remembered,
    // so it is looked for again next time. Main thread only.
    static QImage face(const QString &variantID, CatLook look);
    // Where the drawn cat's 84 x 62 frame goes in a portrait of `size`: scaled
    // by size / 96 about the centre and lowered by 8 % of the size.
    static QRectF drawnFrame(double size);

    // Comes in on the spring: grows from 0.55 of its size, anchored at its
    // bottom, as it fades in.
    void enter(const SpringAnimation &spring);
    // How far in: 0 at the start of an entrance, 1 when settled or never entering.
    double entrance() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_variantID;
    CatLook m_look;
    double m_size;
    // The picture scaled for this portrait, and what it was made from.
    QPixmap m_scaled;
    qint64 m_scaledFrom = 0;
    PressAnimator *m_entrance = nullptr;
};

// The live portrait of a filmed look: its clip cropped and scaled so that the
// clip's head box fills the circle.
class CatHeadFilm final : public QWidget {
    Q_OBJECT
public:
    CatHeadFilm(CompanionVariant variant, CompanionClip clip, CompanionClip::HeadBox head, double size,
                QWidget *parent = nullptr, std::shared_ptr<ClipSource> source = nullptr);
    ~CatHeadFilm() override;

    void setFilm(const CompanionVariant &variant, const CompanionClip &clip, const CompanionClip::HeadBox &head);
    bool paused() const { return m_paused; }
    void setPaused(bool paused);
    const FilmedFigure &figure() const { return m_figure; }

    // Where the whole clip is drawn in a portrait of `size`, so that the head
    // box's centre lands on the portrait's centre and its side spans the
    // portrait (a head box under one pixel counts as one).
    static QRectF clipFrame(const CompanionClip &clip, const CompanionClip::HeadBox &head, double size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void scheduleFrame();

    CompanionVariant m_variant;
    CompanionClip m_clip;
    CompanionClip::HeadBox m_head;
    double m_size;
    bool m_paused = false;
    FilmedFigure m_figure;
    QTimer *m_next;
};
