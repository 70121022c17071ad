// SPDX-License-Identifier: GPL-3.0-or-later
#include "accessibility.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace {

// Child of the button it serves, so that it goes with it.
class EnterPressesButton : public QObject
{
public:
    static constexpr const char *Name = "enterPressesButton";

    explicit EnterPressesButton(QAbstractButton *button) : QObject(button)
    {
        setObjectName(QLatin1String(Name));
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        Qt::KeyboardModifiers modifiers = key->modifiers();
        modifiers.setFlag(Qt::KeypadModifier, false);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || modifiers != Qt::NoModifier)
            return false;
        // A held key presses once, as Space does.
        if (!key->isAutoRepeat())
            static_cast<QAbstractButton *>(watched)->click();
        return true;
    }
};

class EnabledWatcher : public QObject
{
public:
    EnabledWatcher(QWidget *widget, std::function<void()> changed)
        : QObject(widget), m_changed(std::move(changed))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            m_changed();
        return false;
    }

private:
    std::function<void()> m_changed;
};

} // namespace

void Accessibility::pressButtonsWithEnter(QWidget *root)
{
    const auto buttons = root->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        // Once per button, also when a dialog and the window below it both ask.
        if (!button->findChild<QObject *>(
                QLatin1String(EnterPressesButton::Name), Qt::FindDirectChildrenOnly))
            new EnterPressesButton(button);
    }
}

void Accessibility::setNameAndToolTip(QWidget *widget, const QString &name)
{
    widget->setAccessibleName(name);
    widget->setToolTip(name);
}

void Accessibility::whenEnabledChanges(QWidget *widget, std::function<void()> changed)
{
    new EnabledWatcher(widget, std::move(changed));
}
