// Stacks its subviews from top to bottom with fixed gaps between them, each
// as wide as the split view, all the same height. With a minimum height set,
// subviews never get shorter than it: when they do not all fit, they keep
// that height and scroll vertically (a scroller at the right edge, beside
// them, and scrollBy for the wheel).
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

class QScrollBar;
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

    // 0 (the default): every subview fits, however short.
    int minimumSubviewHeight() const { return minimumSubviewHeight_; }
    void setMinimumSubviewHeight(int height);
    // Whether the subviews are taller together than the split view.
    bool isScrolling() const { return scrolling_; }
    // How far the subviews are scrolled up, in pixels.
    int scrollOffset() const { return offset_; }
    void setScrollOffset(int offset);
    void scrollBy(int pixels) { setScrollOffset(offset_ + pixels); }
    // Shown only while scrolling.
    QScrollBar* verticalScroller() const { return scroller_; }
    static constexpr int kScrollerWidth = 12;

protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    std::uint8_t dividerThickness_ = 1;
    QColor dividerColor_;
    bool drawsDivider_ = false;
    std::vector<QPointer<QWidget>> subviews_; // a deleted subview is passed over
    int minimumSubviewHeight_ = 0;
    bool scrolling_ = false;
    int offset_ = 0;
    QScrollBar* scroller_ = nullptr;
};
