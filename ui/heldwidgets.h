// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <vector>

class QStackedWidget;

// Widgets a window does not show at first, kept out of it until it has been painted. Before a
// window is mapped it polishes every widget it holds, shown or not, and decodes each picture
// their style names (for states not shown too); the widgets held here are polished after the
// first paint instead. Released, they take their places back, in the window's Tab order too.
class HeldWidgets
{
public:
    explicit HeldWidgets(QWidget *window) : m_window(window) { }
    // Deletes what is still held: nothing else owns it.
    ~HeldWidgets();

    HeldWidgets(const HeldWidgets &) = delete;
    HeldWidgets &operator=(const HeldWidgets &) = delete;

    // A page of a stack in the window, not the current one.
    void holdPage(QStackedWidget *stack, QWidget *page);
    // A window of its own (a dialog) that the window owns.
    void holdWindow(QWidget *owned);
    void release();
    bool isHolding() const { return !m_pages.empty() || !m_windows.empty(); }

private:
    void recordTabOrder();

    struct Page
    {
        QStackedWidget *stack;
        QWidget *page;
        int index;
    };
    QWidget *const m_window;
    std::vector<Page> m_pages;
    std::vector<QWidget *> m_windows;
    // The window's focus chain as it was before anything was taken out of it.
    QList<QPointer<QWidget>> m_tabOrder;
};
