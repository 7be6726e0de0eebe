#include "url_opener.h"

#include <QDesktopServices>

namespace {

bool DesktopOpen(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

UrlOpener& Opener()
{
    static UrlOpener opener = DesktopOpen;
    return opener;
}

} // namespace

UrlOpener SetUrlOpener(UrlOpener opener)
{
    UrlOpener old = std::move(Opener());
    Opener() = opener ? std::move(opener) : UrlOpener(DesktopOpen);
    return old;
}

bool ShellOpen(const QUrl& url)
{
    return Opener()(url);
}
