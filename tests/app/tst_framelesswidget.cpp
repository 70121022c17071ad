// SPDX-License-Identifier: GPL-3.0-or-later
#include "framelesswidget.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

namespace {

// Sends a mouse event to widget with the cursor at a global position, as a press that Qt
// routes to the widget under the cursor would arrive (unhandled presses go to the parent).
void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &global, Qt::MouseButton button,
    Qt::MouseButtons buttons)
{
    QMouseEvent event(type, widget->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class tst_FramelessWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leftDragFollowsCursor_data();
    void leftDragFollowsCursor();
    void otherButtonsDoNotDrag_data();
    void otherButtonsDoNotDrag();
    void secondButtonEndsDrag();
    void pressOnButtonKeepsWindowInPlace();

private:
    FramelessWidget *m_window = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_button = nullptr;
};

void tst_FramelessWidget::init()
{
    m_window = new FramelessWidget;
    m_window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_window->resize(300, 200);
    m_label = new QLabel(QStringLiteral("surface text"), m_window);
    m_label->setGeometry(100, 50, 120, 30);
    m_button = new QPushButton(QStringLiteral("button"), m_window);
    m_button->setGeometry(20, 120, 100, 40);
    m_window->move(200, 150);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->pos(), QPoint(200, 150));
}

void tst_FramelessWidget::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void tst_FramelessWidget::leftDragFollowsCursor_data()
{
    QTest::addColumn<bool>("onLabel");
    QTest::addColumn<QPoint>("pressAt"); // window coordinates

    QTest::newRow("window surface") << false << QPoint(30, 40);
    QTest::newRow("top-left corner") << false << QPoint(0, 0);
    QTest::newRow("label that ignores the press") << true << QPoint(110, 60);
}

void tst_FramelessWidget::leftDragFollowsCursor()
{
    QFETCH(bool, onLabel);
    QFETCH(QPoint, pressAt);

    QWidget *target = onLabel ? static_cast<QWidget *>(m_label) : m_window;
    const QPoint start = m_window->mapToGlobal(pressAt);
    sendMouse(target, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);

    // The point that was under the cursor at the press stays under it, also moving left
    // and up and past the screen origin.
    const QList<QPoint> path
        = { start + QPoint(15, 7), start + QPoint(-180, -140), QPoint(-50, -30), QPoint(900, 700) };
    for (const QPoint &cursor : path) {
        sendMouse(m_window, QEvent::MouseMove, cursor, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_window->pos(), cursor - pressAt);
    }

    const QPoint restedAt = m_window->pos();
    sendMouse(m_window, QEvent::MouseButtonRelease, QPoint(900, 700), Qt::LeftButton, Qt::NoButton);
    // A move without a button after the release leaves the window where it is.
    sendMouse(m_window, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::NoButton);
    sendMouse(m_window, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), restedAt);
}

void tst_FramelessWidget::otherButtonsDoNotDrag_data()
{
    QTest::addColumn<int>("buttonValue");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
    QTest::newRow("back") << int(Qt::BackButton);
}

void tst_FramelessWidget::otherButtonsDoNotDrag()
{
    QFETCH(int, buttonValue);
    const auto button = Qt::MouseButton(buttonValue);

    const QPoint start = m_window->mapToGlobal(QPoint(50, 50));
    sendMouse(m_window, QEvent::MouseButtonPress, start, button, button);
    sendMouse(m_window, QEvent::MouseMove, start + QPoint(40, 40), Qt::NoButton, button);
    // Even a move that reports the left button alone does not move the window, since the
    // drag never started.
    sendMouse(m_window, QEvent::MouseMove, start + QPoint(80, 80), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(200, 150));
}

void tst_FramelessWidget::secondButtonEndsDrag()
{
    const QPoint start = m_window->mapToGlobal(QPoint(40, 40));
    sendMouse(m_window, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(m_window, QEvent::MouseMove, start + QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(210, 160));

    // Right button joins: no movement while both are held.
    const Qt::MouseButtons both = Qt::LeftButton | Qt::RightButton;
    sendMouse(m_window, QEvent::MouseButtonPress, start + QPoint(10, 10), Qt::RightButton, both);
    sendMouse(m_window, QEvent::MouseMove, start + QPoint(60, 60), Qt::NoButton, both);
    QCOMPARE(m_window->pos(), QPoint(210, 160));

    // Releasing the right button ends the drag although the left one is still down.
    sendMouse(m_window, QEvent::MouseButtonRelease, start + QPoint(60, 60), Qt::RightButton,
        Qt::LeftButton);
    sendMouse(m_window, QEvent::MouseMove, start + QPoint(90, 90), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(210, 160));

    // A new left press starts over from the new point under the cursor.
    sendMouse(
        m_window, QEvent::MouseButtonRelease, start + QPoint(90, 90), Qt::LeftButton, Qt::NoButton);
    const QPoint again = m_window->mapToGlobal(QPoint(5, 5));
    sendMouse(m_window, QEvent::MouseButtonPress, again, Qt::LeftButton, Qt::LeftButton);
    sendMouse(m_window, QEvent::MouseMove, again + QPoint(-20, 30), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(190, 190));
}

void tst_FramelessWidget::pressOnButtonKeepsWindowInPlace()
{
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    const QPoint onButton = m_button->mapToGlobal(QPoint(10, 10));
    sendMouse(m_button, QEvent::MouseButtonPress, onButton, Qt::LeftButton, Qt::LeftButton);
    // The button keeps the moves of its own press, and the window has no drag to follow.
    sendMouse(m_button, QEvent::MouseMove, onButton + QPoint(20, 5), Qt::NoButton, Qt::LeftButton);
    sendMouse(m_window, QEvent::MouseMove, onButton + QPoint(60, 60), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(200, 150));
    sendMouse(m_button, QEvent::MouseButtonRelease, onButton, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(m_window->pos(), QPoint(200, 150));
}

QTEST_MAIN(tst_FramelessWidget)
#include "tst_framelesswidget.moc"
