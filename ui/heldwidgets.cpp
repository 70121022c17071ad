// SPDX-License-Identifier: GPL-3.0-or-later
#include "heldwidgets.h"

#include <QStackedWidget>

HeldWidgets::~HeldWidgets()
{
    for (const Page &held : m_pages)
        delete held.page;
    for (QWidget *owned : m_windows)
        delete owned;
}

void HeldWidgets::recordTabOrder()
{
    if (!m_tabOrder.isEmpty())
        return;
    for (QWidget *next = m_window->nextInFocusChain(); next && next != m_window;
         next = next->nextInFocusChain())
        m_tabOrder.append(next);
}

namespace {

// A widget polished by a style sheet keeps the font it had then, wherever the rules give no
// font of their own, whatever the application font becomes later. A held widget is polished
// later: it keeps the one it has when taken, as it would have in the window.
void keepFont(QWidget *widget)
{
    QFont font = widget->font();
    font.setFamily(font.family());
    if (font.pixelSize() > 0)
        font.setPixelSize(font.pixelSize());
    else
        font.setPointSizeF(font.pointSizeF());
    font.setWeight(font.weight());
    font.setStyle(font.style());
    widget->setFont(font);
}

} // namespace

void HeldWidgets::holdPage(QStackedWidget *stack, QWidget *page)
{
    recordTabOrder();
    keepFont(page);
    m_pages.push_back({ stack, page, stack->indexOf(page) });
    stack->removeWidget(page);
    page->setParent(nullptr);
}

void HeldWidgets::holdWindow(QWidget *owned)
{
    keepFont(owned);
    owned->setParent(nullptr, owned->windowFlags());
    m_windows.push_back(owned);
}

void HeldWidgets::release()
{
    // Last taken first back, so that each page finds the index it had.
    for (auto held = m_pages.rbegin(); held != m_pages.rend(); ++held)
        held->stack->insertWidget(held->index, held->page);
    m_pages.clear();
    for (QWidget *owned : m_windows)
        owned->setParent(m_window, owned->windowFlags());
    m_windows.clear();
    // A widget put back joins the end of the window's focus chain: each one that takes the
    // focus goes back after the one it followed (the others are no Tab stops).
    QWidget *previous = nullptr;
    for (const QPointer<QWidget> &next : qAsConst(m_tabOrder)) {
        if (!next || next->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
    m_tabOrder.clear();
}
