// The main dialog on a 1280 x 900 screen scaled by 1.5, where its designed size does not fit.
// The scale and the screen are set before the toolkit starts, so this program has its own main.

#include "ClancfgDlg.h"
#include "ControlIds.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(LancfgGuiSmallScreen, DialogFitsTheScreenAndTheListTakesTheRoomWhenResized) {
    QTemporaryDir programDir;
    ClancfgDlg dialog(programDir.path());
    const DialogBaseUnits units{QFontMetrics(dialog.font())};
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(area.size(), QSize(853, 600)); // 1280 x 900 at 1.5
    ASSERT_GT(units.ToPixelsX(494), area.width()) << "the designed size would fit anyway";

    dialog.show(); // no device answers in this test's own network
    EXPECT_TRUE(area.contains(dialog.frameGeometry())) << dialog.frameGeometry().width();
    auto* list = FindControl<QTableWidget>(dialog, IdDeviceList);
    for (int id : {int(IdDeviceList), int(IdOk), int(IdRefreshList), int(IdChangeIpSettings),
                   int(IdUpdateFirmware)})
        EXPECT_TRUE(dialog.rect().contains(FindControl<QWidget>(dialog, id)->geometry())) << id;

    // Made smaller by the user, the list gives up the room and the buttons keep their place
    // below it.
    const QSize listBefore = list->size();
    auto* close = FindControl<QPushButton>(dialog, IdOk);
    const int closeFromBottom = dialog.height() - close->geometry().top();
    dialog.resize(dialog.size() - QSize(100, 80));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->size() == listBefore - QSize(100, 80); }, 2000))
        << list->width() << "x" << list->height();
    EXPECT_EQ(dialog.height() - close->geometry().top(), closeFromBottom);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "1.5");
    qputenv("QT_QPA_PLATFORM",
            "offscreen:configfile=" VK_SOURCE_DIR "/tests/lancfg_gui/SmallScreen.json");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
