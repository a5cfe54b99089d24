#include "Ini.h"

#include "Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

namespace platform {
namespace {

// Latin-1 keeps every byte of a file written by older tools as it was.
QStringList ReadLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    QStringList lines = QString::fromLatin1(data).split('\n');
    for (QString& l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool IsSectionLine(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith('[') || !t.endsWith(']'))
        return false;
    if (name)
        *name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

bool SplitKeyLine(const QString& line, QString* key, QString* value) {
    const int eq = line.indexOf('=');
    if (eq <= 0)
        return false;
    const QString t = line.trimmed();
    if (t.startsWith(';') || t.startsWith('#'))
        return false;
    *key = line.left(eq).trimmed();
    *value = line.mid(eq + 1).trimmed();
    return true;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

bool ParseIniInteger(const QString& text, int& value) {
    // A note after the number ("2 ; lector de la mesa 3") is a comment, as INI readers
    // commonly take it; anything else after the digits makes the value non-numeric.
    QString number = text;
    const qsizetype note = number.indexOf(QRegularExpression(QStringLiteral("[;#]")));
    if (note >= 0)
        number.truncate(note);
    bool ok = false;
    const int v = number.trimmed().toInt(&ok, 10);
    if (ok)
        value = v;
    return ok;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    bool inSection = false;
    for (const QString& line : ReadLines(FPath)) {
        QString name, k, v;
        if (IsSectionLine(line, &name)) {
            inSection = SameName(name, section);
        } else if (inSection && SplitKeyLine(line, &k, &v) && SameName(k, key)) {
            return v;
        }
    }
    return def;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    int v = def;
    if (!ParseIniInteger(ReadString(section, key, QString()), v))
        return def;
    return v;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) const {
    const QString failure =
        QStringLiteral("Unable to write to %1").arg(QFileInfo(FPath).absoluteFilePath());
    QFileInfo info(FPath);
    if (info.exists() && !info.isWritable())
        throw StationError(failure);

    QStringList lines = ReadLines(FPath);
    const QString entry = key + '=' + value;
    int sectionLine = -1, lastInSection = -1;
    bool done = false;
    for (int i = 0; i < lines.size() && !done; ++i) {
        QString name, k, v;
        if (IsSectionLine(lines[i], &name)) {
            if (sectionLine >= 0)
                break; // past the end of our section
            if (SameName(name, section))
                sectionLine = lastInSection = i;
        } else if (sectionLine >= 0) {
            if (!lines[i].trimmed().isEmpty())
                lastInSection = i;
            if (SplitKeyLine(lines[i], &k, &v) && SameName(k, key)) {
                lines[i] = entry;
                done = true;
            }
        }
    }
    if (!done) {
        if (sectionLine < 0) {
            lines << '[' + section + ']' << entry;
        } else {
            lines.insert(lastInSection + 1, entry);
        }
    }

    QSaveFile out(FPath);
    if (!out.open(QIODevice::WriteOnly))
        throw StationError(failure);
    out.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    if (!out.commit())
        throw StationError(failure);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) const {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) const {
    WriteInteger(section, key, value ? 1 : 0);
}

} // namespace platform
