// Placeholder page until its form lands.
#include "devicesetting_3_window.h"

DeviceSetting_3_Window::DeviceSetting_3_Window(QWidget *parent) : QDialog(parent), ui(nullptr) {}
DeviceSetting_3_Window::~DeviceSetting_3_Window() = default;
void DeviceSetting_3_Window::refresh() {}
