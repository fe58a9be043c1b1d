#pragma once

#include "companion/CompanionTypes.h"

#include <QSizeF>
#include <QString>

#include <map>
#include <optional>

// One filmed clip of a cat look.
struct CompanionClip {
    struct Prop {
        double centerX = 0; // fraction of the clip's width
        double top = 0;     // fraction of the clip's height
        friend bool operator==(const Prop &, const Prop &) = default;
    };
    struct HeadBox {
        double x = 0, y = 0, size = 0; // frame pixels, origin top-left
        friend bool operator==(const HeadBox &, const HeadBox &) = default;
    };

    QString file;
    double height = 0;      // points drawn
    double pixelWidth = 0;
    double pixelHeight = 0;
    double floor = 0;       // where the feet are, fraction of the height from the top
    double facing = 1;      // the direction the cat faces in the footage
    std::optional<double> sink;
    std::optional<float> rate;
    std::optional<Prop> prop;
    std::optional<HeadBox> head;

    double drawnWidth() const { return height * pixelWidth / std::max(pixelHeight, 1.0); }

    // A name that stays inside the look's folder: not empty, no folder separator,
    // not "." or "..".
    static bool isPlainFileName(const QString &name);

    friend bool operator==(const CompanionClip &, const CompanionClip &) = default;
};

// One cat look: the built-in drawn cat or a filmed look from the bundle.
struct CompanionVariant {
    QString id;
    QString nameEnglish;
    std::optional<QString> folder; // the look's folder; none for the drawn look
    std::map<QString, CompanionClip> clips;
    double walkSpeed = 68;
    QSizeF size{84, 62};

    bool isFilmed() const { return folder.has_value(); }

    // The first clip present among the state's fallback names; any clip of the
    // look when none of them is; nothing for a look without clips.
    std::optional<CompanionClip> clip(CompanionState state) const;

    static const CompanionVariant &drawn();

    friend bool operator==(const CompanionVariant &a, const CompanionVariant &b)
    {
        return a.id == b.id && a.nameEnglish == b.nameEnglish && a.folder == b.folder && a.clips == b.clips &&
               a.walkSpeed == b.walkSpeed && a.size.width() == b.size.width() && a.size.height() == b.size.height();
    }
};
