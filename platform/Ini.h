#pragma once
// Settings files in the classic INI layout ("[Section]" lines, "Key=Value" lines), with the
// semantics operators' tools expect of them: section and key names compare without regard to
// letter case, a missing or non-numeric value reads as the caller's default, any non-zero
// integer reads as true, and a write creates the file and the section when they are missing.
// Each call opens, reads or writes, and closes the file.
#include <QString>

namespace platform {

class IniFile {
  public:
    explicit IniFile(QString path) : FPath(std::move(path)) {}
    const QString& Path() const { return FPath; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Each write replaces the key in place (or appends it to its section) and stores the whole
    // file under a temporary name that is renamed into place, so a failed write never leaves a
    // half-written settings file. Raises "Unable to write to <full path>" when it cannot write.
    void WriteString(const QString& section, const QString& key, const QString& value) const;
    void WriteInteger(const QString& section, const QString& key, int value) const;
    void WriteBool(const QString& section, const QString& key, bool value) const;

  private:
    QString FPath;
};

// Parses a whole decimal integer (optional sign, surrounding blanks allowed), optionally
// followed by a comment that starts with ';' or '#'. Returns false for anything else,
// including values outside the 32-bit range.
bool ParseIniInteger(const QString& text, int& value);

} // namespace platform
