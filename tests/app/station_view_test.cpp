// The desktop's view of the station: text to and from the air's character set, and calls from a
// worker thread reaching the windows in the user-interface thread, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <thread>

#include "app/qt_station_view.h"

namespace kavra::app {
namespace {

TEST(QtStationView, TextCrossesTheCharacterSetBoundaryUnchangedOrIsRefused) {
    const std::string cyrillic_1251 = "\xcf\xf0\xe8\xe2\xe5\xf2";  // "Привет"
    EXPECT_EQ(QtStationView::FromAir(cyrillic_1251), QString::fromUtf8("Привет"));
    EXPECT_EQ(QtStationView::ToAir(QString::fromUtf8("Привет")), cyrillic_1251);
    EXPECT_FALSE(QtStationView::ToAir(QString::fromUtf8("日本")).has_value());  // 1251 cannot hold it
}

TEST(QtStationView, WorkerCallsArriveInTheUserInterfaceThreadInOrder) {
    QtStationView view;
    std::vector<QString> seen;
    bool wrong_thread = false;
    QObject::connect(&view, &QtStationView::logAppended, &view,
                     [&](int, const QString& text) {
                         wrong_thread |= QThread::currentThread() != view.thread();
                         seen.push_back(text);
                     },
                     Qt::QueuedConnection);
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) view.AppendLog(link::LogKind::System, "line " + std::to_string(i));
    });
    worker.join();
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], QString("line %1").arg(i));
    EXPECT_FALSE(wrong_thread);
}

}  // namespace
}  // namespace kavra::app
