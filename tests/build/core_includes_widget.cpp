// Built only by a test that expects this file to fail to compile against the core library alone.
#include <QWidget>

int probe() { return sizeof(QWidget); }
