#include "reg_text_format.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

namespace hl {
namespace {

constexpr char kRootName[] = "HKEY_CURRENT_USER";
constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kOldHeader[] = "REGEDIT4";

bool SameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

QString Decode(const QByteArray& bytes, bool& understood)
{
    // The registry editor exports UTF-16 with a byte-order mark; this program writes UTF-8.
    const bool utf16 = bytes.startsWith("\xff\xfe");
    QStringDecoder decoder(utf16 ? QStringDecoder::Utf16LE : QStringDecoder::Utf8);
    QByteArrayView view(bytes);
    if (utf16)
        view = view.sliced(2);
    else if (view.startsWith("\xef\xbb\xbf"))
        view = view.sliced(3);
    QString text = decoder(view);
    // The UTF-16 decoder passes an unpaired surrogate through without an error; the text did
    // not decode cleanly all the same.
    if (decoder.hasError() || !text.isValidUtf16())
        understood = false;
    return text;
}

// A section line names a key below HKEY_CURRENT_USER; nothing for any other line.
std::optional<QStringList> ParseSectionLine(QStringView line)
{
    if (!line.startsWith(u'[') || !line.endsWith(u']'))
        return std::nullopt;
    const QStringView inner = line.mid(1, line.size() - 2);
    const qsizetype rootLength = qsizetype(sizeof kRootName) - 1;
    if (!inner.startsWith(QLatin1String(kRootName), Qt::CaseInsensitive) || inner.size() <= rootLength
        || inner[rootLength] != u'\\')
        return std::nullopt;
    return SplitKeyPath(inner.mid(rootLength + 1).toString());
}

// A quoted name (\\ and \" its only escapes) or @ for the key's default value, then a dword
// of exactly eight digits, or bytes of exactly two digits each (anything shorter is more
// likely a cut-off line than a deliberate value) with the type in brackets unless it is
// binary. Strings, deletions ("=-") and anything else this program never writes are not
// understood.
std::optional<RegKey::Named> ParseValueLine(const QString& line)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(
            QStringLiteral(R"re((?:@|"([^"\\]*+(?:\\["\\][^"\\]*+)*+)")\s*=\s*(?:dword:([0-9a-f]{8}))re"
                           R"re(|hex(?:\(([0-9a-f]{1,8})\))?:\s*((?:[0-9a-f]{2}(?:\s*,\s*[0-9a-f]{2})*+)?)))re")),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression escape(QStringLiteral(R"(\\(.))"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    RegKey::Named out { match.captured(1).replace(escape, QStringLiteral("\\1")), {} };
    if (!CanBeWritten(out.name))
        return std::nullopt;
    if (match.hasCaptured(2)) {
        out.value.type = kRegDword;
        out.value.data.resize(4);
        qToLittleEndian(match.capturedView(2).toUInt(nullptr, 16), out.value.data.data());
    } else {
        out.value.type = match.hasCaptured(3) ? match.capturedView(3).toUInt(nullptr, 16) : kRegBinary;
        out.value.data = QByteArray::fromHex(match.capturedView(4).toLatin1());
    }
    return out;
}

QString QuoteName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("@");
    QString quoted = name;
    quoted.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
    return u'"' + quoted + u'"';
}

QString FormatValue(const RegValue& value)
{
    if (value.type == kRegDword && value.data.size() == 4) {
        const auto number = qFromLittleEndian<std::uint32_t>(value.data.constData());
        return QStringLiteral("dword:%1").arg(number, 8, 16, QLatin1Char('0'));
    }
    QString text
        = value.type == kRegBinary ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(value.type, 0, 16);
    return text + QString::fromLatin1(value.data.toHex(','));
}

// Parents before children, siblings in alphabetical order.
bool PathLess(const RegKey* a, const RegKey* b)
{
    const QStringList left = a->path.split(u'\\');
    const QStringList right = b->path.split(u'\\');
    for (qsizetype i = 0; i < std::min(left.size(), right.size()); ++i) {
        if (const int order = QString::compare(left[i], right[i], Qt::CaseInsensitive))
            return order < 0;
    }
    return left.size() < right.size();
}

} // namespace

const RegValue* RegKey::Find(const QString& name) const
{
    for (const Named& named : values) {
        if (SameName(named.name, name))
            return &named.value;
    }
    return nullptr;
}

bool RegKey::Set(const QString& name, const RegValue& value)
{
    for (Named& named : values) {
        if (SameName(named.name, name)) { // the name keeps its first spelling
            if (named.value.type == value.type && named.value.data == value.data)
                return false;
            named.value = value;
            return true;
        }
    }
    values.push_back({ name, value });
    return true;
}

const RegKey* RegHive::Find(const QString& path) const
{
    for (const RegKey& key : keys) {
        if (SameName(key.path, path))
            return &key;
    }
    return nullptr;
}

RegKey& RegHive::Ensure(const QStringList& segments)
{
    RegKey* key = nullptr;
    for (const QString& segment : segments) {
        const QString wanted = key ? key->path + u'\\' + segment : segment;
        const auto found
            = std::find_if(keys.begin(), keys.end(), [&](const RegKey& k) { return SameName(k.path, wanted); });
        key = found != keys.end() ? &*found : &keys.emplace_back(RegKey { wanted, {} });
    }
    return *key;
}

bool CanBeWritten(QStringView text)
{
    return text.isValidUtf16()
        && std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

std::optional<QStringList> SplitKeyPath(const QString& keyPath)
{
    QStringList segments = keyPath.split(u'\\', Qt::SkipEmptyParts);
    if (segments.isEmpty() || !CanBeWritten(keyPath))
        return std::nullopt;
    return segments;
}

RegHive ParseRegText(const QByteArray& bytes)
{
    RegHive hive;
    const QString text = Decode(bytes, hive.fullyUnderstood);
    QList<QStringView> lines = QStringView(text).split(u'\n');
    // Every line this program writes ends with a newline; a last line without one is what is
    // left of a cut-off file, and may hold half a value.
    if (!lines.constLast().trimmed().isEmpty())
        hive.fullyUnderstood = false;
    lines.removeLast();

    RegKey* current = nullptr;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i].trimmed().toString();
        if (line.isEmpty() || line.startsWith(u';') || line == QLatin1String(kHeader)
            || line == QLatin1String(kOldHeader))
            continue;
        if (line.startsWith(u'[')) {
            const std::optional<QStringList> segments = ParseSectionLine(line);
            current = segments ? &hive.Ensure(*segments) : nullptr;
            if (!segments)
                hive.fullyUnderstood = false;
            continue;
        }
        // Long binary values may be wrapped, each line but the last ending in a backslash.
        if (line.startsWith(u'"') || line.startsWith(u'@')) {
            while (line.endsWith(u'\\') && i + 1 < lines.size()) {
                line.chop(1);
                line += lines[++i].trimmed();
            }
        }
        const std::optional<RegKey::Named> parsed = ParseValueLine(line);
        if (current && parsed)
            current->Set(parsed->name, parsed->value); // a later line for the name wins
        else
            hive.fullyUnderstood = false;
    }
    return hive;
}

QByteArray WriteRegText(const RegHive& hive)
{
    std::vector<const RegKey*> keys;
    for (const RegKey& key : hive.keys)
        keys.push_back(&key);
    std::sort(keys.begin(), keys.end(), PathLess);

    QString text = QLatin1String(kHeader) + u'\n';
    for (const RegKey* key : keys) {
        text += QLatin1String("\n[") + QLatin1String(kRootName) + u'\\' + key->path + QLatin1String("]\n");
        for (const RegKey::Named& named : key->values)
            text += QuoteName(named.name) + u'=' + FormatValue(named.value) + u'\n';
    }
    return text.toUtf8();
}

} // namespace hl
