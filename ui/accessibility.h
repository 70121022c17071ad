// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Keyboard and screen-reader helpers shared by the window and its dialogs.
namespace Accessibility {

// Lets Enter and Return press every button below root that has the focus, as Space does.
void pressButtonsWithEnter(QWidget *root);

// The name that screen readers speak for widget, also shown as its tool tip (for buttons
// that show only a picture).
void setNameAndToolTip(QWidget *widget, const QString &name);

// Runs changed whenever widget is enabled or disabled.
void whenEnabledChanges(QWidget *widget, std::function<void()> changed);

} // namespace Accessibility
