// Capture sequences of the capture window: the sequence list, the step machine on
// UM_BUILD_STEPS / UM_NEXT_STEP, and the start and stop buttons.
#include "IntegratedBiometrics.h"

#include <IBScanUltimateApi.h>

#include <QThread>

void TFIntegratedBiometrics::RebuildSequenceList() {
    const bool remember = m_cboCaptureSeq->currentIndex() >= 0;
    const QString remembered = remember ? m_cboCaptureSeq->currentText() : QString();
    m_cboCaptureSeq->clear();
    m_cboCaptureSeq->addItem(kSequencePlaceholder);
    m_cboCaptureSeq->addItems(
        SequencesForModel(ScannerDescriptionModel(m_cboUsbDevices->currentIndex())));
    const auto find = [this](const QString& text) {
        for (int i = 0; i < m_cboCaptureSeq->count(); ++i)
            if (m_cboCaptureSeq->itemText(i).startsWith(text, Qt::CaseInsensitive))
                return i;
        return 0;
    };
    int selection = remember ? find(remembered) : 0;
    if (selection == 0 && !FSequenceBeforeLoss.isEmpty()) {
        // A scanner that was lost and is back: its sequence is chosen again.
        selection = find(FSequenceBeforeLoss);
        if (selection > 0)
            FSequenceBeforeLoss.clear();
    }
    m_cboCaptureSeq->setCurrentIndex(selection);
    Send(UM_UPDATE_CONTROLS);
}

void TFIntegratedBiometrics::UMBuildSteps() {
    if (FDeviceHandle == -1) {
        FStartPending = false;
        Send(UM_UPDATE_CONTROLS);
        return;
    }
    // Only the start that posted this message may build: a stop in between, or a second
    // message for the same start, finds nothing pending.
    if (!FStartPending || FStepIndex != -1)
        return;
    const QString name =
        m_cboCaptureSeq->currentIndex() >= 0 ? m_cboCaptureSeq->currentText() : QString();
    const std::vector<CaptureInfo> steps = StepsForSequence(name, FingerName());
    if (steps.empty()) {
        // No sequence chosen (the placeholder, or a position the list does not have): the
        // capture does not begin, and the operator is told why.
        FStartPending = false;
        ShowStatus(QStringLiteral("Por favor seleccione una secuencia de captura"));
        Send(UM_UPDATE_CONTROLS);
        return;
    }
    {
        std::lock_guard lock(FStateMutex);
        for (std::size_t i = 0; i < steps.size() && i < FSteps.size(); ++i)
            FSteps[i] = steps[i];
    }
    FStepCount = static_cast<int>(std::min(steps.size(), FSteps.size() - 1));
    Post(UM_NEXT_STEP);
}

void TFIntegratedBiometrics::UMNextStep() {
    const int h = FDeviceHandle;
    if (h == -1)
        return;
    if (FStepIndex == -1 && !FStartPending)
        return; // the start that led here was stopped meanwhile
    FStartPending = false;
    FBlinkPhase = false;
    for (auto& q : FFingerQuality)
        q = 0;
    const int index = FStepIndex + 1;
    if (index >= FStepCount) {
        {
            std::lock_guard lock(CallbackLock);
            IBSU_SetLEDs(h, IBSU_LED_NONE);
            FStepIndex = -1;
        }
        Send(UM_UPDATE_CONTROLS);
        m_btnCaptureStart->setFocus();
        return;
    }
    FStepIndex = index;
    m_txtNFIQScore->clear(); // the score shown belongs to the finger captured before

    IBSU_SetClientDisplayProperty(h, IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA,
                                  m_chkInvalidArea->isChecked() ? "TRUE" : "FALSE");
    if (m_chkDetectSmear->isChecked()) {
        IBSU_SetProperty(h, IBSU_PROPERTY_ENABLE_SMEAR, "1");
        const int level = m_cboSmearLevel->currentIndex();
        IBSU_SetProperty(h, IBSU_PROPERTY_SMEAR_LEVEL, level == 0 ? "0" : level == 1 ? "1" : "2");
    } else {
        IBSU_SetProperty(h, IBSU_PROPERTY_ENABLE_SMEAR, "0");
    }
    for (const auto& quad : FSegmentOverlays)
        IBSU_ModifyOverlayQuadrangle(h, quad, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    if (index > 0) {
        QThread::msleep(500);
        SetGuidance(QString());
    }

    const CaptureInfo s = Step(index);
    int available = 0;
    if (IBSU_IsCaptureAvailable(h, s.ImageType, IBSU_RESOLUTION_500, &available) !=
            IBSU_STATUS_OK ||
        !available) {
        ShowStatus(QStringLiteral("El modo de captura (%1) no está disponible").arg(s.ImageType));
        FStepIndex = -1;
        Send(UM_UPDATE_CONTROLS);
        return;
    }
    int options = 0;
    if (m_chkAutoContrast->isChecked())
        options |= IBSU_OPTION_AUTO_CONTRAST;
    if (m_chkAutoCapture->isChecked())
        options |= IBSU_OPTION_AUTO_CAPTURE;
    if (m_chkIgnoreFingerCount->isChecked())
        options |= IBSU_OPTION_IGNORE_FINGER_COUNT;
    {
        // Held from the capture's start to its prompt and LEDs, so that an event the new
        // capture raises at once (a platen alert, a finger count) lands after them instead of
        // being overwritten by them. No handler waits for this thread, so this cannot block
        // for longer than one handler runs.
        std::lock_guard lock(CallbackLock);
        if (IBSU_BeginCaptureImage(h, s.ImageType, IBSU_RESOLUTION_500, options) < 0) {
            ShowStatus(QStringLiteral("Failed to execute IBSU_BeginCaptureImage()"));
        } else {
            ShowStatus(s.Prompt);
            const QString text = PromptText(s);
            ShowGuidance(text);
            SetGuidance(text);
            IBSU_SetLEDs(h, LedMask(s, kLedRed, true));
        }
    }
    Send(UM_UPDATE_CONTROLS);
}

void TFIntegratedBiometrics::m_btnCaptureStartClick() {
    if (FOpening || m_cboUsbDevices->currentIndex() < 1)
        return;
    const int h = FDeviceHandle;
    if (FStepIndex == -1) {
        if (FStartPending)
            return; // this start is already on its way
        FStartPending = true;
        if (h == -1)
            OpenScanner();
        else
            Post(UM_BUILD_STEPS);
        Send(UM_UPDATE_CONTROLS);
        return;
    }
    int active = 0;
    if (IBSU_IsCaptureActive(h, &active) == IBSU_STATUS_OK && active)
        IBSU_TakeResultImageManually(h);
}

void TFIntegratedBiometrics::m_btnCaptureStopClick() {
    FStartPending = false;
    const int h = FDeviceHandle;
    if (h == -1)
        return;
    {
        // With the lock, a handler running now finishes first and later ones see no step.
        std::lock_guard lock(CallbackLock);
        IBSU_CancelCaptureImage(h);
        IBSU_SetLEDs(h, IBSU_LED_NONE);
        FStepIndex = -1;
        FPlatenAlert = false;
        FBlinkPhase = false;
    }
    ShowStatus(QStringLiteral("Secuencia de captura abortada"));
    SetGuidance(QStringLiteral(" "));
    ShowGuidance(QStringLiteral(" "));
    Send(UM_UPDATE_CONTROLS);
}
