// A box of our own drawing: a rounded, filled rectangle with a line border,
// and a content view inside it (inset by the border and the content
// margins) that resizes with the box.
#pragma once

#include <QColor>
#include <QSizeF>
#include <QWidget>

class ZQRoundedBox : public QWidget {
public:
    explicit ZQRoundedBox(QWidget* parent);

    QWidget* contentView() const { return content_; }
    void setFillColor(const QColor& c);
    void setBorderColor(const QColor& c);
    void setBorderWidth(double w);
    void setCornerRadius(double r);
    // Horizontal and vertical distance between the border and the content view.
    void setContentViewMargins(const QSizeF& margins);
    QSizeF contentViewMargins() const { return margins_; }
    // Sizes the box (its bottom-left corner stays) to hold the content view's
    // children and the margins.
    void sizeToFit();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void placeContent();

    QWidget* content_;
    QColor fill_ = Qt::white, border_ = Qt::black;
    double borderWidth_ = 1.0, radius_ = 0.0;
    QSizeF margins_{0, 0};
};
