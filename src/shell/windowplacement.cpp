#include "shell/windowplacement.h"

#include <QWidget>

void showStayOnTop(QWidget* window, const QWidget* centreOver) {
    if (!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        window->setWindowFlag(Qt::WindowStaysOnTopHint, true); // hides the window; shown again below
    if (centreOver) {
        const QRect owner = centreOver->frameGeometry();
        window->move(owner.center() - window->rect().center());
    }
    window->showNormal();
    window->raise();
    window->activateWindow();
}
