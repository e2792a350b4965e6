// The About box's contact label: navy at rest, red under the pointer.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QTest>

#include "app/about_box.h"

namespace kavra::app {
namespace {

TEST(AboutBox, ContactLabelTurnsRedUnderThePointerAndNavyAfter) {
    TAboutBox box(nullptr);
    ContactLabel* label = box.Label1();
    EXPECT_EQ(label->TextColour(), QColor(0, 0, 128));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(label, &enter);
    EXPECT_EQ(label->TextColour(), QColor(255, 0, 0));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(label, &leave);
    EXPECT_EQ(label->TextColour(), QColor(0, 0, 128));
    EXPECT_TRUE(label->text().contains(TAboutBox::ContactAddress()));
}

}  // namespace
}  // namespace kavra::app
