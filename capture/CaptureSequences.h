#pragma once
// Capture sequences of the capture window: which sequences each scanner model offers, the
// steps of each sequence with their prompts, and the scanner LED pattern of a step.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// One step of a capture sequence.
struct CaptureInfo {
    QString Prompt;         // what the operator is to place on the scanner
    int ImageType = 0;      // 1 rolled single, 2 flat single, 3 flat two, 4 flat four fingers
    QString FingerPosition; // finger position name; selects the LED pattern
    bool operator==(const CaptureInfo&) const = default;
};

// The sequence list's placeholder (position 0).
inline const QString kSequencePlaceholder = QStringLiteral("- Please select -");

// Sequences a scanner model offers, in list order, without the placeholder. The model is the
// product name of the scanner's description, compared exactly; unknown models offer none.
QStringList SequencesForModel(const QString& productName);

// Steps of the named sequence; the single-finger prompts contain fingerName. An unknown name
// (the placeholder, or empty) gives no steps.
std::vector<CaptureInfo> StepsForSequence(const QString& sequenceName, const QString& fingerName);

// LED colour kinds of LedMask.
enum LedColour { kLedGreen = 0, kLedRed = 1, kLedBoth = 2 };

// The 32-bit LED mask for a step: blink bits (when asked for), the rolled-progress bit for
// rolled steps, and the group and finger bits of the step's finger position.
uint32_t LedMask(const CaptureInfo& step, int colourKind, bool blink);

// The suffix added to a prompt when the operator takes the image by hand. Its first four
// characters are a backslash, 'r', a backslash and 'n', shown as they stand (no line break).
inline const QString kManualCaptureSuffix =
    QStringLiteral("\\r\\nPress button \"Take Result Image\" when image is good!");
