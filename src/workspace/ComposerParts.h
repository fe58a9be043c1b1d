#pragma once

// The pieces of the composer sheet: the preview tile of one imported file, the
// editor (media column and form), the confirmation, the publishing overlay and
// the outcome page. Each reads the sheet's ComposerState and redraws when it changes.

#include "app/AppValues.h"
#include "services/media/ImportedMedia.h"

#include <QImage>
#include <QList>
#include <QWidget>

class AppModel;
class ComposerState;
class ComposerView;
class KeyboardHold;
class QAbstractButton;
class QCheckBox;
class QDateTimeEdit;
class QGridLayout;
class QPlainTextEdit;
class QRadioButton;
class QVBoxLayout;
class RoundedField;
class SegmentedPicker;
class Spinner;
class StyledButton;
class TextBlock;

// One imported file as a 3:4 upright tile: its thumbnail filling the frame, or
// a soft placeholder, with a play badge on videos at the leading bottom corner.
class MediaThumb final : public QWidget {
    Q_OBJECT
public:
    explicit MediaThumb(const ImportedMedia &item, QWidget *parent = nullptr);
    const ImportedMedia &item() const { return m_item; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width * 4 / 3; }
    QSize sizeHint() const override { return {120, 160}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ImportedMedia m_item;
    QImage m_picture;
};

// The summary under the media grid: "m:ss · WxH" for one video, "WxH" for one
// picture, else the translated "%d items".
QString mediaSummary(const QList<ImportedMedia> &media);

// The editor: the media column at the leading side and the scrolling form.
class ComposerEditor final : public QWidget {
    Q_OBJECT
public:
    explicit ComposerEditor(ComposerView &view, QWidget *parent = nullptr);
    void refresh();

    // For tests and the screens tool.
    QWidget *dropZone() const { return m_dropZone; }
    QList<QWidget *> tiles() const;
    StyledButton *addButton() const { return m_add; }
    TextBlock *summary() const { return m_summary; }
    TextBlock *problem() const { return m_problem; }
    QWidget *coverRow() const { return m_coverRow; }
    TextBlock *counter() const { return m_counter; }
    TextBlock *hint() const { return m_hint; }
    SegmentedPicker *formatPicker() const { return m_format; }
    QPlainTextEdit *captionEditor() const { return m_caption; }
    RoundedField *hashtagField() const { return m_hashtags; }
    SegmentedPicker *whenPicker() const { return m_when; }
    QDateTimeEdit *datePicker() const { return m_date; }
    QWidget *optionsSection() const { return m_options; }
    QCheckBox *shareToFeedBox() const { return m_shareToFeed; }
    QCheckBox *trialBox() const { return m_trial; }
    QWidget *graduationGroup() const { return m_graduation; }
    RoundedField *audioField() const { return m_audio; }
    RoundedField *collaboratorsField() const { return m_collaborators; }
    QCheckBox *aiBox() const { return m_ai; }

private:
    QWidget *buildMediaColumn();
    QWidget *buildForm();
    void rebuildTiles();
    void applyColors();

    ComposerView &m_view;
    ComposerState &m_state;
    QWidget *m_dropZone = nullptr;
    QWidget *m_choose = nullptr;
    QWidget *m_gridBox = nullptr;
    QGridLayout *m_grid = nullptr;
    QStringList m_tileIds;
    StyledButton *m_add = nullptr;
    Spinner *m_spinner = nullptr;
    TextBlock *m_summary = nullptr;
    TextBlock *m_problem = nullptr;
    QWidget *m_coverRow = nullptr;
    QVBoxLayout *m_coverThumbBox = nullptr;
    QString m_coverId;
    TextBlock *m_coverDetail = nullptr;
    StyledButton *m_coverButton = nullptr;
    SegmentedPicker *m_format = nullptr;
    TextBlock *m_counter = nullptr;
    QPlainTextEdit *m_caption = nullptr;
    TextBlock *m_hint = nullptr;
    RoundedField *m_hashtags = nullptr;
    SegmentedPicker *m_when = nullptr;
    QDateTimeEdit *m_date = nullptr;
    TextBlock *m_scheduleNote = nullptr;
    QAbstractButton *m_disclosure = nullptr;
    QWidget *m_options = nullptr;
    QCheckBox *m_shareToFeed = nullptr;
    QCheckBox *m_trial = nullptr;
    QWidget *m_graduation = nullptr;
    QRadioButton *m_manual = nullptr;
    QRadioButton *m_performance = nullptr;
    RoundedField *m_audio = nullptr;
    RoundedField *m_collaborators = nullptr;
    QCheckBox *m_ai = nullptr;
};

// The explicit confirmation before anything goes to Instagram: what, through
// which account and when, the caption as it will be sent, "Back" and the confirm
// button. It keeps the keyboard while it shows over the composer.
class ComposerConfirmationSheet final : public QWidget {
    Q_OBJECT
public:
    ComposerConfirmationSheet(ComposerState &state, std::optional<QString> username, QWidget *parent = nullptr);
    void refresh();

    // The summary's label and value pairs, in order.
    QList<QPair<QString, QString>> lines() const;
    TextBlock *title() const { return m_title; }
    TextBlock *preview() const { return m_preview; }
    StyledButton *backButton() const { return m_back; }
    StyledButton *confirmButton() const { return m_confirm; }
    QWidget *card() const { return m_card; }

Q_SIGNALS:
    void confirmed();
    void back();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *) override {}
    void resizeEvent(QResizeEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    ComposerState &m_state;
    KeyboardHold *m_hold;
    std::optional<QString> m_username;
    QWidget *m_card;
    TextBlock *m_title;
    QVBoxLayout *m_summary;
    TextBlock *m_preview;
    StyledButton *m_back;
    StyledButton *m_confirm;
    // What the sheet shows now: the composer refreshes it every second, and it
    // is built again only when this changes.
    struct Shown {
        bool later = false;
        QList<QPair<QString, QString>> lines;
        QString caption;
        friend bool operator==(const Shown &, const Shown &) = default;
    };
    std::optional<Shown> m_shown;
};

// Over the content while a post is handed over: the progress, its step and
// a note, on a dimmed layer that takes every click.
class PublishingOverlay final : public QWidget {
    Q_OBJECT
public:
    explicit PublishingOverlay(QWidget *parent = nullptr);
    void show(const PublishProgress &progress);
    TextBlock *step() const { return m_step; }
    double fraction() const { return m_fraction; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *) override {}
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *m_card;
    QWidget *m_bar;
    TextBlock *m_step;
    double m_fraction = 0;
};

// What became of the last publish or server draft, and the ways on.
class ComposerOutcomeView final : public QWidget {
    Q_OBJECT
public:
    ComposerOutcomeView(const PublishOutcome &outcome, ComposerView &view, QWidget *parent = nullptr);

    static QString titleFor(const PublishOutcome &outcome);
    static QString detailFor(const PublishOutcome &outcome);
    // The sentence for an outcome of a version sent before the post was
    // changed, quoting the start of `words`, what went out (none when empty).
    static QString earlierVersionDetail(const QString &words);
    static constexpr qsizetype kQuotedStart = 60;
    TextBlock *detail() const { return m_detail; }
    // Null when the row does not offer it.
    StyledButton *openButton() const { return m_open; }
    StyledButton *backButton() const { return m_backToEditing; }
    StyledButton *anotherButton() const { return m_another; }
    StyledButton *doneButton() const { return m_done; }
    PublishOutcome::Kind kind() const { return m_kind; }

private:
    PublishOutcome::Kind m_kind;
    TextBlock *m_detail = nullptr;
    StyledButton *m_open = nullptr;
    StyledButton *m_backToEditing = nullptr;
    StyledButton *m_another = nullptr;
    StyledButton *m_done = nullptr;
};
