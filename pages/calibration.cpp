// Placeholder page until its form lands.
#include "calibration.h"

Calibration::Calibration(QWidget *parent) : QDialog(parent), ui(nullptr) {}
Calibration::~Calibration() = default;
void Calibration::updateFromParameters() {}
void Calibration::timerTick() {}
void Calibration::applyCalibration() {}
void Calibration::stopOutputTest() {}
