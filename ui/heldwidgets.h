// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class QBoxLayout;
class QLayoutItem;
class QStackedWidget;

// Widgets a window does not show at first, kept out of it until they are first shown. A window
// polishes every widget it holds before it is mapped, shown or not, and decodes each picture
// their style names (for states not shown too); a held widget is polished, and its pictures
// decoded, only once it is put back. Put back, it takes its place again, in the window's Tab
// order too.
class HeldWidgets
{
public:
    explicit HeldWidgets(QWidget *window) : m_window(window) { }
    // Deletes what is still held: nothing else owns it.
    ~HeldWidgets();

    HeldWidgets(const HeldWidgets &) = delete;
    HeldWidgets &operator=(const HeldWidgets &) = delete;

    // While the returned object lives (the window's form being built), the named pages join
    // their stacks without their own style sheets, which would style them, and decode their
    // pictures, as they join. Each sheet waits for its page to be held, and then put back.
    std::unique_ptr<QObject> keepStyleSheetsAside(const QStringList &pageNames);
    // A page of a stack in the window, not the current one.
    void holdPage(QStackedWidget *stack, QWidget *page);
    // A window of its own (a dialog) that the window owns.
    void holdWindow(QWidget *owned);
    // A hidden control in a box layout, kept hidden: it waits on a shelf (a widget never shown)
    // so that polishing its page passes it by. Shown, it goes back to its place, and shows
    // there once the event loop runs.
    void holdHidden(QWidget *control);
    // Puts the widget back if it is held; true when it was.
    bool release(QWidget *widget);

private:
    void restoreTabOrder();

    struct Page
    {
        QStackedWidget *stack;
        QWidget *page;
        // The stack's pages as the form ordered them, this one and those held too.
        QList<QWidget *> order;
        // Its own style sheet, which it goes without while held.
        QString styleSheet;
    };
    struct Shelved
    {
        QWidget *control;
        QBoxLayout *layout;
        // The item it followed (none when it came first): the layout may gain items meanwhile.
        QLayoutItem *previous;
        // Puts it back when it is shown.
        QObject *guard;
    };
    QWidget *const m_window;
    // Style sheets of pages built without them, by the pages' names.
    QHash<QString, QString> m_sheetsAside;
    std::vector<Page> m_pages;
    std::vector<QWidget *> m_windows;
    std::vector<Shelved> m_shelved;
    // Owns the shelved controls.
    std::unique_ptr<QWidget> m_shelf;
    // The window's focus chain as it was before anything was taken out of it.
    QList<QPointer<QWidget>> m_tabOrder;
};
