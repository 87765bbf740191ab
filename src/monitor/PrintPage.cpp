#include "monitor/PrintPage.h"

#include "common/Twips.h"

namespace monitor {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kPictureLeftTwips = 550.0;
constexpr double kPictureTopTwips = 20.0;
} // namespace

QRectF pictureOnPage(QSizeF pictureLogicalPixels, double printerDpiX, double printerDpiY) {
    const double inchesPerPixel = common::kTwipsPerPixel / kTwipsPerInch;
    return {kPictureLeftTwips / kTwipsPerInch * printerDpiX,
            kPictureTopTwips / kTwipsPerInch * printerDpiY,
            pictureLogicalPixels.width() * inchesPerPixel * printerDpiX,
            pictureLogicalPixels.height() * inchesPerPixel * printerDpiY};
}

} // namespace monitor
