// The "About KORVANE" window: a fresh one for every "&About..." click, shown without blocking.
#pragma once

#include <QWidget>

class About : public QWidget {
    Q_OBJECT
public:
    explicit About(QWidget* parent = nullptr);
};
