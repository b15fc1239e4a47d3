// The colour constructors the window's looks are given in.
#pragma once

#include <QColor>

namespace ZQ {

inline QColor calibratedWhite(double white, double alpha) {
    return QColor::fromRgbF(white, white, white, alpha);
}
inline QColor calibratedRGB(double r, double g, double b, double a) {
    return QColor::fromRgbF(r, g, b, a);
}
inline QColor darkGrayColour() {
    return calibratedWhite(1.0 / 3.0, 1.0);
}
inline QColor lightGrayColour() {
    return calibratedWhite(2.0 / 3.0, 1.0);
}

} // namespace ZQ
