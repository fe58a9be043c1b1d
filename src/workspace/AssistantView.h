#pragma once

#include "design/ChatText.h"
#include "services/ChatModels.h"
#include "workspace/ScreenKit.h"

#include <QTextEdit>
#include <QPointer>

#include "design/GrowingTextField.h"

#include <QScrollArea>
class StyledButton;

// The assistant screen: the user's conversations on the leading side with a
// button that starts a new one, and the open conversation: its messages, a
// greeting with three suggestions while it has none, "Thinking…" while a reply
// is awaited, and the composer. Everything is the state object's; the screen
// keeps only whether the composer has the keyboard.
class AssistantView final : public Screen {
    Q_OBJECT
public:
    explicit AssistantView(AppModel &model, QWidget *parent = nullptr);

    // Sends the draft: nothing when it is blank or a reply is awaited (the draft
    // then stays as typed); otherwise the field is emptied and the text goes to
    // the assistant as typed. When the assistant cannot answer and the field is
    // still empty, the text comes back into it.
    void send();
    // The thread operations of the header button, a row and its menu.
    void newThread();
    void openThread(const QString &id);
    void deleteThread(const QString &id);
    // The suggestion's text becomes the draft and the field takes the keyboard.
    void suggest(const QString &suggestion);

    GrowingTextField *field() const { return m_field; }
    RowButton *sendButton() const { return m_send; }
    QAbstractButton *newThreadButton() const { return m_newThread; }
    // The rows of the thread list, in order.
    QList<QAbstractButton *> threadRows() const;
    // The message rows, in order.
    QList<class MessageRow *> messageRows() const;
    // Null unless a reply is awaited.
    QWidget *thinkingRow() const;
    // Null while the conversation has messages.
    QWidget *greeting() const;
    QScrollArea *conversationArea() const { return m_conversationArea; }

    QWidget *openingControl() const override;

    // The greeting's title for the signed-in user.
    static QString greetingTitle(const AppModel &model);
    // The three suggestions, translated.
    static QStringList suggestions();

protected:
    QWidget *build() override;
    void showEvent(QShowEvent *event) override;

private:
    // Makes `part` again by `fill`. The keyboard stays in it where it was
    // there: on the same control, else it goes to the field.
    void keepKeyboardIn(QWidget *part, const std::function<void()> &fill);
    void fillThreads();
    void fillThreadRows();
    void fillConversation();
    void fillMessages();
    void followBusy();
    void syncSendButton();
    void scrollToEnd(bool animated);

    QPointer<QWidget> m_threadList;
    QPointer<QWidget> m_conversation;
    QPointer<QScrollArea> m_conversationArea;
    QPointer<QAbstractButton> m_newThread;
    QPointer<GrowingTextField> m_field;
    QPointer<RowButton> m_send;
    qsizetype m_shownMessages = -1;
};

// One message: a bubble with the text, at the trailing side for the user's and
// the leading side for the assistant's, which also offers the reply's actions
// and "Copy".
class MessageRow final : public QWidget {
    Q_OBJECT
public:
    MessageRow(AppModel &model, const ChatMessage &message, QWidget *parent = nullptr);

    const ChatMessage &message() const { return m_message; }
    // The reply's action buttons, in order (none for the user's messages).
    QList<StyledButton *> actionButtons() const { return m_actions; }
    // Null for the user's messages.
    QAbstractButton *copyButton() const { return m_copy; }
    ChatText *textView() const { return m_text; }

    // Puts the message's text on the clipboard, replacing what was there.
    void copy() const;

private:
    ChatMessage m_message;
    ChatText *m_text;
    QList<StyledButton *> m_actions;
    QAbstractButton *m_copy = nullptr;
};
