#include "ScanManBinding.h"

#include <QByteArray>

#include <vector>

QString ScanManErrorText(int code) {
    switch (code) {
    case SM_E_FAILED:
        return QStringLiteral("Failed");
    case SM_E_OUT_OF_MEMORY:
        return QStringLiteral("Out of memory");
    case SM_E_NOT_INITIALIZED:
        return QStringLiteral("Not initialized");
    case SM_E_ARGUMENT_NULL:
        return QStringLiteral("Argument null");
    case SM_E_INVALID_ARGUMENT:
        return QStringLiteral("Invalid argument");
    case SM_E_INVALID_PARAMETER:
        return QStringLiteral("Invalid parameter");
    case SM_E_PARAMETER_READ_ONLY:
        return QStringLiteral("Parameter is read only");
    case SM_E_NOT_CAPTURING:
        return QStringLiteral("Not capturing");
    case SM_E_ALREADY_CAPTURING:
        return QStringLiteral("Already capturing");
    default:
        return code < 0 ? QString::number(code) : QString();
    }
}

void CheckScanMan(int result) {
    if (result >= 0)
        return;
    const QString text = QStringLiteral("ScanMan error:\r\tCode = %1\r\tDescription = %2")
                             .arg(result)
                             .arg(ScanManErrorText(result));
    throw EScanMan(text.toStdString(), result);
}

int GetParameterType(const char* scanner, int parameter) {
    const int type =
        SMGetParameter(scanner, 0, reinterpret_cast<void*>(static_cast<intptr_t>(parameter)));
    CheckScanMan(type);
    return type;
}

int32_t GetIntParameter(const char* scanner, int parameter) {
    if (GetParameterType(scanner, parameter) != ScanManTypeInteger)
        throw EScanMan("ScanMan parameter is of wrong type");
    int32_t value = 0;
    CheckScanMan(SMGetParameter(scanner, parameter, &value));
    return value;
}

QString GetStringParameter(const char* scanner, int parameter) {
    if (GetParameterType(scanner, parameter) != ScanManTypeString)
        throw EScanMan("ScanMan parameter is of wrong type");
    const int n = SMGetParameter(scanner, parameter, nullptr);
    CheckScanMan(n);
    // n characters and the terminating zero; the text is cut at the first zero the library
    // leaves, so a library that writes less than it announced gives no stray bytes.
    std::vector<char> buffer(size_t(n) + 1, '\0');
    CheckScanMan(SMGetParameter(scanner, parameter, buffer.data()));
    buffer[size_t(n)] = '\0';
    return QString::fromLocal8Bit(buffer.data());
}

QString GetScannerId(int index) {
    const int size = SMGetScannerId(index, nullptr, 0);
    if (size >= 1) {
        std::vector<char> buffer(size_t(size), '\0');
        if (SMGetScannerId(index, buffer.data(), size) >= 0) {
            buffer[size_t(size) - 1] = '\0';
            return QString::fromLocal8Bit(buffer.data());
        }
    }
    throw EScanMan("Can not retrieve scanner id");
}

void GetScannerIds(QStringList& list) {
    list.clear();
    const int count = SMGetScannerCount();
    for (int i = 0; i < count; ++i) {
        try {
            list.append(GetScannerId(i));
        } catch (const EScanMan&) {
            // A scanner whose identifier cannot be read is skipped.
        }
    }
}

int StartCapturing(const QString& id, SMImageCallback imageCallback,
                   SMStatusCallback statusCallback) {
    const QByteArray bytes = id.toLocal8Bit();
    return SMStartCapturing(bytes.constData(), imageCallback, statusCallback, nullptr);
}

void StopCapturing() {
    SMStopCapturing(nullptr);
}
