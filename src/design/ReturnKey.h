#pragma once

class QWidget;

// Return and Enter press the application's button that has the keyboard as
// Space does: down while the key is held, clicked when it is let go; on a
// pop-up picker they open its list, as Space does. The toolkit presses a
// button by Return only inside its own dialogs, and then only push buttons;
// the application's buttons, chips, switches and check boxes stand in
// windows, sheets and panels too, and a keyboard user could not tell which key
// a control takes. A text field, a segmented picker or a card keeps its own
// Return; Return on one of those in a dialog still reaches the dialog,
// which presses its default button. A held Return or Space presses a control
// once, however the key repeats.
namespace ReturnKey {
// `control` is one of the application's: when it is a button or a pop-up
// picker, Return and Enter press it from now on; held keys press it once.
// FocusRing::track, FocusRing::strengthen and the pop-up picker call it.
void follow(QWidget *control);
} // namespace ReturnKey
