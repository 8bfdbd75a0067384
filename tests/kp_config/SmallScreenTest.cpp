// kp_config's main window on a 1280 x 900 screen scaled by 1.5, where its first-run size does
// not fit. The scale and the screen are chosen before the toolkit starts: CTest runs this
// program with them (tests/kp_config/CMakeLists.txt).

#include "AppFixture.h"

#include <QScreen>
#include <QStyle>

using namespace apptest;

namespace {

TEST_F(AppTest, MainWindowOnASmallScaledScreenKeepsItsTitleBarOnTheScreen) {
    CMainFrame& frame = Launch();
    const QRect area = frame.screen()->availableGeometry();
    ASSERT_EQ(area.size(), QSize(853, 600)) << "not the 1280 x 900 screen at 1.5";
    // The window fills the area, frame included, and keeps room for a title bar above it even
    // where the window system frames the window only after it shows.
    EXPECT_TRUE(area.contains(frame.frameGeometry())) << frame.frameGeometry().top();
    const int titleBar = frame.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &frame);
    EXPECT_GE(frame.geometry().top() - area.top(), titleBar);
    EXPECT_GT(frame.geometry().height(), area.height() / 2);
}

} // namespace
