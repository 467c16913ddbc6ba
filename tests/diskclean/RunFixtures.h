#pragma once

// What the free-space run tests share: a view that remembers what the run showed, and
// the run pointed at a real mount point.
#include "diskclean/FreeSpaceRun.h"
#include "platform/LinuxVolumes.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
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
    void showUnreached(const QStringList& lines) override { unreached = lines; }

    QByteArray designator;
    QString status, cleaned, left;
    QStringList statusHistory;
    std::vector<bool> stackHistory;
    bool stopInFront = false, startEnabled = true, driveListEnabled = true;
    std::vector<int> reportSteps;
    QStringList reports;
    QStringList unreached;
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

    RecordingRunner loop;
    LinuxVolumes volumes{loop};
    CDriveInfo info{volumes};
    RecordingView view;
    Settings settings;
    StopChannel stop;
    FreeSpaceRun run{info, view, loop, stop, settings, nullptr};
};

// Flushes a whole volume, so that freed blocks are free on the disk too.
inline void syncVolume(const QByteArray& mountPoint)
{
    const int fd = ::open(mountPoint.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::syncfs(fd), 0);
    ::close(fd);
}

// What a recovery tool would look for: a line no filler contains.
inline const QByteArray kMarker = "<OV~forensic~marker~7Qz!k3#Pw9>\n";

} // namespace ov::test
