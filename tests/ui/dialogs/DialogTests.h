#pragma once

#include <QObject>

#include <memory>

namespace ov::test {

std::unique_ptr<QObject> makeOptionsTest();
std::unique_ptr<QObject> makeLogViewerTest();
std::unique_ptr<QObject> makeAboutTest();
std::unique_ptr<QObject> makeOpenLinkTest();
std::unique_ptr<QObject> makeMenuTest();

} // namespace ov::test
