#pragma once

#include "app/AskValues.h"
#include "ask/CatFace.h"

#include <QAbstractButton>
#include <QPointer>
#include <QSizeF>
#include <QUuid>
#include <QWidget>

#include <memory>

class AppModel;
class AskPanelBridge;
class ChatText;
class GrowingTextField;
class PressAnimator;
class QHBoxLayout;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class StyledButton;
class TextBlock;

// One line's bubble: the text exactly as stored, plain and selectable, on a
// shape whose small bottom corner points at the speaker.
class ChatBubble final : public QWidget {
    Q_OBJECT
public:
    ChatBubble(const QString &text, bool mine, QWidget *parent = nullptr);

    bool mine() const { return m_mine; }
    ChatText *textView() const { return m_text; }
    QString text() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_mine;
    ChatText *m_text;
};

// Three dots that pulse one after another while the cat thinks.
class TypingDots final : public QWidget {
    Q_OBJECT
public:
    explicit TypingDots(QWidget *parent = nullptr);

    // Dot i's opacity at t seconds since 2001-01-01.
    static double opacity(int dot, double t);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_tick;
};

// The composer's round send button: an arrow on the accent while there is
// something to send, muted on a quiet fill otherwise, easing between the two.
class SendButton final : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr double kEaseSeconds = 0.14;

    explicit SendButton(QWidget *parent = nullptr);

    // Enables or disables the button; its colours ease over 0.14 s.
    void setCanSend(bool can);
    // 0 muted, 1 ready to send; between the two while easing.
    double readiness() const;
    QColor fillColor() const;
    QColor arrowColor() const;

    QSize sizeHint() const override { return {36, 36}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    PressAnimator *m_ready;
};

// The whole content of the ask panel: a card 680 points wide with the cat's
// portrait, name and status, the short conversation of the state object
// (`catChat`, `askBusy`) and a one-field composer bound to `askInput`. It keeps
// no conversation of its own; it reports its measured size and asks to be
// closed through the bridge.
class AskBarView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 680;
    static constexpr double kRadius = 28;
    static constexpr int kMinHistory = 40;
    static constexpr int kMaxHistory = 380;

    AskBarView(AppModel &model, AskPanelBridge &bridge, QWidget *parent = nullptr);
    ~AskBarView() override;

    // Return and the send button: the typed text, trimmed, goes to the cat and
    // the field empties; blank text, or a question already being answered,
    // changes nothing and keeps what was typed.
    void submit();
    // Asks the cat (nothing while it is answering); the field is not touched.
    void send(const QString &text);
    bool canSend() const;

    // The four suggestions of an empty conversation, translated.
    static QStringList suggestions();
    // The name shown in the header.
    QString catName() const;

    // What a user sees, for tests and pictures.
    GrowingTextField *field() const { return m_field; }
    SendButton *sendButton() const { return m_send; }
    StyledButton *closeButton() const { return m_close; }
    StyledButton *newConversationButton() const { return m_newChat; }
    TextBlock *nameText() const { return m_name; }
    TextBlock *statusText() const { return m_status; }
    QColor statusDotColor() const;
    // Null while the conversation is not empty.
    QWidget *emptyState() const;
    QList<StyledButton *> suggestionChips() const { return m_suggestionChips; }
    QScrollArea *history() const { return m_history; }
    QList<ChatBubble *> bubbles() const;
    // Null unless the cat is answering.
    QWidget *typingRow() const { return m_typing; }
    // Null unless shown under the last reply.
    QWidget *actionRow() const { return m_actions; }
    QList<StyledButton *> actionChips() const { return m_actionChips; }
    QAbstractButton *openInZephylButton() const { return m_openInZephyl; }
    // The header's portrait: a film of the look's head, or a still face.
    CatHeadFilm *headFilm() const { return m_film; }
    CatFace *headFace() const { return m_face; }
    int historyHeight() const { return m_historyHeight; }
    // The size the card takes for its content (always 680 wide).
    QSize idealSize() const;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildComposer();
    QWidget *catLine(CatLook look, QWidget *content, QWidget *parent);
    void retranslate();
    void fillPortrait();
    void fillConversation();
    void fillEmptyState();
    void fillHistory();
    void followBusy();
    void syncSendButton();
    void syncNewChatButton();
    // A control that has the keyboard is about to be held or to go (Send
    // pressed, a chip that answered, the row under the last reply): the
    // keyboard goes back to the field rather than on to the next control.
    void keepKeyboardFrom(QWidget *going);
    // The list's tallest: 380, or less where the panel's screen has less room.
    int historyCap() const;
    void measureHistory();
    void scheduleMeasure();
    void scheduleScrollToEnd();
    void scrollToEnd();
    void scheduleReport();
    void reportSize();

    AppModel &m_model;
    AskPanelBridge &m_bridge;
    QVBoxLayout *m_conversation = nullptr;
    QWidget *m_header = nullptr;
    QWidget *m_composer = nullptr;
    QHBoxLayout *m_portraitSlot = nullptr;
    QPointer<CatHeadFilm> m_film;
    QPointer<CatFace> m_face;
    TextBlock *m_name = nullptr;
    TextBlock *m_status = nullptr;
    QWidget *m_statusDot = nullptr;
    StyledButton *m_newChat = nullptr;
    StyledButton *m_close = nullptr;
    GrowingTextField *m_field = nullptr;
    SendButton *m_send = nullptr;

    QPointer<QWidget> m_empty;
    QList<StyledButton *> m_suggestionChips;
    QScrollArea *m_history = nullptr;
    QWidget *m_historyContent = nullptr;
    QPointer<QWidget> m_typing;
    QPointer<QWidget> m_actions;
    QList<StyledButton *> m_actionChips;
    QPointer<QAbstractButton> m_openInZephyl;
    // The rows shown, by line, so a line already shown is not built again.
    QHash<QUuid, QWidget *> m_rows;
    int m_historyHeight = 0;
    qsizetype m_shownLines = -1;
    bool m_scrollPending = false;
    // The newest row is kept at the bottom of the list until the user scrolls.
    bool m_pinned = false;
    bool m_reportPending = false;
    bool m_measurePending = false;
    QSize m_reported;
};
