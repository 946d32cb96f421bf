#pragma once

class QWidget;

// Shows a secondary window as a stay-on-top window without blocking its owner, and brings it forward; there is
// only ever the one instance. With centreOver, the window is first centred over that widget.
void showStayOnTop(QWidget* window, const QWidget* centreOver);
