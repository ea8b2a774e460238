#include "VideoWidget.h"

#include <QKeyEvent>

namespace NEVER_USE_ME {

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {}

MainWindow::~MainWindow() = default;

void MainWindow::keyPressEvent(QKeyEvent* pEvent) {
    // Escape leaves full screen (with the video events); no key reaches the
    // base class.
    pEvent->accept();
}

}  // namespace NEVER_USE_ME
