#pragma once
// The splash window: borderless and black, centred, showing the station's picture while the
// program starts. The picture is a JPEG stored with the program and decoded with libjpeg.
#include <QImage>
#include <QLabel>
#include <QWidget>

class TFSplash : public QWidget {
    Q_OBJECT
  public:
    explicit TFSplash(QWidget* parent = nullptr);
    QLabel* Image1;
};

// Decodes a JPEG held in memory to an RGB image; a null image when it is not a JPEG.
QImage DecodeJpeg(const QByteArray& data);

extern TFSplash* FSplash;
