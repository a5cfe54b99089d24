#pragma once
// Shared libraries loaded by name at run time. A missing library is not an error: Load simply
// reports false and raises no dialog. A loaded library is released when the Library object is
// destroyed, so a binding kept in a static object releases its library at program exit.
#include <QLibrary>
#include <QString>

namespace platform {

// The file name under which a library of that base name lies on this platform
// ("GBNFIQ" -> "libGBNFIQ.so").
QString LibraryFileName(const QString& baseName);

// "Assertion failure (<module>, line <n>)": the error a start-up binding raises when its library
// lacks an entry point; it stops the program's start-up.
QString AssertionText(const char* module, int line);

class Library {
  public:
    explicit Library(QString baseName);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Looks for the library in the program folder, then along the system's library search,
    // then in the working folder (where a fetched library lands when the program was not
    // started from its own folder). True when it is loaded; repeated calls are cheap.
    bool Load();
    bool IsLoaded() const { return FLib.isLoaded(); }
    // The address of an entry point, or nullptr.
    QFunctionPointer Resolve(const char* symbol);
    void Unload();
    // The file that was loaded (empty when none).
    QString FileName() const { return IsLoaded() ? FLib.fileName() : QString(); }

  private:
    QString FBaseName;
    QLibrary FLib;
};

} // namespace platform
