#pragma once
// Small bitmaps and tool runs shared by the card tests.
#include "dibutils.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

// A grey block of the given size with every pixel set to value (padding bytes stay 0).
inline std::unique_ptr<DibBlock> FilledBlock(int width, int height, uint8_t value) {
    auto block = DibBlock::CreateGrey(width, height);
    for (int r = 0; r < height; ++r)
        std::fill_n(block->StoredRow(r), width, value);
    return block;
}

inline void WriteBmp(const DibBlock& block, const QString& fileName) {
    ASSERT_TRUE(SaveBmpData(block, fileName, block.Size())) << qPrintable(fileName);
}

inline QByteArray ReadAll(const QString& fileName) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Runs a tool and returns its standard output; empty when it cannot run or fails.
inline QString RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

inline bool HaveTool(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}
