#include <gtest/gtest.h>

#include "services/TlsLibrary.h"

#ifdef ZK_TEST_GUI
#include "web/WebSchemes.h"

#include <QApplication>
using App = QApplication;
#else
#include <QCoreApplication>
using App = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    TlsLibrary::leaveCleanupToTheSystem(); // as the application does
    ::testing::InitGoogleTest(&argc, argv);
#ifdef ZK_TEST_GUI
    WebSchemes::registerAll();
#endif
    App app(argc, argv);
    return RUN_ALL_TESTS();
}
