// Main-window slot of the gas configuration library.
// Placeholder body until the library dialog lands.
#include "mainwindow.h"

void MainWindow::on_action_config_triggered() {}
