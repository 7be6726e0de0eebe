// The link cursor: a 32 by 32 monochrome hand with the index finger pointing up, black
// outline on white and transparent around it, its hot spot on the tip of the finger. It
// is drawn here rather than taken from the desktop's cursor theme so that it looks the
// same, and points from the same pixel, on every desktop.
#include "cursor_table.h"
#include "about_resource.h"

#include <QBitmap>
#include <QImage>

#include <iterator>

namespace res {
namespace {

constexpr int kHotX = 8;
constexpr int kHotY = 2;

// 'X' black, 'o' white, anything else transparent. Rows not given are transparent.
constexpr const char* kLinkHand[] = {
    "",
    "",
    "        XX",
    "       XooX",
    "       XooX",
    "       XooX",
    "       XooX",
    "       XooXXX",
    "       XooXooXXX",
    "       XooXooXooXX",
    "       XooXooXooXoX",
    "    XX XooXooXooXoX",
    "   XooXXooooooooooX",
    "   XoooXooooooooooX",
    "    XooXooooooooooX",
    "    XoooooooooooooX",
    "     XooooooooooooX",
    "     XoooooooooooX",
    "      XooooooooooX",
    "      XooooooooooX",
    "       XooooooooX",
    "       XooooooooX",
    "       XXXXXXXXXX",
};

QCursor MakeLinkHand()
{
    // The classic monochrome pair: the bitmap gives black (1) or white (0) where the mask
    // is set; where the mask is clear the screen shows through.
    QImage bits(32, 32, QImage::Format_Mono);
    QImage mask(32, 32, QImage::Format_Mono);
    // Index 0 is "off" (white, clear) and 1 is "on" (black, set), as bitmaps count them.
    const QList<QRgb> offOn = { qRgb(255, 255, 255), qRgb(0, 0, 0) };
    bits.setColorTable(offOn);
    mask.setColorTable(offOn);
    bits.fill(0);
    mask.fill(0);
    for (int y = 0; y < static_cast<int>(std::size(kLinkHand)); ++y) {
        const char* row = kLinkHand[y];
        for (int x = 0; row[x] != '\0' && x < 32; ++x) {
            if (row[x] == 'X' || row[x] == 'o')
                mask.setPixel(x, y, 1);
            if (row[x] == 'X')
                bits.setPixel(x, y, 1);
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), kHotX, kHotY);
}

} // namespace

QCursor LoadCursor(int id)
{
    if (id != IDC_LINK_HAND)
        return QCursor(Qt::ArrowCursor);
    // Made anew for each caller: a cursor kept past the application object would hold
    // bitmaps that can no longer be freed.
    return MakeLinkHand();
}

} // namespace res
