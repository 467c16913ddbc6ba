#pragma once

#include "diskclean/FreeSpaceRun.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace ov::test {

// Stands in for the panel: remembers what the run showed, in order.
class RecordingView : public FreeSpaceView
{
public:
    QByteArray driveDesignator() const override { return designator; }
    void setStatusText(const QString& text) override
    {
        status = text;
        statusHistory << text;
    }
    void setCleanedText(const QString& text) override
    {
        cleaned = text;
        ++cleanedUpdates;
    }
    void setLeftText(const QString& text) override
    {
        left = text;
        ++leftUpdates;
    }
    void setStopInFront(bool front) override
    {
        stopInFront = front;
        stackHistory.push_back(front);
    }
    void setStartEnabled(bool enabled) override
    {
        startEnabled = enabled;
        startHistory.push_back(enabled);
    }
    void setDriveListEnabled(bool enabled) override { driveListEnabled = enabled; }
    void showErrorReport(int step, const QString& text) override
    {
        reportSteps.push_back(step);
        reports << text;
        if (onReport)
            onReport();
    }

    QByteArray designator;
    QString status = QStringLiteral("Ready...");
    QString cleaned = QStringLiteral("0 KB Cleaned");
    QString left = QStringLiteral("0 KB Left to clean");
    QStringList statusHistory;
    int cleanedUpdates = 0;
    int leftUpdates = 0;
    bool stopInFront = false;
    bool startEnabled = true;
    bool driveListEnabled = true;
    std::vector<bool> stackHistory;
    std::vector<bool> startHistory;
    std::vector<int> reportSteps;
    QStringList reports;
    std::function<void()> onReport;
};

} // namespace ov::test
