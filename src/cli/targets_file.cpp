#include "targets_file.h"

#include "host_argument.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr int kMaxLabelLength = 64;

// The line up to its comment, cut into words.
QStringList Words(const QString& line)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    QStringList words;
    for (const QString& word : line.split(blanks, Qt::SkipEmptyParts)) {
        if (word.startsWith(u'#'))
            break;
        words << word;
    }
    return words;
}

bool IsLabel(const QString& label)
{
    static const QRegularExpression allowed(QStringLiteral("\\A[A-Za-z0-9._-]{1,%1}\\z").arg(kMaxLabelLength));
    return allowed.match(label).hasMatch();
}

// The line where a target with this host or label came first, among those before it.
const WatchTarget* Earlier(const std::vector<WatchTarget>& targets, QString WatchTarget::*field, const QString& value)
{
    const auto it
        = std::find_if(targets.begin(), targets.end(), [&](const WatchTarget& t) { return t.*field == value; });
    return it == targets.end() ? nullptr : &*it;
}

QString Listed(const WatchTarget& earlier)
{
    return earlier.where.isEmpty() ? QStringLiteral("on the command line")
                                   : QStringLiteral("on line %1").arg(earlier.where.section(u':', -1));
}

} // namespace

bool ParseTargets(const QString& text, const QString& fileName, std::vector<WatchTarget>* targets, QString* error)
{
    std::vector<WatchTarget> found = *targets;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1); // a file written on Windows
        const QStringList words = Words(line);
        if (words.isEmpty())
            continue;
        WatchTarget target;
        target.where = QStringLiteral("%1:%2").arg(fileName).arg(i + 1);
        const auto fail = [&](const QString& what) {
            *error = target.where + QStringLiteral(": ") + what;
            return false;
        };
        if (words.front().startsWith(QStringLiteral("name=")))
            return fail(QStringLiteral("a host comes first, then name=LABEL"));
        target.host = HostFromArgument(words.front());
        for (const QString& word : words.mid(1)) {
            if (!word.startsWith(QStringLiteral("name=")))
                return fail(QStringLiteral("'%1' is not name=LABEL").arg(word));
            if (!target.name.isEmpty())
                return fail(QStringLiteral("name= given twice"));
            target.name = word.mid(5);
            if (!IsLabel(target.name))
                return fail(QStringLiteral("the label '%1' is not 1 to %2 letters, digits, '.', '_' or '-'")
                                .arg(target.name)
                                .arg(kMaxLabelLength));
        }
        if (const WatchTarget* earlier = Earlier(found, &WatchTarget::host, target.host))
            return fail(QStringLiteral("%1 is listed already %2").arg(target.host, Listed(*earlier)));
        if (const WatchTarget* earlier
            = target.name.isEmpty() ? nullptr : Earlier(found, &WatchTarget::name, target.name))
            return fail(QStringLiteral("the label %1 is given already %2").arg(target.name, Listed(*earlier)));
        found.push_back(target);
    }
    *targets = std::move(found);
    return true;
}

bool ReadTargetsFile(const QString& fileName, std::vector<WatchTarget>* targets, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(fileName, file.errorString());
        return false;
    }
    const size_t before = targets->size();
    if (!ParseTargets(QString::fromUtf8(file.readAll()), fileName, targets, error))
        return false;
    if (targets->size() == before) {
        *error = QStringLiteral("%1: lists no target").arg(fileName);
        return false;
    }
    return true;
}
