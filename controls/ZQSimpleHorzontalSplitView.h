// Stacks its subviews from top to bottom with fixed gaps between them, each
// as wide as the split view, all the same height.
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <vector>

class ZQSimpleHorzontalSplitView : public QWidget {
public:
    explicit ZQSimpleHorzontalSplitView(QWidget* parent);

    std::uint8_t dividerThickness() const { return dividerThickness_; }
    // At most 8; a change lays the subviews out again.
    void setDividerThickness(std::uint8_t thickness);
    bool drawsDivider() const { return drawsDivider_; }
    void setDrawsDivider(bool draws);
    QColor dividerColor() const { return dividerColor_; }
    // An invalid colour means the shared dark grey.
    void setDividerColor(const QColor& colour);
    // Adds `view` (made a child here) above the other subviews.
    void addSubview(QWidget* view);
    // The subviews still alive, in the order they were added.
    std::vector<QWidget*> subviews() const;
    void resizeSubviews();
    bool isOpaque() const;

protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    std::uint8_t dividerThickness_ = 1;
    QColor dividerColor_;
    bool drawsDivider_ = false;
    std::vector<QPointer<QWidget>> subviews_; // a deleted subview is passed over
};
