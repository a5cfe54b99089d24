#pragma once
// Shared libraries loaded by name at run time. A missing library is not an error: Load simply
// reports false and raises no dialog. A loaded library is released when the Library object is
// destroyed, so a binding kept in a static object releases its library at program exit.
// Libraries are taken from the program folder only, by full path: never from the working
// folder (Yemario runs in its caller's folder, TrazelIB in the data folder) and never through
// the loader's search, so a file planted elsewhere is never run.
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

    // Loads the library file of the program folder when it is there and a whole shared
    // object of this machine (IsWholeSharedObject). True when it is loaded; repeated calls are
    // cheap.
    bool Load();
    // True when the last Load found a file that is not a whole shared object and left it
    // alone (a fetch that was cut short, a copy that failed half-way).
    bool Refused() const { return FRefused; }
    // The file Load takes the library from: <program folder>/lib<base name>.so.
    QString Path() const;
    bool IsLoaded() const { return FLib.isLoaded(); }
    // The address of an entry point, or nullptr.
    QFunctionPointer Resolve(const char* symbol);
    void Unload();
    // The file that was loaded (empty when none).
    QString FileName() const { return IsLoaded() ? FLib.fileName() : QString(); }

  private:
    QString FBaseName;
    QLibrary FLib;
    bool FRefused = false;
};

// True when the file is a whole shared object of this machine: its ELF headers, program
// headers and loadable segments all lie inside the file. Mapping a library cut short would
// kill the program with SIGBUS at the first touch of a missing page.
bool IsWholeSharedObject(const QString& path);
// The same check on bytes in memory (a fetched body before it is put in place).
bool IsWholeSharedObject(const QByteArray& bytes);

} // namespace platform
