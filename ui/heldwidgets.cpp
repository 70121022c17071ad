// SPDX-License-Identifier: GPL-3.0-or-later
#include "heldwidgets.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QStackedWidget>

#include <algorithm>
#include <functional>

HeldWidgets::~HeldWidgets()
{
    for (const Page &held : m_pages)
        delete held.page;
    for (QWidget *owned : m_windows)
        delete owned;
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

// Takes the named pages' style sheets before they join their stacks: a page is built without a
// parent, and styled, its pictures decoded, once it has one. The form sets a page's sheet
// before it builds the page's children, so the sheet is taken as the first child joins it.
class StyleSheetsAside : public QObject
{
public:
    StyleSheetsAside(const QStringList &pageNames, QHash<QString, QString> *sheets)
        : m_pageNames(pageNames), m_sheets(sheets)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ParentChange || !watched->isWidgetType())
            return false;
        QWidget *page = static_cast<QWidget *>(watched)->parentWidget();
        if (page && !page->parent() && m_pageNames.contains(page->objectName())
            && !page->styleSheet().isEmpty()) {
            m_sheets->insert(page->objectName(), page->styleSheet());
            page->setStyleSheet(QString());
        }
        return false;
    }

private:
    const QStringList m_pageNames;
    QHash<QString, QString> *const m_sheets;
};

// A shelved control that something shows goes back to its place and shows there: on the shelf
// it would stay out of sight.
class ShownOffShelf : public QObject
{
public:
    ShownOffShelf(QWidget *control, std::function<void()> putBack)
        : QObject(control), m_putBack(std::move(putBack))
    {
        control->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Called on the control, which outlives this filter: putting it back deletes it.
        if (event->type() == QEvent::ShowToParent)
            QMetaObject::invokeMethod(watched, m_putBack, Qt::QueuedConnection);
        return false;
    }

private:
    std::function<void()> m_putBack;
};

} // namespace

std::unique_ptr<QObject> HeldWidgets::keepStyleSheetsAside(const QStringList &pageNames)
{
    return std::make_unique<StyleSheetsAside>(pageNames, &m_sheetsAside);
}

void HeldWidgets::holdPage(QStackedWidget *stack, QWidget *page)
{
    if (m_tabOrder.isEmpty()) {
        for (QWidget *next = m_window->nextInFocusChain(); next && next != m_window;
             next = next->nextInFocusChain())
            m_tabOrder.append(next);
    }
    QList<QWidget *> order;
    const auto sameStack = [stack](const Page &held) {
        return held.stack == stack;
    };
    const auto earlier = std::find_if(m_pages.begin(), m_pages.end(), sameStack);
    if (earlier != m_pages.end()) {
        order = earlier->order;
    } else {
        for (int i = 0; i < stack->count(); ++i)
            order.append(stack->widget(i));
    }
    keepFont(page);
    // Held, a page goes without its own style sheet; put back, it takes it again.
    QString styleSheet = m_sheetsAside.take(page->objectName());
    if (styleSheet.isEmpty()) {
        styleSheet = page->styleSheet();
        page->setStyleSheet(QString());
    }
    m_pages.push_back({ stack, page, order, styleSheet });
    stack->removeWidget(page);
    page->setParent(nullptr);
}

void HeldWidgets::holdWindow(QWidget *owned)
{
    keepFont(owned);
    owned->setParent(nullptr, owned->windowFlags());
    m_windows.push_back(owned);
}

void HeldWidgets::holdHidden(QWidget *control)
{
    QBoxLayout *layout = nullptr;
    const auto layouts = control->parentWidget()->findChildren<QBoxLayout *>();
    for (QBoxLayout *candidate : layouts) {
        if (candidate->indexOf(control) >= 0)
            layout = candidate;
    }
    if (!layout)
        return;
    if (!m_shelf)
        m_shelf = std::make_unique<QWidget>();
    const int index = layout->indexOf(control);
    QLayoutItem *previous = index > 0 ? layout->itemAt(index - 1) : nullptr;
    layout->removeWidget(control);
    control->setParent(m_shelf.get());
    QObject *guard = new ShownOffShelf(control, [this, control] {
        if (release(control))
            control->show();
    });
    m_shelved.push_back({ control, layout, previous, guard });
}

bool HeldWidgets::release(QWidget *widget)
{
    const auto shelved = std::find_if(m_shelved.begin(), m_shelved.end(),
        [widget](const Shelved &held) { return held.control == widget; });
    if (shelved != m_shelved.end()) {
        const Shelved held = *shelved;
        m_shelved.erase(shelved);
        delete held.guard;
        // After the item it followed, wherever that is now (at the end if it has gone).
        int index = 0;
        if (held.previous) {
            for (index = held.layout->count(); index > 0; --index) {
                if (held.layout->itemAt(index - 1) == held.previous)
                    break;
            }
            if (index == 0)
                index = held.layout->count();
        }
        held.layout->insertWidget(index, widget);
        restoreTabOrder();
        return true;
    }
    const auto owned = std::find(m_windows.begin(), m_windows.end(), widget);
    if (owned != m_windows.end()) {
        m_windows.erase(owned);
        widget->setParent(m_window, widget->windowFlags());
        return true;
    }
    const auto held = std::find_if(
        m_pages.begin(), m_pages.end(), [widget](const Page &page) { return page.page == widget; });
    if (held == m_pages.end())
        return false;
    // Its index: the pages that came before it and are in the stack now.
    QStackedWidget *stack = held->stack;
    const QList<QWidget *> before = held->order.mid(0, held->order.indexOf(widget));
    const int index = int(std::count_if(before.begin(), before.end(),
        [stack](QWidget *page) { return stack->indexOf(page) >= 0; }));
    if (!held->styleSheet.isEmpty())
        widget->setStyleSheet(held->styleSheet);
    m_pages.erase(held);
    stack->insertWidget(index, widget);
    restoreTabOrder();
    return true;
}

// A page put back joins the end of the window's focus chain: each widget in the window that
// takes the focus goes back after the one it followed (the others are no Tab stops).
void HeldWidgets::restoreTabOrder()
{
    QWidget *previous = nullptr;
    for (const QPointer<QWidget> &next : qAsConst(m_tabOrder)) {
        if (!next || next->focusPolicy() == Qt::NoFocus || next->window() != m_window)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
}
