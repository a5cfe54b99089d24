// The program's binding of the ScanMan library: error codes and texts, typed access to the
// library's parameters and the list of attached scanners.
#pragma once

#include <ScanMan.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <string>

// An error raised by the binding. code is the library's result for errors that came from
// one, 0 for the binding's own ("ScanMan parameter is of wrong type", "Can not retrieve
// scanner id").
class EScanMan : public std::runtime_error {
  public:
    explicit EScanMan(const std::string& text, int code = 0)
        : std::runtime_error(text), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// Parameter type codes.
constexpr int ScanManTypeInteger = 5;
constexpr int ScanManTypeString = 100;

// Text of a library result: the table's text for known codes, the decimal value for other
// negative codes, empty for zero or positive values.
QString ScanManErrorText(int code);
// Raises EScanMan for a negative result, with the text
// "ScanMan error:\r\tCode = <code>\r\tDescription = <ScanManErrorText>".
void CheckScanMan(int result);

int GetParameterType(const char* scanner, int parameter);
int32_t GetIntParameter(const char* scanner, int parameter);
QString GetStringParameter(const char* scanner, int parameter);

// Identifier of the scanner at index; raises "Can not retrieve scanner id".
QString GetScannerId(int index);
// Empties list and fills it with the identifiers of the attached scanners, skipping those
// whose identifier cannot be retrieved; a negative count counts as none.
void GetScannerIds(QStringList& list);

int StartCapturing(const QString& id, SMImageCallback imageCallback,
                   SMStatusCallback statusCallback);
void StopCapturing();
