#pragma once

#include "diskclean/FreeSpaceRun.h"
#include "platform/LinuxVolumes.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace ov::test {

// Stands in for the panel: remembers what the run showed.
class RecordingView : public FreeSpaceView
{
public:
    QByteArray driveDesignator() const override { return designator; }
    void setStatusText(const QString& text) override { statusHistory << (status = text); }
    void setCleanedText(const QString& text) override { cleaned = text; }
    void setLeftText(const QString& text) override { left = text; }
    void setStopInFront(bool front) override { stackHistory.push_back(stopInFront = front); }
    void setStartEnabled(bool enabled) override { startEnabled = enabled; }
    void setDriveListEnabled(bool enabled) override { driveListEnabled = enabled; }
    void showErrorReport(int step, const QString& text) override
    {
        reportSteps.push_back(step);
        reports << text;
    }

    QByteArray designator;
    QString status, cleaned, left;
    QStringList statusHistory;
    std::vector<bool> stackHistory;
    bool stopInFront = false;
    bool startEnabled = true;
    bool driveListEnabled = true;
    std::vector<int> reportSteps;
    QStringList reports;
};

// The run with the real volume queries, pointed at one mount point.
struct RealRun
{
    explicit RealRun(const QByteArray& mountPoint)
    {
        info.setRootPath(mountPoint);
        view.designator = mountPoint;
    }
    QByteArray tempFile(int index = 0) const
    {
        return view.designator + "/" + FreeSpaceRun::tempFileName(index);
    }
    // Ended as asked, nothing reported, the controls back, no temporary file left.
    void expectCleanEnd(FreeSpaceRun::Outcome outcome)
    {
        EXPECT_TRUE(view.reports.isEmpty()) << view.reports.join("|").toStdString();
        EXPECT_EQ(run.lastOutcome(), outcome);
        EXPECT_EQ(view.status, "Done");
        EXPECT_FALSE(view.stopInFront);
        EXPECT_TRUE(view.driveListEnabled);
        for (int index = 0; index < 8; ++index)
            EXPECT_FALSE(exists(tempFile(index))) << index;
    }

    RecordingLoop loop;
    LinuxVolumes volumes{loop};
    CDriveInfo info{volumes};
    RecordingView view;
    Settings settings;
    FreeSpaceRun run{info, view, loop, settings, nullptr};
};

} // namespace ov::test
