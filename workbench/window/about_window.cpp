#include "workbench/window/about_window.h"

#include <QLabel>
#include <QPalette>

About::About(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("About");
    setWindowTitle("About KORVANE");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(257, 273);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Active, QPalette::Window));
    setPalette(p);
    auto* label = new QLabel("KORVANE", this);
    label->setObjectName("label1");
    label->move(12, 9);
}
