#pragma once
// Hands a mail or web address to the desktop's program for it (mail program, browser),
// as the shell's "open" did. Every such hand-over goes through here, so that tests can
// record the addresses instead of starting a browser.

#include <QUrl>

#include <functional>

using UrlOpener = std::function<bool(const QUrl& url)>;

// Installs an opener (an empty one restores the desktop's); returns the old one.
UrlOpener SetUrlOpener(UrlOpener opener);

// Opens `url`; false when the desktop has no program for it. Nobody is told either way.
bool ShellOpen(const QUrl& url);
