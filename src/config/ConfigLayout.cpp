#include "config/ConfigLayout.h"

namespace config {

namespace {
constexpr int kMargin = 120;
constexpr int kPageMargin = 180;
constexpr int kCaptionWidth = 1260;
constexpr int kFieldWidth = 2880;
constexpr int kEntryWidth = 3090;
constexpr int kButtonWidth = 690;
constexpr int kGap = 60;
constexpr int kColumnGap = 240;
constexpr int kRowHeight = 345;
constexpr int kRowPitch = 495;
constexpr int kColumnWidth =
    kCaptionWidth + kGap + kFieldWidth + kGap + kEntryWidth + kGap + kButtonWidth;
// Room for the tab bar and the frame of the tab box around a page.
constexpr int kTabBarHeight = 480;
constexpr int kTabFrame = 60;
constexpr int kReturnWidth = 1335;
constexpr int kReturnHeight = 405;
constexpr int kReturnGap = 150;
} // namespace

RowCells rowCells(int column, int row) {
    const int left = kPageMargin + column * (kColumnWidth + kColumnGap);
    const int top = kPageMargin + row * kRowPitch;
    const int fieldLeft = left + kCaptionWidth + kGap;
    const int entryLeft = fieldLeft + kFieldWidth + kGap;
    const int buttonLeft = entryLeft + kEntryWidth + kGap;
    return {QRect(left, top, kCaptionWidth, kRowHeight),
            QRect(fieldLeft, top, kFieldWidth, kRowHeight),
            QRect(entryLeft, top, kEntryWidth, kRowHeight),
            QRect(buttonLeft, top, kButtonWidth, kRowHeight)};
}

QRect pageContent() {
    const RowCells last = rowCells(kMostColumnsOnAPage - 1, kMostRowsOnAPage - 1);
    return {0, 0, last.button.right() + 1 + kPageMargin, last.button.bottom() + 1 + kPageMargin};
}

QRect tabBox() {
    const QRect page = pageContent();
    return {kMargin, kMargin, page.width() + 2 * kTabFrame,
            page.height() + kTabBarHeight + 2 * kTabFrame};
}

QRect returnButton() {
    const QRect box = tabBox();
    return {box.right() + 1 - kReturnWidth, box.bottom() + 1 + kReturnGap, kReturnWidth,
            kReturnHeight};
}

int windowWidth() { return tabBox().right() + 1 + kMargin; }

int windowHeight() { return returnButton().bottom() + 1 + kMargin; }

} // namespace config
