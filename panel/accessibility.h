#pragma once

#include <cstddef>
#include <string>

class QAccessibleEvent;
class QWidget;

namespace panel {

class PanelLabel;

// Assistive technology (a screen reader, UI automation) reads the window through Qt's
// accessibility interfaces. The window and the panel's own widgets get theirs here: the window
// is a window named by its caption, a PanelLabel static text whose name is its text, a
// PanelFrame a grouping named by its title label or by accessibleTextRows(), which also gives
// the other controls their descriptions.

// Installs the interfaces of the panel's window and widgets, once per process. Qt keeps the
// interface it first makes for an object, so this comes before the window is made: Form1 calls
// it first thing.
void installAccessibility();

// Whether assistive technology is active (QAccessible's activation, as its observers are
// told) or announcements are recorded. Nothing is announced otherwise.
bool accessibilityActive();

// Announcements go to QAccessible::updateAccessibility, which hands them to the platform's
// bridge while assistive technology is active. A test, whose offscreen platform has no bridge
// to become active, has them handed to `recorder` instead; nullptr ends that.
void recordAnnouncements(void (*recorder)(QAccessibleEvent* event));

// Gives the controls on `form` the names and descriptions of accessibleTextRows(): at once
// while assistive technology is active, otherwise when it becomes active, so that a start
// without it pays nothing for them.
void describeControls(QWidget& form);

// A label's changes, for accessibilityActive() only: its text replaced (`old` is what it
// was), or grown by appendText from `position` on. They are announced once per pass of the
// event loop, after the handler that made them, as their net change since the label last
// told; text that was only appended is announced as the piece it added, so that a reply
// arriving in pieces costs no more than its bytes. A `held` change waits to be announced
// until a later change that is not held, or announceHeld().
void announceReplaced(PanelLabel& label, std::string&& old, bool held);
void announceAppended(PanelLabel& label, std::size_t position, bool held);
void announceHeld(PanelLabel& label);

}  // namespace panel
