// SPDX-License-Identifier: GPL-3.0-or-later
#include "framelesswidget.h"

#include <QMouseEvent>

namespace {

// Qt 6 gives mouse positions as floating-point points; Qt 5.15 has no such accessors.
QPoint localPos(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position().toPoint();
#else
    return event->pos();
#endif
}

QPoint globalPos(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->globalPosition().toPoint();
#else
    return event->globalPos();
#endif
}

} // namespace

FramelessWidget::FramelessWidget(QWidget *parent) : QWidget(parent) { }

void FramelessWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = localPos(event);
        m_dragging = true;
    }
}

void FramelessWidget::mouseMoveEvent(QMouseEvent *event)
{
    // Another button held together with the left one pauses the drag.
    if (event->buttons() == Qt::LeftButton && m_dragging)
        move(globalPos(event) - m_dragOffset);
}

void FramelessWidget::mouseReleaseEvent(QMouseEvent *)
{
    // Any release ends the drag, even while the left button is still down.
    m_dragging = false;
}
